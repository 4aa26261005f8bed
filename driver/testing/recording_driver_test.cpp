// The recording driver itself: how calls read in the log, the order in which replies are found, out-values
// and buffer handling, the instrument error queue, and that quiet mode allocates nothing.

#include "driver/testing/recording_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <new>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/testing/recording_state.h"

// Counts the heap allocations of the whole program while `counting` is on.
namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* counted_allocation(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

void* operator new(std::size_t size) {
  if (void* p = counted_allocation(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return counted_allocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return counted_allocation(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace pgx::driver::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RecordingDriverTest : public ::testing::Test {
 protected:
  RecordingDriver driver;
};

// ---- The log ----

TEST_F(RecordingDriverTest, LogsEachCallAsOneReadableLine) {
  char text[256];
  ViInt32 count = 0;
  ViSession vi = VI_NULL;
  const ViInt8 block[] = {1, 0, -1};
  const struct {
    std::function<void()> call;
    const char* line;
  } kCases[] = {
      {[&] { pgxgen_init("GPIB0::10::INSTR", VI_TRUE, VI_FALSE, &vi); },
       "pgxgen_init(\"GPIB0::10::INSTR\", 1, 0)"},
      {[&] { pgxgen_cmdReal(1, ":FREQ", 1e6); }, "pgxgen_cmdReal(1, \":FREQ\", 1000000)"},
      {[&] { pgxgen_cmdReal(1, ":PULS:WIDT1", 0.0001); }, "pgxgen_cmdReal(1, \":PULS:WIDT1\", 0.0001)"},
      {[&] { pgxgen_timeWidth(2, 1, 1e-05); }, "pgxgen_timeWidth(2, 1, 1e-05)"},
      {[&] { pgxgen_levelHighLow(1, 2, 0, 2.5, -0.1); }, "pgxgen_levelHighLow(1, 2, 0, 2.5, -0.1)"},
      {[&] { pgxgen_cmdUInt(1, ":X", 4294967295u); }, "pgxgen_cmdUInt(1, \":X\", 4294967295)"},
      {[&] { pgxgen_cmdInt(1, ":X", -2147483647 - 1); }, "pgxgen_cmdInt(1, \":X\", -2147483648)"},
      {[&] { pgxgen_cmdString_Q(1, "*OPT?", 256, text); }, "pgxgen_cmdString_Q(1, \"*OPT?\", 256)"},
      {[&] { pgxgen_cmd(1, "say \"hi\"\\\n\t\x01"); }, "pgxgen_cmd(1, \"say \\\"hi\\\"\\\\\\n\\t\\x01\")"},
      {[&] { pgxgen_cmdString(1, ":X", nullptr); }, "pgxgen_cmdString(1, \":X\", NULL)"},
      {[&] { pgxgen_cmdInt8Arr(1, ":DATA", block, 3); }, "pgxgen_cmdInt8Arr(1, \":DATA\", [01 00 FF], 3)"},
      {[&] { pgxgen_cmdInt8Arr_Q(1, ":DATA?", 100, nullptr, &count); },
       "pgxgen_cmdInt8Arr_Q(1, \":DATA?\", 100)"},
      {[&] { pgxgen_error_message(1, PGXGEN_ERROR_INSTRUMENT, text); },
       "pgxgen_error_message(1, 0xBFFC0D07)"},
      {[&] { pgxgen_patternDataDownloadBuffer_Q(1, 3, nullptr, &count, 0, 1); },
       "pgxgen_patternDataDownloadBuffer_Q(1, 3, 0, 1)"},
      {[&] { pgxgen_self_test(1, nullptr, text); }, "pgxgen_self_test(1)"},
  };
  for (const auto& c : kCases) {
    driver.ClearCalls();
    c.call();
    EXPECT_THAT(driver.Calls(), ElementsAre(c.line));
  }
}

TEST_F(RecordingDriverTest, RealsReadBackExactly) {
  std::vector<double> values = {0.1 + 0.2, 1e-300, 5e-324, 1.7976931348623157e308, -123456.789,
                                1e16,      1e17,   0.001,  123456789012345678.0,   -2.5e-7};
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t bits = random();
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value)) values.push_back(value);
  }
  for (const double value : values) {
    const std::string text(recording::format_real(value).view());
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
  }
}

TEST_F(RecordingDriverTest, KeepsEveryByteOfAnArrayButShowsTheFirst32) {
  std::vector<ViByte> pattern(40, 1);
  pattern[39] = 0;
  pgxgen_patternDataDownloadBuffer(1, 1, pattern.data(), 40);
  const std::vector<Call> calls = driver.Records();
  ASSERT_EQ(calls.size(), 1u);
  std::string shown = "[";
  for (int i = 0; i < 32; ++i) shown += i == 0 ? "01" : " 01";
  EXPECT_EQ(calls[0].args[2], shown + " ...]");
  EXPECT_EQ(calls[0].bytes, std::string(reinterpret_cast<const char*>(pattern.data()), pattern.size()));
  EXPECT_EQ(calls[0].args[3], "40");
}

TEST_F(RecordingDriverTest, CountsAndFiltersCallsAndClearsThemApartFromTheScripts) {
  driver.Fail("pgxgen_reset", PGXGEN_ERROR_INSTRUMENT);
  pgxgen_reset(1);
  pgxgen_dcl(1);
  pgxgen_reset(1);
  EXPECT_EQ(driver.CallCount(), 3u);
  EXPECT_EQ(driver.CallCount("pgxgen_reset"), 2u);
  EXPECT_THAT(driver.CallsTo("pgxgen_dcl"), ElementsAre("pgxgen_dcl(1)"));
  driver.ClearCalls();
  EXPECT_THAT(driver.Calls(), IsEmpty());
  EXPECT_EQ(driver.CallCount(), 0u);
  EXPECT_EQ(pgxgen_reset(1), PGXGEN_ERROR_INSTRUMENT);
}

// ---- Replies ----

TEST_F(RecordingDriverTest, FindsOneShotRepliesFirstThenTheNarrowestStandingOne) {
  char answer[256];
  driver.Script("pgxgen_cmdString_Q", {.texts = {"by function"}});
  driver.Answer("*OPT?", "by query");
  driver.ScriptOnce("pgxgen_cmdString_Q", {.texts = {"once by function"}});
  driver.AnswerOnce("*OPT?", "once by query 1");
  driver.AnswerOnce("*OPT?", "once by query 2");

  std::vector<std::string> seen;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(pgxgen_cmdString_Q(1, "*OPT?", 256, answer), VI_SUCCESS);
    seen.push_back(answer);
  }
  EXPECT_THAT(seen,
              ElementsAre("once by query 1", "once by query 2", "once by function", "by query", "by query"));
  ASSERT_EQ(pgxgen_cmdString_Q(1, "*IDN?", 256, answer), VI_SUCCESS);
  EXPECT_STREQ(answer, "by function");

  driver.Reset();
  std::strcpy(answer, "stale");
  ASSERT_EQ(pgxgen_cmdString_Q(1, "*OPT?", 256, answer), VI_SUCCESS);
  EXPECT_STREQ(answer, "");
}

TEST_F(RecordingDriverTest, WritesOutValuesInOrderOnlyWhenTheStatusIsNotAnError) {
  ViInt16 type = -1;
  ViReal64 high = -1;
  ViReal64 low = -1;
  driver.ReturnOnce("pgxgen_levelHighLow_Q", {1, 0.02, -0.01});
  driver.ScriptOnce("pgxgen_levelHighLow_Q", {.status = PGXGEN_ERROR_CHANNEL, .values = {0, 5, 5}});
  driver.ScriptOnce("pgxgen_levelHighLow_Q", {.status = 0x3FFC0D0B, .values = {0, 3.3}});

  EXPECT_EQ(pgxgen_levelHighLow_Q(1, 1, &type, &high, &low), VI_SUCCESS);
  EXPECT_EQ(type, 1);
  EXPECT_EQ(high, 0.02);
  EXPECT_EQ(low, -0.01);
  EXPECT_EQ(pgxgen_levelHighLow_Q(1, 1, &type, &high, &low), PGXGEN_ERROR_CHANNEL);
  EXPECT_EQ(high, 0.02) << "an error leaves the out-parameters alone";
  EXPECT_EQ(pgxgen_levelHighLow_Q(1, 1, &type, &high, &low), 0x3FFC0D0B);
  EXPECT_EQ(high, 3.3) << "a warning writes them";
  EXPECT_EQ(low, 0.0) << "values the reply lacks are zero";
  EXPECT_EQ(pgxgen_levelHighLow_Q(1, 1, &type, &high, &low), VI_SUCCESS);
  EXPECT_EQ(type, 0);
}

TEST_F(RecordingDriverTest, RefusesNullPointersWithoutUsingAReply) {
  char text[256];
  driver.FailOnce("pgxgen_self_test", PGXGEN_ERROR_INSTRUMENT);
  EXPECT_EQ(pgxgen_self_test(1, nullptr, text), PGXGEN_ERROR_PARAMETER2);
  EXPECT_EQ(pgxgen_revision_query(1, text, nullptr), PGXGEN_ERROR_PARAMETER3);
  EXPECT_EQ(pgxgen_cmdString_Q(1, "*IDN?", 0, text), PGXGEN_ERROR_PARAMETER3);
  EXPECT_EQ(pgxgen_patternDataDownloadFile(1, 1, nullptr), PGXGEN_ERROR_PARAMETER3);
  ViInt16 result = 0;
  EXPECT_EQ(pgxgen_self_test(1, &result, text), PGXGEN_ERROR_INSTRUMENT)
      << "the one-shot reply is still there";
  EXPECT_EQ(driver.CallCount(), 5u) << "refused calls are logged too";
}

TEST_F(RecordingDriverTest, ScriptsRawCommandsByTheirText) {
  driver.Fail(Scpi{":DIG:PATT ON; :TRIG:COUN 2"}, PGXGEN_ERROR_INSTRUMENT);
  EXPECT_EQ(pgxgen_cmd(1, ":DIG:PATT ON; :TRIG:COUN 2"), PGXGEN_ERROR_INSTRUMENT);
  EXPECT_EQ(pgxgen_cmd(1, ":DIG:PATT OFF"), VI_SUCCESS);
  driver.FailOnce(Scpi{":FREQ"}, PGXGEN_ERROR_PARAMETER3);
  EXPECT_EQ(pgxgen_cmdReal(1, ":FREQ", 1e6), PGXGEN_ERROR_PARAMETER3);
  EXPECT_EQ(pgxgen_cmdReal(1, ":FREQ", 1e6), VI_SUCCESS);
}

TEST_F(RecordingDriverTest, StartsSessionsAsScripted) {
  ViSession vi = 99;
  EXPECT_EQ(pgxgen_init("VXI0::32::INSTR", 1, 1, &vi), VI_SUCCESS);
  EXPECT_EQ(vi, 1u);
  driver.ReturnOnce("pgxgen_init", {7});
  EXPECT_EQ(pgxgen_init("VXI0::32::INSTR", 1, 1, &vi), VI_SUCCESS);
  EXPECT_EQ(vi, 7u);
  driver.FailOnce("pgxgen_init", PGXGEN_ERROR_FAIL_ID_QUERY);
  EXPECT_EQ(pgxgen_init("GPIB0::22::INSTR", 1, 0, &vi), PGXGEN_ERROR_FAIL_ID_QUERY);
  EXPECT_EQ(vi, VI_NULL) << "a failed init leaves no session";
}

TEST_F(RecordingDriverTest, NamesUnknownFunctionsAndAllowsOneDriverAtATime) {
  EXPECT_THROW(driver.Fail("pgxgen_cmdReals", PGXGEN_ERROR_INSTRUMENT), std::invalid_argument);
  EXPECT_THROW(driver.CallCount("cmdReal"), std::invalid_argument);
  EXPECT_THROW(RecordingDriver second, std::logic_error);
}

// Every function the real driver declares exists here under its name (the compiler checks the signatures).
TEST_F(RecordingDriverTest, RecordsEveryFunctionOfTheDriverHeader) {
  std::ifstream header(PGXGEN_HEADER);
  ASSERT_TRUE(header) << PGXGEN_HEADER;
  std::stringstream text;
  text << header.rdbuf();
  const std::string declarations = text.str();
  const std::regex declaration(R"(PGXGEN_API\s+ViStatus\s+(pgxgen_\w+)\s*\()");
  std::set<std::string> declared;
  for (std::sregex_iterator it(declarations.begin(), declarations.end(), declaration), end; it != end; ++it) {
    declared.insert((*it)[1]);
  }
  const std::vector<std::string> recorded = RecordingDriver::Functions();
  EXPECT_EQ(declared, std::set<std::string>(recorded.begin(), recorded.end()));
  EXPECT_EQ(declared.size(), recorded.size()) << "a function is listed twice";
}

// ---- Answers and buffers ----

TEST_F(RecordingDriverTest, CutsAnswersToTheCallersBufferAndNeverWritesPastIt) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  driver.Answer("*OPT?", "M4030A,M4040A");
  ASSERT_EQ(pgxgen_cmdString_Q(1, "*OPT?", 4, buffer), VI_SUCCESS);
  EXPECT_STREQ(buffer, "M40");
  EXPECT_EQ(buffer[4], '#');

  char fixed[300];
  std::memset(fixed, '#', sizeof fixed);
  driver.SetErrorMessage(PGXGEN_ERROR_INSTRUMENT, std::string(400, 'x'));
  ASSERT_EQ(pgxgen_error_message(1, PGXGEN_ERROR_INSTRUMENT, fixed), VI_SUCCESS);
  EXPECT_EQ(std::strlen(fixed), 255u);
  EXPECT_EQ(fixed[256], '#');

  ViInt8 bytes[4] = {9, 9, 9, 9};
  ViInt32 count = -1;
  driver.Answer(":DATA?", std::string("\x01\x00\x01\x01\x00", 5));
  ASSERT_EQ(pgxgen_cmdInt8Arr_Q(1, ":DATA?", 3, bytes, &count), VI_SUCCESS);
  EXPECT_EQ(count, 3);
  EXPECT_THAT(bytes, ElementsAre(1, 0, 1, 9));
}

