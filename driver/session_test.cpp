// Sessions, identity, statuses, the error queue, automatic error query, transactions and faults of the
// instrument, against simulated instruments on a bench of each test's own.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
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

class DriverSession : public ::testing::Test {
 protected:
  Bench bench_{kBench};
};

TEST_F(DriverSession, OpensFamilyMembersAndRefusesOthers) {
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

TEST_F(DriverSession, UnknownAndClosedSessionsAreInvalidObjects) {
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

TEST_F(DriverSession, ResetRestoresSettings) {
  Session s("GPIB0::10::INSTR", VI_TRUE, VI_TRUE);
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 20e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_reset(s), VI_SUCCESS);
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 100e-9);
}

TEST_F(DriverSession, RevisionSelfTestAndTimeOut) {
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

TEST_F(DriverSession, ThreadsSharingASessionNeverGetEachOthersAnswers) {
  Session s("VXI0::32::INSTR");
  ASSERT_EQ(s.status(), VI_SUCCESS);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        if (t == 0) {
          ViInt32 count = 0;
          if (pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &count) != VI_SUCCESS || count != 1) ++wrong;
        } else if (t == 1) {
          ViReal64 frequency = 0;
          if (pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency) != VI_SUCCESS || frequency != 1e6) ++wrong;
        } else if (t == 2) {
          ViChar identity[256];
          if (pgxgen_cmdString_Q(s, "*IDN?", sizeof identity, identity) != VI_SUCCESS ||
              std::strncmp(identity, "PGX Instruments,", 16) != 0) {
            ++wrong;
          }
        } else {
          // Other sessions open and close meanwhile.
          Session other("GPIB0::10::INSTR");
          if (other.status() != VI_SUCCESS) ++wrong;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

// ---- Parameter statuses: checked before anything is sent -------------------------------------------

TEST_F(DriverSession, ParameterStatusesNameThePositionAndSendNothing) {
  Session s("VXI0::32::INSTR");
  ASSERT_EQ(s.status(), VI_SUCCESS);
  Trace trace;
  ViReal64 real = 0;
  ViInt16 i16 = 0;
  ViInt32 i32 = 0;
  ViBoolean flag = 0;
  ViChar text[256];
  ViByte bytes[4] = {0, 1, 0, 1};
  const ViByte bad_pattern[2] = {0, 2};
  const struct {
    const char* what;
    ViStatus status;
    ViStatus expected;
  } cases[] = {
      {"cmd NULL", pgxgen_cmd(s, nullptr), PGXGEN_ERROR_PARAMETER2},
      {"cmdReal NaN", pgxgen_cmdReal(s, ":FREQ", std::nan("")), PGXGEN_ERROR_PARAMETER3},
      {"cmdString NULL value", pgxgen_cmdString(s, ":HOLD", nullptr), PGXGEN_ERROR_PARAMETER3},
      {"cmdInt8Arr negative count", pgxgen_cmdInt8Arr(s, ":X", nullptr, -1), PGXGEN_ERROR_PARAMETER4},
      {"cmdInt16_Q NULL", pgxgen_cmdInt16_Q(s, "*STB?", nullptr), PGXGEN_ERROR_PARAMETER3},
      {"cmdString_Q size 0", pgxgen_cmdString_Q(s, "*IDN?", 0, text), PGXGEN_ERROR_PARAMETER3},
      {"cmdString_Q NULL buffer", pgxgen_cmdString_Q(s, "*IDN?", 10, nullptr), PGXGEN_ERROR_PARAMETER4},
      {"cmdInt8Arr_Q NULL count", pgxgen_cmdInt8Arr_Q(s, ":X?", 4, reinterpret_cast<ViInt8*>(bytes), nullptr),
       PGXGEN_ERROR_PARAMETER5},
      {"channel 0", pgxgen_timeWidth(s, 0, 1e-8), PGXGEN_ERROR_PARAMETER2},
      {"channel 3", pgxgen_timeWidth_Q(s, 3, &real), PGXGEN_ERROR_PARAMETER2},
      {"width infinite", pgxgen_timeWidth(s, 1, HUGE_VAL), PGXGEN_ERROR_PARAMETER3},
      {"width NULL", pgxgen_timeWidth_Q(s, 1, nullptr), PGXGEN_ERROR_PARAMETER3},
      {"width hold 3", pgxgen_timeWidthHold(s, 1, 3), PGXGEN_ERROR_PARAMETER3},
      {"delay hold 0", pgxgen_timeDelayHold(s, 1, 0), PGXGEN_ERROR_PARAMETER3},
      {"pulse type 0", pgxgen_modePulseType(s, 2, 0), PGXGEN_ERROR_PARAMETER3},
      {"delay unit 4", pgxgen_timeDelay(s, 1, 4, 0), PGXGEN_ERROR_PARAMETER3},
      {"double delay unit 2", pgxgen_timeDelayDouble(s, 1, 2, 0), PGXGEN_ERROR_PARAMETER3},
      {"delay value NULL", pgxgen_timeDelay_Q(s, 1, &i16, nullptr), PGXGEN_ERROR_PARAMETER4},
      {"level type 2", pgxgen_levelHighLow(s, 1, 2, 1, 0), PGXGEN_ERROR_PARAMETER3},
      {"level low NaN", pgxgen_levelHighLow(s, 1, 0, 1, std::nan("")), PGXGEN_ERROR_PARAMETER5},
      {"levels NULL low", pgxgen_levelOffsetAmplitude_Q(s, 1, &i16, &real, nullptr), PGXGEN_ERROR_PARAMETER5},
      {"polarity 2", pgxgen_outputPolarity(s, 1, 2), PGXGEN_ERROR_PARAMETER3},
      {"output flag 2", pgxgen_outputStateNormal(s, 1, 2), PGXGEN_ERROR_PARAMETER3},
      {"signal format -1", pgxgen_modePatternDataFormat(s, 1, -1), PGXGEN_ERROR_PARAMETER3},
      {"period source 3", pgxgen_modeContinuousPulses(s, 3, 0), PGXGEN_ERROR_PARAMETER2},
      {"trigger slope 2", pgxgen_modeContinuousPulses(s, 0, 2), PGXGEN_ERROR_PARAMETER3},
      {"arm source 2", pgxgen_modeTriggeredPulses(s, 2, 1), PGXGEN_ERROR_PARAMETER2},
      {"arm slope 4", pgxgen_modeGatedBurst(s, 5, 0, 1, 3, 4), PGXGEN_ERROR_PARAMETER6},
      {"pll format 2", pgxgen_modeTriggeredBurst(s, 5, 0, 1, 1, 1, 2, 1e3), PGXGEN_ERROR_PARAMETER7},
      {"pll value NaN", pgxgen_modeTriggeredPattern(s, 0, 1, 1, 1, 0, std::nan("")), PGXGEN_ERROR_PARAMETER7},
      {"trigger output 3", pgxgen_configTriggerOutLevel(s, 3, 0), PGXGEN_ERROR_PARAMETER2},
      {"trigger level 3", pgxgen_configTriggerOutLevel(s, 0, 3), PGXGEN_ERROR_PARAMETER3},
      {"vxi source 4", pgxgen_outputSourceVxiTrigger(s, 4), PGXGEN_ERROR_PARAMETER2},
      {"vxi line 4", pgxgen_outputEnableVxiTrigger(s, 4), PGXGEN_ERROR_PARAMETER2},
      {"vxi line 16", pgxgen_outputEnableVxiTrigger(s, 16), PGXGEN_ERROR_PARAMETER2},
      {"pll source 3", pgxgen_configPllReference(s, 3, 1e7), PGXGEN_ERROR_PARAMETER2},
      {"pll NULL frequency", pgxgen_configPllReference_Q(s, &i16, nullptr), PGXGEN_ERROR_PARAMETER3},
      {"data channel 4", pgxgen_patternDataDownloadBuffer(s, 4, bytes, 4), PGXGEN_ERROR_PARAMETER2},
      {"data NULL", pgxgen_patternDataDownloadBuffer(s, 1, nullptr, 4), PGXGEN_ERROR_PARAMETER3},
      {"read all channels", pgxgen_patternDataDownloadBuffer_Q(s, 0, bytes, &i32, 4, 0),
       PGXGEN_ERROR_PARAMETER2},
      {"read ascii 2", pgxgen_patternDataDownloadBuffer_Q(s, 1, bytes, &i32, 4, 2), PGXGEN_ERROR_PARAMETER6},
      {"update mode 3", pgxgen_patternUpdate(s, 3), PGXGEN_ERROR_PARAMETER2},
      {"file NULL", pgxgen_settingFile(s, nullptr), PGXGEN_ERROR_PARAMETER2},
      {"self-test NULL text", pgxgen_self_test(s, &i16, nullptr), PGXGEN_ERROR_PARAMETER3},
      {"revision NULL", pgxgen_revision_query(s, nullptr, text), PGXGEN_ERROR_PARAMETER2},
      {"error query NULL code", pgxgen_error_query(s, nullptr, text), PGXGEN_ERROR_PARAMETER2},
      {"error detect 2", pgxgen_errorQueryDetect(s, 2), PGXGEN_ERROR_PARAMETER2},
      {"transaction NULL count", pgxgen_transaction_Q(s, &flag, nullptr), PGXGEN_ERROR_PARAMETER3},
      {"opc NULL", pgxgen_opc_Q(s, nullptr), PGXGEN_ERROR_PARAMETER2},
      // Values beyond what the instrument can do.
      {"burst 1", pgxgen_modeContinuousBurst(s, 1, 0, 1), PGXGEN_ERROR_BURST_COUNT},
      {"burst 65537", pgxgen_modeGatedBurst(s, 65537, 0, 1, 3, 1), PGXGEN_ERROR_BURST_COUNT},
      {"pll period 0", pgxgen_modeTriggeredBurst(s, 5, 0, 1, 1, 1, 0, 0), PGXGEN_ERROR_PLL_FREQUENCY},
      {"pattern data 2", pgxgen_patternDataDownloadBuffer(s, 1, bad_pattern, 2), PGXGEN_ERROR_PATTERN_DATA},
      {"pattern empty", pgxgen_patternDataDownloadBuffer(s, 1, bytes, 0), PGXGEN_ERROR_PATTERN_LENGTH},
      {"prbs 6", pgxgen_patternDataPRBS(s, 1, 6, 100), PGXGEN_ERROR_PRBS_EXPONENT},
      {"prbs length 16385", pgxgen_patternDataPRBS(s, 1, 7, 16385), PGXGEN_ERROR_PATTERN_LENGTH},
      {"memory 10", pgxgen_settingStore(s, 10), PGXGEN_ERROR_MEMORY_NUMBER},
      {"memory -1", pgxgen_settingRecall(s, -1), PGXGEN_ERROR_MEMORY_NUMBER},
  };
  for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
  EXPECT_EQ(Trace::count(trace.take(), "viWrite"), 0);
  (void)real, (void)i32;
}

TEST_F(DriverSession, ErrorMessagesCoverEveryStatus) {
  ViChar text[256];
  for (ViStatus status :
       {VI_SUCCESS, VI_ERROR_TMO, VI_ERROR_CONN_LOST, VI_ERROR_INV_OBJECT, VI_ERROR_RSRC_NFOUND,
        VI_ERROR_MACHINE_NAVAIL, VI_ERROR_NPERMISSION, PGXGEN_ERROR_PARAMETER1, PGXGEN_ERROR_PARAMETER8,
        PGXGEN_ERROR_FAIL_ID_QUERY, PGXGEN_ERROR_INVALID_RESPONSE, PGXGEN_ERROR_INSTRUMENT,
        PGXGEN_ERROR_TRANSACTION_ACTIVE, PGXGEN_ERROR_CHANNEL, PGXGEN_ERROR_PLL_FREQUENCY,
        PGXGEN_WARN_NSUP_REV_QUERY, PGXGEN_WARN_NO_TRANSACTION}) {
    std::memset(text, 0, sizeof text);
    EXPECT_EQ(pgxgen_error_message(VI_NULL, status, text), VI_SUCCESS) << std::hex << status;
    EXPECT_GT(std::strlen(text), 5u) << std::hex << status;
  }
  EXPECT_EQ(pgxgen_error_message(VI_NULL, static_cast<ViStatus>(0xBFFC0D2A), text), VI_WARN_UNKNOWN_STATUS);
  EXPECT_STREQ(text, "Unknown status code 0xBFFC0D2A.");
  EXPECT_EQ(pgxgen_error_message(VI_NULL, VI_SUCCESS, nullptr), PGXGEN_ERROR_PARAMETER3);
}

// ---- Error queue and automatic error query ---------------------------------------------------------

TEST_F(DriverSession, CheckedCallReportsTheInstrumentErrorOnceAndKeepsIt) {
  Session s("VXI0::32::INSTR");
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  ViBoolean on = VI_FALSE;
  ASSERT_EQ(pgxgen_errorQueryDetect_Q(s, &on), VI_SUCCESS);
  EXPECT_EQ(on, VI_TRUE);

  EXPECT_EQ(pgxgen_timeWidth(s, 1, 5.0e3), PGXGEN_ERROR_INSTRUMENT);  // beyond 1000 s
  EXPECT_EQ(pgxgen_timeWidth(s, 1, 20e-9), VI_SUCCESS);               // reported once only
  ViInt32 code = 0;
  ViChar message[256];
  ASSERT_EQ(pgxgen_error_query(s, &code, message), VI_SUCCESS);
  EXPECT_EQ(code, -222);
  EXPECT_STREQ(message, "Data out of range");
  ASSERT_EQ(pgxgen_error_query(s, &code, message), VI_SUCCESS);
  EXPECT_EQ(code, 0);
  EXPECT_STREQ(message, "No error");

  // A reset clears the queue, the entries kept from checks too.
  EXPECT_EQ(pgxgen_timeWidth(s, 1, 5.0e3), PGXGEN_ERROR_INSTRUMENT);
  ASSERT_EQ(pgxgen_reset(s), VI_SUCCESS);
  ASSERT_EQ(pgxgen_error_query(s, &code, message), VI_SUCCESS);
  EXPECT_EQ(code, 0);
}

TEST_F(DriverSession, CheckedCallsCostOneRoundTrip) {
  Session s("VXI0::32::INSTR");
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  Trace trace;
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 20e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 20e-9);
  const std::string io = trace.take();
  EXPECT_EQ(Trace::count(io, "viWrite"), 2) << io;
  EXPECT_EQ(Trace::count(io, "viRead"), 2) << io;
}

