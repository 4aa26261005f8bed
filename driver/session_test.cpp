// Sessions, identity, statuses, the error queue, automatic error query, transactions and faults of the
// instrument, against simulated instruments on a bench of each test's own.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driver/pgxgen.h"
#include "driver/testing/bench.h"

namespace pgx::driver {
namespace {

using testing::Bench;
using testing::Session;
using testing::Trace;

const std::vector<testing::Instrument> kBench = {
    {"VXI0::32::INSTR", {"M4040A", "M4040A"}},
    {"GPIB0::10::INSTR", {"Q510A"}},
    {"GPIB0::22::INSTR", {}, "", "digital-multimeter"},
};

class SessionTest : public ::testing::Test {
 protected:
  Bench bench_{kBench};
};

TEST_F(SessionTest, OpensFamilyMembersAndRefusesOthers) {
  Session vxi("VXI0::32::INSTR");
  ASSERT_EQ(vxi.status(), VI_SUCCESS);
  EXPECT_NE(vxi.vi(), VI_NULL);
  Session gpib("GPIB0::10::INSTR");
  ASSERT_EQ(gpib.status(), VI_SUCCESS);
  EXPECT_NE(gpib.vi(), vxi.vi());

  ViSession vi = 1234;
  EXPECT_EQ(pgxgen_init("GPIB0::22::INSTR", VI_TRUE, VI_FALSE, &vi), PGXGEN_ERROR_FAIL_ID_QUERY);
  EXPECT_EQ(vi, VI_NULL);
  // Without the identity check any instrument opens.
  Session dmm("GPIB0::22::INSTR", VI_FALSE);
  EXPECT_EQ(dmm.status(), VI_SUCCESS);

  EXPECT_LT(pgxgen_init("GPIB0::5::INSTR", VI_TRUE, VI_FALSE, &vi), VI_SUCCESS);
  EXPECT_EQ(vi, VI_NULL);
}

TEST_F(SessionTest, UnknownAndClosedSessionsAreInvalidObjects) {
  ViSession vi = VI_NULL;
  ASSERT_EQ(pgxgen_init("GPIB0::10::INSTR", VI_TRUE, VI_FALSE, &vi), VI_SUCCESS);
  ASSERT_EQ(pgxgen_close(vi), VI_SUCCESS);
  for (ViSession bad : {vi, ViSession{0}, ViSession{0xDEADBEEF}}) {
    ViReal64 value = 0;
    ViChar text[256];
    EXPECT_EQ(pgxgen_close(bad), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(pgxgen_cmd(bad, "*RST"), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(pgxgen_timeWidth_Q(bad, 1, &value), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(pgxgen_cmdString_Q(bad, "*IDN?", 256, text), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(pgxgen_transactionStart(bad), VI_ERROR_INV_OBJECT);
  }
  // A message for any status also without a session.
  ViChar text[256];
  EXPECT_EQ(pgxgen_error_message(VI_NULL, PGXGEN_ERROR_INSTRUMENT, text), VI_SUCCESS);
  EXPECT_STRNE(text, "");
}

TEST_F(SessionTest, ResetRestoresSettings) {
  Session s("GPIB0::10::INSTR", VI_TRUE, VI_TRUE);
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 20e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_reset(s), VI_SUCCESS);
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 100e-9);
}

TEST_F(SessionTest, RevisionSelfTestAndTimeOut) {
  Session s("VXI0::32::INSTR");
  ViChar driver[256], instrument[256];
  ASSERT_EQ(pgxgen_revision_query(s, driver, instrument), VI_SUCCESS);
  EXPECT_EQ(std::strncmp(driver, "pgxgen ", 7), 0) << driver;
  EXPECT_STRNE(instrument, "");

  ViInt16 result = -1;
  ViChar message[256];
  ASSERT_EQ(pgxgen_self_test(s, &result, message), VI_SUCCESS);
  EXPECT_EQ(result, 0);
  EXPECT_STREQ(message, "Self-test passed.");

  ASSERT_EQ(pgxgen_timeOut(s, 1234), VI_SUCCESS);
  ViInt32 timeout = 0;
  ASSERT_EQ(pgxgen_timeOut_Q(s, &timeout), VI_SUCCESS);
  EXPECT_EQ(timeout, 1234);
  EXPECT_EQ(pgxgen_timeOut(s, -1), PGXGEN_ERROR_PARAMETER2);

  ViBoolean complete = VI_FALSE;
  ASSERT_EQ(pgxgen_opc_Q(s, &complete), VI_SUCCESS);
  EXPECT_EQ(complete, VI_TRUE);
}

}  // namespace
}  // namespace pgx::driver