TEST_F(RecordingDriverTest, ReadsNumericAnswersAsTheDriverDoes) {
  ViInt16 small = 5;
  ViReal64 real = 5;
  ViUInt32 large = 5;
  driver.Answer(":FREQ?", " +1.5e6 ");
  driver.Answer(":COUN?", "70000");
  driver.Answer(":BAD?", "INF");
  driver.Answer(":NUM?", 123.9);
  EXPECT_EQ(pgxgen_cmdReal64_Q(1, ":FREQ?", &real), VI_SUCCESS);
  EXPECT_EQ(real, 1.5e6);
  EXPECT_EQ(pgxgen_cmdInt16_Q(1, ":COUN?", &small), PGXGEN_ERROR_INVALID_RESPONSE) << "beyond ViInt16";
  EXPECT_EQ(small, 5);
  EXPECT_EQ(pgxgen_cmdUInt32_Q(1, ":COUN?", &large), VI_SUCCESS);
  EXPECT_EQ(large, 70000u);
  EXPECT_EQ(pgxgen_cmdReal64_Q(1, ":BAD?", &real), PGXGEN_ERROR_INVALID_RESPONSE);
  EXPECT_EQ(pgxgen_cmdInt16_Q(1, ":NUM?", &small), VI_SUCCESS);
  EXPECT_EQ(small, 123);
  driver.Return("pgxgen_cmdInt16_Q", {1e9});
  EXPECT_EQ(pgxgen_cmdInt16_Q(1, ":OTHER?", &small), VI_SUCCESS);
  EXPECT_EQ(small, 32767) << "a scripted value is cut to the C type";
}