TEST_F(DriverSession, CheckedQueryWithACommandErrorReportsIt) {
  Session s("GPIB0::10::INSTR");
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeOut(s, 100), VI_SUCCESS);
  ViReal64 value = 0;
  EXPECT_EQ(pgxgen_cmdReal64_Q(s, ":NOSUCH?", &value), PGXGEN_ERROR_INSTRUMENT);
  ViInt32 code = 0;
  ViChar message[256];
  ASSERT_EQ(pgxgen_error_query(s, &code, message), VI_SUCCESS);
  EXPECT_EQ(code, -113);
  ASSERT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &value), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(value, 1e6);
}

TEST_F(DriverSession, ErrorsReadDuringChecksComeFirstOldestFirst) {
  Bench bench({{"GPIB0::10::INSTR",
                {"Q510A"},
                "{queued-errors: [{code: -100, text: first}, {code: -200, text: second}]}"}});
  Session s("GPIB0::10::INSTR");
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  EXPECT_EQ(pgxgen_timeWidth(s, 1, 20e-9), PGXGEN_ERROR_INSTRUMENT);
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_FALSE), VI_SUCCESS);
  ASSERT_EQ(pgxgen_cmd(s, ":NOSUCH 1"), VI_SUCCESS);  // unchecked: stays in the instrument
  std::vector<std::pair<int, std::string>> entries;
  for (int i = 0; i < 5; ++i) {
    ViInt32 code = 0;
    ViChar message[256];
    ASSERT_EQ(pgxgen_error_query(s, &code, message), VI_SUCCESS);
    entries.emplace_back(code, message);
    if (code == 0) break;
  }
  const std::vector<std::pair<int, std::string>> expected = {
      {-100, "first"}, {-200, "second"}, {-113, "Undefined header"}, {0, "No error"}};
  EXPECT_EQ(entries, expected);
}

