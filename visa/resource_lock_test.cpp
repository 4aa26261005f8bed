// Locks of one resource across sessions and threads of the process (viLock, viUnlock, and viOpen with an
// exclusive lock).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "visa/testing/default_bench_test.h"
#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using namespace std::chrono_literals;
using testing::query;
using testing::ResourceManager;

class VisaLocks : public testing::DefaultBenchTest {
 protected:
  static ViAccessMode state(ViSession vi) {
    ViAccessMode mode = 99;
    viGetAttribute(vi, VI_ATTR_RSRC_LOCK_STATE, &mode);
    return mode;
  }
  static bool can_talk(ViSession vi) { return testing::write_text(vi, "*CLS\n") == VI_SUCCESS; }
};

TEST_F(VisaLocks, AnExclusiveLockNestsAndKeepsOthersOutUntilTheLastUnlock) {
  ViSession a = open("GPIB0::12::INSTR"), b = open("GPIB0::12::INSTR");
  char key[VI_FIND_BUFLEN] = "untouched";
  EXPECT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, VI_NULL, key), VI_SUCCESS);
  EXPECT_STREQ(key, "");  // an exclusive lock has no key
  EXPECT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS_NESTED_EXCLUSIVE);
  EXPECT_EQ(state(b), static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK));
  EXPECT_TRUE(can_talk(a));
  EXPECT_FALSE(can_talk(b));
  EXPECT_EQ(viLock(b, VI_EXCLUSIVE_LOCK, 50, VI_NULL, VI_NULL), VI_ERROR_TMO);
  EXPECT_EQ(viLock(b, VI_SHARED_LOCK, 0, VI_NULL, key), VI_ERROR_TMO);
  EXPECT_EQ(viUnlock(b), VI_ERROR_SESN_NLOCKED);
  EXPECT_EQ(viUnlock(a), VI_SUCCESS_NESTED_EXCLUSIVE);
  EXPECT_FALSE(can_talk(b));
  EXPECT_EQ(viUnlock(a), VI_SUCCESS);
  EXPECT_TRUE(can_talk(b));
  EXPECT_EQ(state(a), static_cast<ViAccessMode>(VI_NO_LOCK));
  EXPECT_EQ(viUnlock(a), VI_ERROR_SESN_NLOCKED);
  EXPECT_EQ(viLock(a, 3, 0, VI_NULL, VI_NULL), VI_ERROR_INV_LOCK_TYPE);
  EXPECT_EQ(viLock(rm, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_ERROR_NSUP_OPER);
}

TEST_F(VisaLocks, ASharedLockAdmitsTheSessionsThatHaveItsKey) {
  ViSession a = open("VXI0::24::INSTR"), b = open("VXI0::24::INSTR"), c = open("vxi::24");
  char key[VI_FIND_BUFLEN] = "";
  ASSERT_EQ(viLock(a, VI_SHARED_LOCK, 0, VI_NULL, key), VI_SUCCESS);
  EXPECT_GT(std::strlen(key), 0u);  // a key made up for the lock
  EXPECT_EQ(state(c), static_cast<ViAccessMode>(VI_SHARED_LOCK));
  EXPECT_FALSE(can_talk(b));  // no lock of its own: kept out
  char other[VI_FIND_BUFLEN] = "";
  EXPECT_EQ(viLock(b, VI_SHARED_LOCK, 0, "another key", other), VI_ERROR_TMO);
  ASSERT_EQ(viLock(b, VI_SHARED_LOCK, 0, key, other), VI_SUCCESS);
  EXPECT_STREQ(other, key);
  EXPECT_TRUE(can_talk(a));
  EXPECT_TRUE(can_talk(b));
  EXPECT_FALSE(can_talk(c));
  // An exclusive lock waits for the other holders of the shared one.
  EXPECT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_ERROR_TMO);
  ASSERT_EQ(viUnlock(b), VI_SUCCESS);
  EXPECT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS);
  EXPECT_EQ(viLock(a, VI_SHARED_LOCK, 0, VI_NULL, other), VI_SUCCESS_NESTED_SHARED);
  EXPECT_EQ(state(c), static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK));
  // Unlocked the last taken first.
  EXPECT_EQ(viUnlock(a), VI_SUCCESS_NESTED_EXCLUSIVE);
  EXPECT_EQ(viUnlock(a), VI_SUCCESS_NESTED_SHARED);
  EXPECT_EQ(state(c), static_cast<ViAccessMode>(VI_SHARED_LOCK));
  EXPECT_EQ(viUnlock(a), VI_SUCCESS);
  EXPECT_TRUE(can_talk(c));
}

TEST_F(VisaLocks, EverySpellingOfTheResourceSharesItsLock) {
  ViSession a = open("GPIB0::11::INSTR"), b = open("GPIB0::11::0::INSTR");
  ASSERT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS);
  EXPECT_FALSE(can_talk(b));
  ASSERT_EQ(viClose(a), VI_SUCCESS);  // closing gives back every lock of the session
  EXPECT_TRUE(can_talk(b));
}

TEST_F(VisaLocks, ALockIsHandedOnToTheThreadThatWaitsForIt) {
  ViSession a = open("GPIB0::13::INSTR"), b = open("GPIB0::13::INSTR");
  ASSERT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS);
  std::atomic<ViStatus> waited{1};
  std::thread waiter([&] { waited = viLock(b, VI_EXCLUSIVE_LOCK, 5000, VI_NULL, VI_NULL); });
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(waited, 1);  // still waiting
  ASSERT_EQ(viUnlock(a), VI_SUCCESS);
  waiter.join();
  EXPECT_EQ(waited, VI_SUCCESS);
  EXPECT_FALSE(can_talk(a));
  EXPECT_TRUE(can_talk(b));
}

TEST_F(VisaLocks, ThreadsTakingTurnsUnderTheLockEachGetTheirOwnReplies) {
  // Each thread locks, writes a setting and reads it back: with the lock no other thread's write comes
  // between the two.
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 1; t <= 4; ++t) {
    threads.emplace_back([&, t] {
      ViSession vi = VI_NULL;
      if (viOpen(rm, "GPIB0::10::INSTR", VI_NULL, 2500, &vi) != VI_SUCCESS) {
        ++wrong;
        return;
      }
      for (int i = 0; i < 30; ++i) {
        if (viLock(vi, VI_EXCLUSIVE_LOCK, 5000, VI_NULL, VI_NULL) != VI_SUCCESS) ++wrong;
        testing::write_text(vi, ":TRIG:COUN " + std::to_string(t * 100 + i) + "\n");
        if (query(vi, ":TRIG:COUN?\n") != std::to_string(t * 100 + i) + "\n") ++wrong;
        viUnlock(vi);
      }
      viClose(vi);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST_F(VisaLocks, AWaitForALockEndsWhenItsSessionCloses) {
  ViSession a = open("VXI0::32::INSTR"), b = open("VXI0::32::INSTR");
  ASSERT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS);
  std::atomic<ViStatus> waited{1};
  std::thread waiter([&] { waited = viLock(b, VI_EXCLUSIVE_LOCK, VI_TMO_INFINITE, VI_NULL, VI_NULL); });
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(viClose(b), VI_SUCCESS);
  waiter.join();
  EXPECT_EQ(waited, VI_ERROR_INV_OBJECT);
  EXPECT_EQ(state(a), static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK));
}

}  // namespace
}  // namespace pgx::visa