TEST_F(RecordingDriverTest, ReadsPatternPositionsBackAsAskedFor) {
  ViByte buffer[6] = {9, 9, 9, 9, 9, 9};
  ViInt32 count = 0;
  driver.Script("pgxgen_patternDataDownloadBuffer_Q", {.texts = {"10\x01"}});
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(1, 1, buffer, &count, 5, 1), VI_SUCCESS);
  EXPECT_EQ(count, 3);
  EXPECT_THAT(buffer, ElementsAre('1', '0', '1', 9, 9, 9));
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(1, 1, buffer, &count, 2, 0), VI_SUCCESS);
  EXPECT_EQ(count, 2);
  EXPECT_THAT(buffer, ElementsAre(1, 0, '1', 9, 9, 9));
}

TEST_F(RecordingDriverTest, ServesTheInstrumentErrorQueueThenNoError) {
  driver.QueueInstrumentError(-222, "Data out of range");
  driver.QueueInstrumentError(-113, "Undefined header");
  ViInt32 code = 1;
  char message[256];
  std::vector<std::string> entries;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(pgxgen_error_query(1, &code, message), VI_SUCCESS);
    entries.push_back(std::to_string(code) + " " + message);
  }
  EXPECT_THAT(entries,
              ElementsAre("-222 Data out of range", "-113 Undefined header", "0 No error", "0 No error"));

  driver.QueueInstrumentError(-350, "Queue overflow");
  driver.FailOnce("pgxgen_error_query", VI_ERROR_TMO);
  EXPECT_EQ(pgxgen_error_query(1, &code, message), VI_ERROR_TMO);
  ASSERT_EQ(pgxgen_error_query(1, &code, message), VI_SUCCESS);
  EXPECT_EQ(code, -350) << "a failed query takes no entry";
}