// The answer of a checked query is the instrument's answer to it, whatever the status check reads after
// it: here the status byte says that the error queue holds entries, but someone else has read them.
TEST_F(DriverSession, CheckedQueryAnswerSurvivesAnEmptiedErrorQueue) {
  const std::string version(300, 'v');
  Bench bench({{"GPIB0::10::INSTR",
                {"Q510A"},
                "{queued-errors: [{code: -100, text: first}], scripted-replies: {\":SYST:ERR?\": "
                "\"0,\\\"No error\\\"\", \":SYST:VERS?\": \"" +
                    version + "\", \":TRIG:COUN?\": \"42\"}}"}});
  Session s("GPIB0::10::INSTR");
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  for (int round = 0; round < 2; ++round) {
    ViChar text[400];
    ASSERT_EQ(pgxgen_cmdString_Q(s, ":SYST:VERS?", sizeof text, text), VI_SUCCESS);
    EXPECT_EQ(text, version);
    ViInt32 count = 0;
    ASSERT_EQ(pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &count), VI_SUCCESS);
    EXPECT_EQ(count, 42);
    ViReal64 frequency = 0;
    ASSERT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency), VI_SUCCESS);
    EXPECT_EQ(frequency, 1e6);
  }
}

// A raw query is one program message: one with a line feed inside would leave answers behind that later
// queries would take for theirs. It is refused before anything is sent; a line feed in block data is data.
TEST_F(DriverSession, RawQueryWithALineFeedIsRefusedAndLaterAnswersStayInStep) {
  Session s("GPIB0::10::INSTR");
  ASSERT_EQ(s.status(), VI_SUCCESS);
  Trace trace;
  ViChar text[256];
  ViReal64 real = 0;
  ViInt32 i32 = 0;
  ViInt8 block[8];
  EXPECT_EQ(pgxgen_cmdString_Q(s, ":FREQ?\n*IDN?", sizeof text, text), PGXGEN_ERROR_PARAMETER2);
  EXPECT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?\n:FREQ?\n", &real), PGXGEN_ERROR_PARAMETER2);
  EXPECT_EQ(pgxgen_cmdInt32_Q(s, "*OPC?\r\n*OPC?", &i32), PGXGEN_ERROR_PARAMETER2);
  EXPECT_EQ(pgxgen_cmdInt8Arr_Q(s, ":DIG:PATT:DATA1?\n*IDN?", 8, block, &i32), PGXGEN_ERROR_PARAMETER2);
  EXPECT_EQ(Trace::count(trace.take(), "viWrite"), 0);

  ASSERT_EQ(pgxgen_cmdString_Q(s, "*IDN?\n", sizeof text, text), VI_SUCCESS);  // a final terminator is fine
  EXPECT_EQ(std::strncmp(text, "PGX Instruments,", 16), 0) << text;
  ASSERT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &real), VI_SUCCESS);
  EXPECT_EQ(real, 1e6);
}

