#include "automation/apartment.h"

#include <gtest/gtest.h>

#include <thread>

namespace pgx::auto_ {
namespace {

// The apartment of this thread as CoGetApartmentType reports it: APTTYPE_CURRENT for none.
APTTYPE Current() {
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  HRESULT hr = CoGetApartmentType(&type, &qualifier);
  EXPECT_EQ(hr == CO_E_NOTINITIALIZED, type == APTTYPE_CURRENT);
  return type;
}

// One thread's life: each step is a call and what it answers, then the apartment the thread is in.
TEST(ApartmentTest, InitialisationCountsPerThreadAndKeepsItsKind) {
  enum Call { kInit, kInitSta, kInitMta, kInitBadFlags, kUninit };
  struct Step {
    Call call;
    HRESULT hr;  // for kUninit: unused
    APTTYPE after;
  } steps[] = {
      {kUninit, S_OK, APTTYPE_CURRENT},  // without a matching call it does nothing
      {kInit, S_OK, APTTYPE_STA},
      {kInitSta, S_FALSE, APTTYPE_STA},
      {kInitMta, RPC_E_CHANGED_MODE, APTTYPE_STA},  // refused, and not counted
      {kInitBadFlags, E_INVALIDARG, APTTYPE_STA},
      {kUninit, S_OK, APTTYPE_STA},
      {kUninit, S_OK, APTTYPE_CURRENT},  // two successful calls, two balancing ones
      {kInitMta, S_OK, APTTYPE_MTA},     // a thread may change its kind once it left its apartment
      {kInit, RPC_E_CHANGED_MODE, APTTYPE_MTA},
      {kInitMta, S_FALSE, APTTYPE_MTA},
      {kUninit, S_OK, APTTYPE_MTA},
      {kUninit, S_OK, APTTYPE_CURRENT},
  };
  int index = 0;
  for (const Step& step : steps) {
    switch (step.call) {
      case kInit:
        EXPECT_EQ(CoInitialize(nullptr), step.hr) << index;
        break;
      case kInitSta:
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), step.hr)
            << index;
        break;
      case kInitMta:
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), step.hr) << index;
        break;
      case kInitBadFlags:
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | 0x100), step.hr) << index;
        break;
      case kUninit:
        CoUninitialize();
        break;
    }
    EXPECT_EQ(Current(), step.after) << index;
    EXPECT_EQ(IsThreadInApartment(), step.after != APTTYPE_CURRENT) << index;
    ++index;
  }
}

TEST(ApartmentTest, EachThreadHasItsOwn) {
  ApartmentScope main_thread(COINIT_APARTMENTTHREADED);
  ASSERT_EQ(main_thread.status(), S_OK);
  std::thread other([] {
    EXPECT_EQ(Current(), APTTYPE_CURRENT);  // the main thread's apartment is not this thread's
    {
      ApartmentScope mta(COINIT_MULTITHREADED);
      EXPECT_EQ(mta.status(), S_OK);  // no conflict with the other thread's kind
      ApartmentScope nested(COINIT_MULTITHREADED);
      EXPECT_EQ(nested.status(), S_FALSE);
      ApartmentScope refused(COINIT_APARTMENTTHREADED);
      EXPECT_EQ(refused.status(), RPC_E_CHANGED_MODE);
      EXPECT_EQ(Current(), APTTYPE_MTA);
    }
    EXPECT_EQ(Current(), APTTYPE_CURRENT);  // the scopes balanced what they took, and only that
  });
  other.join();
  EXPECT_EQ(Current(), APTTYPE_STA);
  APTTYPE type;
  EXPECT_EQ(CoGetApartmentType(&type, nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace pgx::auto_