TEST_F(RecordingDriverTest, GivesARecognisableOrScriptedTextPerStatus) {
  char message[256];
  ASSERT_EQ(pgxgen_error_message(0, PGXGEN_ERROR_PARAMETER3, message), VI_SUCCESS);
  EXPECT_STREQ(message, "Status 0xBFFC0003");
  EXPECT_EQ(RecordingDriver::DefaultErrorMessage(PGXGEN_ERROR_PARAMETER3), "Status 0xBFFC0003");
  driver.SetErrorMessage(PGXGEN_ERROR_INSTRUMENT, "Instrument reports an error");
  ASSERT_EQ(pgxgen_error_message(1, PGXGEN_ERROR_INSTRUMENT, message), VI_SUCCESS);
  EXPECT_STREQ(message, "Instrument reports an error");
}

// ---- Quiet mode ----

TEST_F(RecordingDriverTest, QuietModeCountsButRecordsAndAllocatesNothing) {
  driver.Return("pgxgen_timeWidth_Q", {2e-8});
  driver.Answer("*OPT?", "M4030A,M4040A");
  driver.Answer(":FREQ?", "1e6");
  driver.QueueInstrumentError(-222, "Data out of range");
  for (int i = 0; i < 100; ++i) driver.FailOnce("pgxgen_cmdReal", PGXGEN_ERROR_INSTRUMENT);
  driver.SetQuiet(true);

  ViReal64 real = 0;
  char text[256];
  ViInt32 code = 0;
  counting = true;
  for (int i = 0; i < 100; ++i) {
    pgxgen_timeWidth_Q(1, 1, &real);                         // standing reply
    pgxgen_cmdReal(1, ":FREQ", 1e6);                         // one-shot reply
    pgxgen_timeWidth(1, 1, 2e-8);                            // default reply
    pgxgen_cmdString_Q(1, "*OPT?", 256, text);               // answer by query text
    pgxgen_cmdReal64_Q(1, ":FREQ?", &real);                  // answer read as a number
    pgxgen_error_query(1, &code, text);                      // the error queue
    pgxgen_error_message(1, PGXGEN_ERROR_INSTRUMENT, text);  // the default text
  }
  counting = false;
  EXPECT_EQ(allocations.load(), 0);
  EXPECT_THAT(driver.Calls(), IsEmpty());
  EXPECT_EQ(driver.CallCount(), 700u);
  EXPECT_EQ(driver.CallCount("pgxgen_cmdReal"), 100u);
  EXPECT_EQ(real, 1e6);
}

}  // namespace
}  // namespace pgx::driver::testing