// A typed answer that cannot be converted clears the device, as a time-out does: the instrument may still
// have more to say about that query.
TEST_F(DriverSession, ConversionFailureClearsTheDevice) {
  Bench bench({{"GPIB0::10::INSTR", {"Q510A"}, "{scripted-replies: {\":TRIG:COUN?\": \"many\"}}"}});
  Session s("GPIB0::10::INSTR");
  ASSERT_EQ(s.status(), VI_SUCCESS);
  for (ViBoolean checked : {VI_FALSE, VI_TRUE}) {
    ASSERT_EQ(pgxgen_errorQueryDetect(s, checked), VI_SUCCESS);
    Trace trace;
    ViInt32 count = 0;
    ViReal64 real = 0;
    EXPECT_EQ(pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &count), PGXGEN_ERROR_INVALID_RESPONSE);
    EXPECT_EQ(pgxgen_cmdInt32_Q(s, ":SYST:VERS?", &count), PGXGEN_ERROR_INVALID_RESPONSE);  // "1999.0"
    std::string io = trace.take();
    EXPECT_EQ(Trace::count(io, "viClear"), 2) << io;
    // Answers that convert need no clear.
    ASSERT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &real), VI_SUCCESS);
    EXPECT_EQ(real, 1e6);
    io = trace.take();
    EXPECT_EQ(Trace::count(io, "viClear"), 0) << io;
  }
}

