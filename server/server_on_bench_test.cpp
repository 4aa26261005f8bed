// The server as a script uses it: created by ProgID through the registry, every member called late-bound by
// name, through the real driver against the simulated instruments of the built-in bench.
#include <gtest/gtest.h>

#include "automation/activation.h"
#include "automation/client.h"
#include "automation/com_error.h"
#include "automation/module.h"
#include "server/testing/on_bench.h"

namespace {

using pgx::auto_::com_error;
using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;
using namespace pgx::server::testing;

constexpr LONG kBurst = 1;  // PgxPulseModeBurst

class ServerOnBench : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr) >= 0, true);
    root_ = CreateRoot();
    ASSERT_TRUE(root_);
  }
  void TearDown() override {
    root_ = nullptr;
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  DispatchPtr root_;
};

TEST_F(ServerOnBench, FindsTheInstrumentsAndOpensOne) {
  DispatchPtr instruments = Object(root_.InvokeByName(u"Instruments", kGet));
  Variant count = instruments.InvokeByName(u"Count", kGet);
  ASSERT_EQ(count.vt, VT_I4);
  EXPECT_GE(count.lVal, 2);
  DispatchPtr first = Object(instruments.InvokeByName(u"Item", kGet, {Variant(LONG{1})}));
  Variant name = first.InvokeByName(u"Name", kGet);
  DispatchPtr by_name = Object(instruments.InvokeByName(u"Item", kGet, {name}));
  EXPECT_EQ(first.GetInterfacePtr(), by_name.GetInterfacePtr());

  Variant opened = first.InvokeByName(u"Open", kGet, {Variant(true)});
  EXPECT_EQ(opened.boolVal, VARIANT_TRUE);
  Variant id = first.InvokeByName(u"IdString", kGet);
  EXPECT_NE(std::u16string_view(id.bstrVal).find(u","), std::u16string_view::npos);
  DispatchPtr channels = Object(first.InvokeByName(u"Channels", kGet));
  EXPECT_GE(channels.InvokeByName(u"Count", kGet).lVal, 1);
  DispatchPtr channel = Object(channels.InvokeByName(u"Item", kGet, {Variant(LONG{1})}));
  EXPECT_EQ(channel.InvokeByName(u"Number", kGet).lVal, 1);

  first.InvokeByName(u"Frequency", DISPATCH_PROPERTYPUT, {Variant(2e6)});
  EXPECT_DOUBLE_EQ(first.InvokeByName(u"Frequency", kGet).dblVal, 2e6);
  Variant version = first.InvokeByName(u"Version", kGet, {Variant(LONG{4})});
  EXPECT_NE(std::u16string_view(version.bstrVal).find(u"File Version: \n"), std::u16string_view::npos);
  first.InvokeByName(u"Close", kCall);
}

// The M4010A has no pattern memory: its pulse mode is still read and set, without asking for a pattern mode.
TEST_F(ServerOnBench, PulseModeOnAModelWithoutPatternMemory) {
  DispatchPtr instruments = Object(root_.InvokeByName(u"Instruments", kGet));
  DispatchPtr m4010 = Object(instruments.InvokeByName(u"Item", kGet, {Variant(u"VXI0::8::INSTR")}));
  ASSERT_EQ(m4010.InvokeByName(u"Open", kGet, {Variant(true), Variant(false), Variant(true)}).boolVal,
            VARIANT_TRUE);
  LONG length = 5;
  Variant by_ref;
  by_ref.vt = VT_BYREF | VT_I4;
  by_ref.plVal = &length;
  m4010.InvokeByName(u"PulseMode", DISPATCH_PROPERTYPUT, {by_ref, Variant(LONG{kBurst})});
  length = 0;
  Variant mode = m4010.InvokeByName(u"PulseMode", kGet, {by_ref});
  EXPECT_EQ(mode.lVal, kBurst);
  EXPECT_EQ(length, 5);
  try {
    m4010.InvokeByName(u"PulseMode", DISPATCH_PROPERTYPUT, {by_ref, Variant(LONG{2})});
    FAIL() << "pattern mode on a model without pattern memory";
  } catch (const com_error& e) {
    EXPECT_EQ(e.Error(), static_cast<HRESULT>(0x80040467));
  }
}

TEST_F(ServerOnBench, AFailureCarriesTheDriversMessage) {
  DispatchPtr instruments = Object(root_.InvokeByName(u"Instruments", kGet));
  DispatchPtr first = Object(instruments.InvokeByName(u"Item", kGet, {Variant(LONG{1})}));
  try {
    first.InvokeByName(u"Frequency", kGet);  // not open
    FAIL() << "a closed instrument answered";
  } catch (const com_error& e) {
    EXPECT_EQ(e.Error(), static_cast<HRESULT>(0x8004046C));
    EXPECT_EQ(e.Description().find(u"The PNP driver or Visa library returned an error\n"), 0u) << e.what();
  }
}

TEST_F(ServerOnBench, ReleasingEverythingLeavesNoObject) {
  {
    DispatchPtr instruments = Object(root_.InvokeByName(u"Instruments", kGet));
    DispatchPtr first = Object(instruments.InvokeByName(u"Item", kGet, {Variant(LONG{1})}));
    first.InvokeByName(u"Open", kGet);
    DispatchPtr channel =
        Object(Object(first.InvokeByName(u"Channels", kGet)).InvokeByName(u"Item", kGet, {Variant(LONG{1})}));
    root_ = nullptr;
    instruments = nullptr;
    first = nullptr;
    // The channel alone keeps its instrument and its session.
    EXPECT_EQ(channel.InvokeByName(u"Number", kGet).lVal, 1);
    DispatchPtr parent = Object(channel.InvokeByName(u"Parent", kGet));
    EXPECT_EQ(parent.InvokeByName(u"IsOpen", kGet).boolVal, VARIANT_TRUE);
  }
  CoFreeUnusedLibrariesEx(0, 0);  // at once: nothing of the module runs any more
  EXPECT_FALSE(pgx::auto_::IsServerModuleLoaded(PGXSRV_MODULE));
}

}  // namespace