// ---- Transactions ----------------------------------------------------------------------------------

TEST_F(DriverSession, TransactionIsOneWriteAndAppliesInOrder) {
  Session s("VXI0::32::INSTR");
  Trace trace;
  ASSERT_EQ(pgxgen_transactionStart(s), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 30e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_cmd(s, ":DIG:PATT ON; :TRIG:COUN 2\n"), VI_SUCCESS);
  ASSERT_EQ(pgxgen_cmdReal(s, "PULS:WIDT2", 40e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_cmdInt(s, ":TRIG:COUN", 7), VI_SUCCESS);
  ViBoolean active = VI_FALSE;
  ViInt32 bytes = 0;
  ASSERT_EQ(pgxgen_transaction_Q(s, &active, &bytes), VI_SUCCESS);
  EXPECT_EQ(active, VI_TRUE);
  EXPECT_GT(bytes, 40);
  EXPECT_EQ(Trace::count(trace.take(), "viWrite"), 0);

  ASSERT_EQ(pgxgen_transactionFinish(s), VI_SUCCESS);
  EXPECT_EQ(Trace::count(trace.take(), "viWrite"), 1);
  ASSERT_EQ(pgxgen_transaction_Q(s, &active, &bytes), VI_SUCCESS);
  EXPECT_EQ(active, VI_FALSE);
  EXPECT_EQ(bytes, 0);

  ViReal64 width = 0;
  ViInt32 count = 0;
  ViChar state[8];
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 2, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 40e-9);
  ASSERT_EQ(pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &count), VI_SUCCESS);
  EXPECT_EQ(count, 7);
  ASSERT_EQ(pgxgen_cmdString_Q(s, ":DIG:PATT?", sizeof state, state), VI_SUCCESS);
  EXPECT_STREQ(state, "1");
}

TEST_F(DriverSession, CancelSendsNothingAndSecondStartChangesNothing) {
  Session s("VXI0::32::INSTR");
  Trace trace;
  ASSERT_EQ(pgxgen_transactionStart(s), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 30e-9), VI_SUCCESS);
  ViBoolean active = VI_FALSE;
  ViInt32 before = 0, after = 0;
  ASSERT_EQ(pgxgen_transaction_Q(s, &active, &before), VI_SUCCESS);
  EXPECT_EQ(pgxgen_transactionStart(s), PGXGEN_ERROR_TRANSACTION_ACTIVE);
  ASSERT_EQ(pgxgen_transaction_Q(s, &active, &after), VI_SUCCESS);
  EXPECT_EQ(active, VI_TRUE);
  EXPECT_EQ(after, before);
  ASSERT_EQ(pgxgen_transactionCancel(s), VI_SUCCESS);
  EXPECT_EQ(Trace::count(trace.take(), "viWrite"), 0);
  EXPECT_EQ(pgxgen_transactionCancel(s), PGXGEN_WARN_NO_TRANSACTION);
  EXPECT_EQ(pgxgen_transactionFinish(s), PGXGEN_WARN_NO_TRANSACTION);
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 100e-9);
}

TEST_F(DriverSession, QueryInsideTransactionSeesEarlierSettings) {
  Session s("VXI0::32::INSTR");
  ASSERT_EQ(pgxgen_transactionStart(s), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 30e-9), VI_SUCCESS);
  Trace trace;
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 30e-9);
  EXPECT_EQ(Trace::count(trace.take(), "viWrite"), 1);  // settings and query in one write
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 35e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_transactionFinish(s), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 35e-9);
}

TEST_F(DriverSession, FinishReportsAFailedSettingAndAppliesTheRest) {
  Session s("VXI0::32::INSTR");
  ASSERT_EQ(pgxgen_transactionStart(s), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 5e3), VI_SUCCESS);  // out of range: -222 refuses only this unit
  ASSERT_EQ(pgxgen_timeWidth(s, 2, 30e-9), VI_SUCCESS);
  EXPECT_EQ(pgxgen_transactionFinish(s), PGXGEN_ERROR_INSTRUMENT);
  ViInt32 code = 0;
  ViChar message[256];
  ASSERT_EQ(pgxgen_error_query(s, &code, message), VI_SUCCESS);
  EXPECT_EQ(code, -222);
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 2, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 30e-9);
}

TEST_F(DriverSession, FinishReportsAFailedSettingThatAQuerySentEarly) {
  // A query inside the transaction sends the buffered settings ahead of it; finishing must still tell
  // that one of them failed, with and without the automatic error query.
  struct Case {
    ViBoolean checked;
    ViStatus query;  // the query inside the transaction
    ViStatus finish;
  };
  for (const Case& c : {Case{VI_FALSE, VI_SUCCESS, PGXGEN_ERROR_INSTRUMENT},
                        Case{VI_TRUE, PGXGEN_ERROR_INSTRUMENT, VI_SUCCESS}}) {
    SCOPED_TRACE(c.checked ? "automatic error query" : "no automatic error query");
    Session s("VXI0::32::INSTR", VI_TRUE, VI_TRUE);
    ASSERT_EQ(pgxgen_errorQueryDetect(s, c.checked), VI_SUCCESS);
    ASSERT_EQ(pgxgen_transactionStart(s), VI_SUCCESS);
    ASSERT_EQ(pgxgen_timeWidth(s, 1, 5e3), VI_SUCCESS);  // out of range: -222
    ViReal64 width = 0;
    EXPECT_EQ(pgxgen_timeWidth_Q(s, 2, &width), c.query);
    EXPECT_EQ(pgxgen_transactionFinish(s), c.finish);  // the failure is reported once
    ViInt32 code = 0;
    ViChar message[256];
    ASSERT_EQ(pgxgen_error_query(s, &code, message), VI_SUCCESS);
    EXPECT_EQ(code, -222);
    ASSERT_EQ(pgxgen_error_query(s, &code, message), VI_SUCCESS);
    EXPECT_EQ(code, 0);
    // A transaction whose settings all went out early and succeeded finishes cleanly.
    ASSERT_EQ(pgxgen_transactionStart(s), VI_SUCCESS);
    ASSERT_EQ(pgxgen_timeWidth(s, 1, 30e-9), VI_SUCCESS);
    EXPECT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
    EXPECT_EQ(pgxgen_transactionFinish(s), VI_SUCCESS);
  }
}

TEST_F(DriverSession, ClosingDiscardsAnActiveTransaction) {
  {
    Session s("VXI0::32::INSTR");
    ASSERT_EQ(pgxgen_transactionStart(s), VI_SUCCESS);
    ASSERT_EQ(pgxgen_timeWidth(s, 1, 30e-9), VI_SUCCESS);
  }
  Session s("VXI0::32::INSTR");
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 100e-9);
}

// ---- Raw commands ----------------------------------------------------------------------------------

TEST_F(DriverSession, RawQueriesParseStrictlyAndBoundTheirBuffers) {
  const std::string long_answer(300, 'x');
  Bench bench(
      {{"GPIB0::10::INSTR",
        {"Q530A", "Q530A"},
        "{scripted-replies: {\":TRIG:COUN?\": \"65535\", \":TRIG:LEV?\": \"-1\", \":ARM:LEV?\": \"1.5\", "
        "\":ARM:IMP?\": \"12abc\", \":SYST:VERS?\": \"" +
            long_answer +
            "\", "
            "\":DIG:PATT:DATA1?\": \"#15ab\\ncd\", \":DIG:PATT:DATA2?\": \"#9999\"}}"}});
  Session s("GPIB0::10::INSTR");
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ViInt16 i16 = 0;
  ViUInt16 u16 = 0;
  ViInt32 i32 = 0;
  ViUInt32 u32 = 0;
  ViReal64 real = 0;
  EXPECT_EQ(pgxgen_cmdInt16_Q(s, ":TRIG:COUN?", &i16), PGXGEN_ERROR_INVALID_RESPONSE);
  EXPECT_EQ(pgxgen_cmdUInt16_Q(s, ":TRIG:COUN?", &u16), VI_SUCCESS);
  EXPECT_EQ(u16, 65535);
  EXPECT_EQ(pgxgen_cmdInt16_Q(s, ":TRIG:LEV?", &i16), VI_SUCCESS);
  EXPECT_EQ(i16, -1);
  EXPECT_EQ(pgxgen_cmdUInt32_Q(s, ":TRIG:LEV?", &u32), PGXGEN_ERROR_INVALID_RESPONSE);
  EXPECT_EQ(pgxgen_cmdInt32_Q(s, ":ARM:LEV?", &i32), PGXGEN_ERROR_INVALID_RESPONSE);
  EXPECT_EQ(pgxgen_cmdReal64_Q(s, ":ARM:LEV?", &real), VI_SUCCESS);
  EXPECT_EQ(real, 1.5);
  real = 7;
  EXPECT_EQ(pgxgen_cmdReal64_Q(s, ":ARM:IMP?", &real), PGXGEN_ERROR_INVALID_RESPONSE);
  EXPECT_EQ(real, 7);  // never a garbage value

  ViChar buffer[260];
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(pgxgen_cmdString_Q(s, ":SYST:VERS?", 256, buffer), VI_SUCCESS);
  EXPECT_EQ(std::strlen(buffer), 255u);
  EXPECT_EQ(buffer[256], '#');

  ViInt8 block[8];
  ViInt32 count = 0;
  ASSERT_EQ(pgxgen_cmdInt8Arr_Q(s, ":DIG:PATT:DATA1?", 3, block, &count), VI_SUCCESS);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 3), "ab\n");
  ASSERT_EQ(pgxgen_cmdInt8Arr_Q(s, ":DIG:PATT:DATA1?", 8, block, &count), VI_SUCCESS);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(pgxgen_cmdInt8Arr_Q(s, ":DIG:PATT:DATA2?", 8, block, &count), PGXGEN_ERROR_INVALID_RESPONSE);
  ViBoolean complete = VI_FALSE;
  EXPECT_EQ(pgxgen_opc_Q(s, &complete), VI_SUCCESS);
}

TEST_F(DriverSession, RawSettersSendHeaderBlankAndValue) {
  Session s("VXI0::32::INSTR");
  Trace trace;
  ASSERT_EQ(pgxgen_cmdReal(s, ":PULS:WIDT1", 1.0 / 3.0 * 1e-7), VI_SUCCESS);
  ASSERT_EQ(pgxgen_cmdInt(s, ":TRIG:COUN", -1), VI_SUCCESS);
  ASSERT_EQ(pgxgen_cmdUInt(s, ":TRIG:COUN", 4000000000u), VI_SUCCESS);
  ASSERT_EQ(pgxgen_cmdString(s, ":HOLD", "CURR"), VI_SUCCESS);
  const ViInt8 data[3] = {1, 0, 1};
  ASSERT_EQ(pgxgen_cmdInt8Arr(s, ":DIG:PATT:DATA1", data, 3), VI_SUCCESS);
  const std::string io = trace.take();
  for (const char* sent : {":PULS:WIDT1 3.33333333333333", ":TRIG:COUN -1", ":TRIG:COUN 4000000000",
                           ":HOLD CURR", ":DIG:PATT:DATA1 #13"}) {
    EXPECT_NE(io.find(sent), std::string::npos) << sent << "\n" << io;
  }
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 1.0 / 3.0 * 1e-7);
}

// ---- Faults of the instrument ----------------------------------------------------------------------

TEST_F(DriverSession, GarbageAnswerIsRefusedAndTheSessionStaysUsable) {
  Bench bench({{"GPIB0::10::INSTR", {"Q510A"}, ""},
               {"GPIB0::11::INSTR", {"Q510A"}, "{garbage-reply: \"\\x01\\xff#3\"}"}});
  ViSession vi = VI_NULL;
  // The garbage answers the identity query: no session is left open.
  EXPECT_EQ(pgxgen_init("GPIB0::11::INSTR", VI_TRUE, VI_FALSE, &vi), PGXGEN_ERROR_FAIL_ID_QUERY);
  Session s("GPIB0::11::INSTR");
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 100e-9);
}

TEST_F(DriverSession, TimeOutLeavesNoStaleAnswerBehind) {
  Bench bench({{"GPIB0::10::INSTR", {"Q510A"}, "{reply-delay-ms: 150}"}});
  Session s("GPIB0::10::INSTR", VI_FALSE);
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeOut(s, 20), VI_SUCCESS);
  ViReal64 value = 0;
  EXPECT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &value), VI_ERROR_TMO);
  ASSERT_EQ(pgxgen_timeOut(s, 2000), VI_SUCCESS);
  ViInt32 count = 0;
  ASSERT_EQ(pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &count), VI_SUCCESS);
  EXPECT_EQ(count, 1);
}

TEST_F(DriverSession, DroppedConnectionFailsCallsWithoutCrashing) {
  Bench bench({{"GPIB0::10::INSTR", {"Q510A"}, "{drop-after-messages: 3}"}});
  Session s("GPIB0::10::INSTR");  // *IDN? and *OPT?
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeOut(s, 50), VI_SUCCESS);
  ViReal64 value = 0;
  ASSERT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &value), VI_SUCCESS);
  for (int i = 0; i < 3; ++i) {
    EXPECT_LT(pgxgen_cmdReal64_Q(s, ":FREQ?", &value), VI_SUCCESS);
    EXPECT_LT(pgxgen_timeWidth(s, 1, 20e-9), VI_SUCCESS);
    ViInt32 code = 0;
    ViChar message[256];
    EXPECT_LT(pgxgen_error_query(s, &code, message), VI_SUCCESS);
  }
  EXPECT_EQ(pgxgen_close(s.vi()), VI_SUCCESS);
}

// Random replies to typed queries: every call either succeeds with what a valid reply holds or fails with
// a status; the session keeps answering.
TEST_F(DriverSession, RandomRepliesNeverCrashOrLeaveTheSessionUnusable) {
  std::mt19937 random(4242);
  const std::string alphabet = "0123456789+-.eE#;, ONFVOLTCURR\t";
  const char* queries[] = {":PULS:WIDT1?",
                           ":HOLD?",
                           ":OUTP1?",
                           ":OUTP1:POL?",
                           ":PULS:DEL1:UNIT?",
                           ":DIG:PATT:DATA1?",
                           "*TST?",
                           ":SYST:ERR?",
                           ":ROSC:SOUR?",
                           ":PULS:TRIG:SOUR:AUTO?",
                           ":CAL?",
                           "*OPC?"};
  for (int round = 0; round < 25; ++round) {
    std::string yaml = "{scripted-replies: {";
    for (const char* query : queries) {
      std::string reply;
      const int length = std::uniform_int_distribution<int>(0, 40)(random);
      for (int i = 0; i < length; ++i) {
        const int pick = random() % 10;
        if (pick == 0) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(random() % 256));
          reply += escape;
        } else {
          reply += alphabet[random() % alphabet.size()];
        }
      }
      yaml += std::string(yaml.back() == '{' ? "" : ", ") + "\"" + query + "\": \"" + reply + "\"";
    }
    yaml += "}}";
    Bench bench({{"VXI0::32::INSTR", {"M4040A", "M4040A"}, yaml}});
    Session s("VXI0::32::INSTR", VI_FALSE);
    ASSERT_EQ(s.status(), VI_SUCCESS) << yaml;
    ASSERT_EQ(pgxgen_timeOut(s, 200), VI_SUCCESS);
    ViReal64 real = 0;
    ViInt16 i16 = 0;
    ViInt32 i32 = 0;
    ViBoolean flag = 0;
    ViChar text[256];
    ViByte bytes[16];
    for (int checked = 0; checked < 2; ++checked) {
      ASSERT_EQ(pgxgen_errorQueryDetect(s, static_cast<ViBoolean>(checked)), VI_SUCCESS);
      pgxgen_timeWidth_Q(s, 1, &real);
      pgxgen_levelHighLow_Q(s, 1, &i16, &real, &real);
      pgxgen_outputStateNormal_Q(s, 1, &flag);
      pgxgen_outputPolarity_Q(s, 1, &i16);
      pgxgen_timeDelay_Q(s, 1, &i16, &real);
      if (pgxgen_patternDataDownloadBuffer_Q(s, 1, bytes, &i32, sizeof bytes, 1) == VI_SUCCESS) {
        EXPECT_LE(i32, 16);
      }
      pgxgen_self_test(s, &i16, text);
      pgxgen_error_query(s, &i32, text);
      pgxgen_configPllReference_Q(s, &i16, &real);
      pgxgen_configTriggerOutSource_Q(s, &i16);
      pgxgen_timeCalibration(s);
      pgxgen_opc_Q(s, &flag);
      pgxgen_cmdString_Q(s, ":HOLD?", 5, text);
      EXPECT_LT(std::strlen(text), 5u);
    }
    // Still answering: a query that is not scripted.
    ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_FALSE), VI_SUCCESS);
    ASSERT_EQ(pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &i32), VI_SUCCESS) << yaml;
    EXPECT_EQ(i32, 1);
  }
}

}  // namespace
}  // namespace pgx::driver
