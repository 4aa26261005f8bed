// The exact command and query texts the instrument server sends, each through the driver's raw
// functions, VISA and the simulated instrument: every text is accepted, leaves the error queue empty
// and, for a query, gets the answer the server parses.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/pgxgen.h"
#include "driver/testing/bench.h"

namespace pgx::driver {
namespace {

using testing::Bench;
using testing::Session;

// kRefused: a command the instrument refuses; accepted[0] starts the error entry it leaves.
enum class Kind { kCmd, kText, kReal, kInt16, kFields, kRefused };

struct Step {
  const char* text;
  Kind kind;
  std::vector<std::string> accepted;  // kText: any of these; kFields: the comma-separated fields, in order
  double value = 0;                   // kReal, kInt16
};

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1) {
    fields.push_back(text.substr(from, comma - from));
  }
  fields.push_back(text.substr(from));
  return fields;
}

void run_step(ViSession vi, const Step& step, ViBoolean checked) {
  SCOPED_TRACE(step.text);
  ViChar text[1024] = "";
  std::string error = "0,";
  switch (step.kind) {
    case Kind::kCmd:
      EXPECT_EQ(pgxgen_cmd(vi, step.text), VI_SUCCESS);
      break;
    case Kind::kRefused:
      if (!checked) {
        EXPECT_EQ(pgxgen_cmd(vi, step.text), VI_SUCCESS);
        error = step.accepted.at(0);
      } else {
        // The check reads the instrument's queue and keeps the entries for pgxgen_error_query.
        EXPECT_EQ(pgxgen_cmd(vi, step.text), PGXGEN_ERROR_INSTRUMENT);
        ViInt32 code = 0;
        EXPECT_EQ(pgxgen_error_query(vi, &code, text), VI_SUCCESS);
        EXPECT_EQ(std::to_string(code) + ",", step.accepted.at(0));
        EXPECT_EQ(pgxgen_error_query(vi, &code, text), VI_SUCCESS);
        EXPECT_EQ(code, 0);
      }
      break;
    case Kind::kText: {
      ASSERT_EQ(pgxgen_cmdString_Q(vi, step.text, sizeof text, text), VI_SUCCESS);
      bool found = false;
      for (const std::string& accepted : step.accepted) found = found || accepted == text;
      EXPECT_TRUE(found) << "answer: " << text;
      break;
    }
    case Kind::kReal: {
      ViReal64 value = -1;
      ASSERT_EQ(pgxgen_cmdReal64_Q(vi, step.text, &value), VI_SUCCESS);
      EXPECT_DOUBLE_EQ(value, step.value);
      break;
    }
    case Kind::kInt16: {
      ViInt16 value = -1;
      ASSERT_EQ(pgxgen_cmdInt16_Q(vi, step.text, &value), VI_SUCCESS);
      EXPECT_EQ(value, static_cast<ViInt16>(step.value));
      break;
    }
    case Kind::kFields: {
      ASSERT_EQ(pgxgen_cmdString_Q(vi, step.text, sizeof text, text), VI_SUCCESS);
      const std::vector<std::string> fields = split(text);
      ASSERT_GE(fields.size(), step.accepted.size()) << "answer: " << text;
      for (std::size_t i = 0; i < step.accepted.size(); ++i) {
        EXPECT_EQ(fields[i], step.accepted[i]) << "field " << i;
      }
      break;
    }
  }
  ASSERT_EQ(pgxgen_cmdString_Q(vi, ":SYST:ERR?", sizeof text, text), VI_SUCCESS);
  EXPECT_EQ(std::string(text).substr(0, error.size()), error) << "error queue: " << text;
}
// Runs the steps in order on one session, first as they are and again with the automatic error query
// (which appends a status query to every message); each step must leave no error behind. Then the
// settings go out once more as one transaction.
void run(ViSession vi, const std::vector<Step>& steps) {
  for (const ViBoolean checked : {VI_FALSE, VI_TRUE}) {
    SCOPED_TRACE(checked ? "automatic error query" : "no automatic error query");
    ASSERT_EQ(pgxgen_errorQueryDetect(vi, checked), VI_SUCCESS);
    for (const Step& step : steps) run_step(vi, step, checked);
  }
  // All the settings once more as the units of one transaction: one program message in which each unit
  // starts from the root.
  ASSERT_EQ(pgxgen_errorQueryDetect(vi, VI_FALSE), VI_SUCCESS);
  ASSERT_EQ(pgxgen_transactionStart(vi), VI_SUCCESS);
  for (const Step& step : steps) {
    if (step.kind == Kind::kCmd) {
      EXPECT_EQ(pgxgen_cmd(vi, step.text), VI_SUCCESS) << step.text;
    }
  }
  EXPECT_EQ(pgxgen_transactionFinish(vi), VI_SUCCESS);
  ViChar text[256] = "";
  ASSERT_EQ(pgxgen_cmdString_Q(vi, ":SYST:ERR?", sizeof text, text), VI_SUCCESS);
  EXPECT_EQ(std::string(text).substr(0, 2), "0,") << "error queue after the transaction: " << text;
}

class ServerTexts : public ::testing::TestWithParam<const char*> {
 protected:
  // Front-ends that have every function the texts touch (channel math included).
  Bench bench_{{{"VXI0::24::INSTR", {"M4030A", "M4030A"}}, {"GPIB0::12::INSTR", {"Q530A", "Q530A"}}}};
};

TEST_P(ServerTexts, TimingLevelsAndSystem) {
  const std::string model = GetParam()[0] == 'V' ? "M4030A" : "Q530A";
  Session s(GetParam(), VI_TRUE, VI_TRUE);
  ASSERT_EQ(s.status(), VI_SUCCESS);
  run(s, {
             {"*CLS", Kind::kCmd, {}},
             {":CAL:ALL?", Kind::kInt16, {}, 0},
             {":SYST:VERS?", Kind::kText, {"1999.0"}},
             {"*OPT?", Kind::kFields, {model, model}},
             {":SYST:SEC ON", Kind::kCmd, {}},
             {":SYST:SEC?", Kind::kInt16, {}, 1},
             {":SYST:SEC OFF", Kind::kCmd, {}},
             {":PULS:PER 1e-6", Kind::kCmd, {}},
             {":PULS:PER?", Kind::kReal, {}, 1e-6},
             {":FREQ?", Kind::kReal, {}, 1e6},
             {":FREQ 2e6", Kind::kCmd, {}},
             {":PULS:PER?", Kind::kReal, {}, 5e-7},
             {":HOLD VOLT", Kind::kCmd, {}},
             {":HOLD?", Kind::kText, {"VOLT"}},
             {"VOLT1:HIGH 2.5V", Kind::kCmd, {}},
             {"VOLT1:HIGH?", Kind::kReal, {}, 2.5},
             {"VOLT2:OFFS 0.5", Kind::kCmd, {}},
             {"VOLT2:OFFS?", Kind::kReal, {}, 0.5},
             {":VOLT1:LIM 0.1", Kind::kCmd, {}},
             {":VOLT1:LIM?", Kind::kReal, {}, 0.1},
             {":HOLD CURR", Kind::kCmd, {}},
             {":HOLD?", Kind::kText, {"CURR"}},
             {":CURR2 0.015A", Kind::kCmd, {}},
             {":CURR2?", Kind::kReal, {}, 0.015},
             {":CURR1:LIM:LOW -0.02", Kind::kCmd, {}},
             {":CURR1:LIM:LOW?", Kind::kReal, {}, -0.02},
             {":HOLD VOLT", Kind::kCmd, {}},
             {":PULS:DEL1:UNIT S", Kind::kCmd, {}},
             {":PULS:DEL1:UNIT?", Kind::kText, {"S", "SEC"}},
             {":PULS:DOUB1:DEL:UNIT SEC", Kind::kCmd, {}},
             {":PULS:DOUB1:DEL:UNIT?", Kind::kText, {"S", "SEC"}},
             {":PULS:TRAN1:UNIT PCT", Kind::kCmd, {}},
             {":PULS:TRAN1:UNIT?", Kind::kText, {"PCT"}},
             {":CHAN:MATH PLUS", Kind::kCmd, {}},
             {":CHAN:MATH?", Kind::kText, {"PLUS"}},
             {":CHAN:MATH OFF", Kind::kCmd, {}},
             {":SYST:WARN:COUN?", Kind::kInt16, {}, 0},
             {":SYST:WARN:STRING?", Kind::kText, {"\"\"", ""}},
         });
}

TEST_P(ServerTexts, ArmTriggerAndPattern) {
  Session s(GetParam(), VI_TRUE, VI_TRUE);
  ASSERT_EQ(s.status(), VI_SUCCESS);
  run(s, {
             {":ARM:SOUR IMM", Kind::kCmd, {}},
             {":ARM:SOUR?", Kind::kText, {"IMM"}},
             {":ARM:EWID?", Kind::kInt16, {}, 0},
             {":ARM:SOUR EXT", Kind::kCmd, {}},
             {":ARM:SENS LEV", Kind::kCmd, {}},
             {":ARM:SENS?", Kind::kText, {"LEV"}},
             {":ARM:SLOP EITH", Kind::kCmd, {}},
             {":ARM:SLOP?", Kind::kText, {"EITH"}},
             {":ARM:FREQ 1e5", Kind::kCmd, {}},
             {":ARM:FREQ?", Kind::kReal, {}, 1e5},
             {":ARM:PER 2e-5", Kind::kCmd, {}},
             {":ARM:PER?", Kind::kReal, {}, 2e-5},
             {":ARM:IMP 50", Kind::kCmd, {}},
             {":ARM:IMP?", Kind::kReal, {}, 50},
             {":ARM:LEV 1.5", Kind::kCmd, {}},
             {":ARM:LEV?", Kind::kReal, {}, 1.5},
             {":ARM:SOUR IMM", Kind::kCmd, {}},
             {":TRIG:SOUR EXT2", Kind::kCmd, {}},
             {":TRIG:SOUR?", Kind::kText, {"EXT2"}},
             {":TRIG:SLOP POS", Kind::kCmd, {}},
             {":TRIG:SLOP?", Kind::kText, {"POS"}},
             {":TRIG:LEV 0.5", Kind::kCmd, {}},
             {":TRIG:LEV?", Kind::kReal, {}, 0.5},
             {":TRIG:IMP 50", Kind::kCmd, {}},
             {":TRIG:IMP?", Kind::kReal, {}, 50},
             {":TRIG:SOUR IMM", Kind::kCmd, {}},
             {":DIG:PATT OFF; :TRIG:COUN 5", Kind::kCmd, {}},
             {":DIG:PATT?", Kind::kInt16, {}, 0},
             {":TRIG:COUN?", Kind::kInt16, {}, 5},
             {":DIG:PATT ON; :TRIG:COUN 2", Kind::kCmd, {}},
             {":DIG:PATT?", Kind::kInt16, {}, 1},
             {":TRIG:COUN?", Kind::kInt16, {}, 2},
             {":DIG:PATT OFF", Kind::kCmd, {}},
             {":PULS:TRIG:SOUR:AUTO ON", Kind::kCmd, {}},
             {":PULS:TRIG:SOUR:AUTO?", Kind::kText, {"1"}},
             {":PULS:TRIG:SOUR:AUTO OFF", Kind::kCmd, {}},
             {":PULS:TRIG:SOUR:AUTO?", Kind::kText, {"0"}},
             {":ARM:SOUR MAN", Kind::kCmd, {}},
             {"*TRG", Kind::kCmd, {}},
             {":ARM:SOUR IMM", Kind::kCmd, {}},
             {"*LRN?", Kind::kFields, {}},
         });
}

TEST_P(ServerTexts, StatusRegisters) {
  Session s(GetParam(), VI_TRUE, VI_TRUE);
  ASSERT_EQ(s.status(), VI_SUCCESS);
  run(s, {
             {"*CLS", Kind::kCmd, {}},
             {"*ESE 60", Kind::kCmd, {}},
             {"*ESE?", Kind::kInt16, {}, 60},
             {"*ESR?", Kind::kInt16, {}, 0},
             {"*STB?", Kind::kInt16, {}, 0},
             // The server sends a 16-bit register value sign-extended. The 8-bit *SRE takes 0-255 only,
             // as on the real instruments, and the mask stays; the 16-bit status registers take it.
             {"*SRE 32", Kind::kCmd, {}},
             {"*SRE -1", Kind::kRefused, {"-222,"}},
             {"*SRE?", Kind::kInt16, {}, 32},
             {":STAT:QUES:ENAB -1", Kind::kCmd, {}},
             {":STAT:QUES:ENAB?", Kind::kInt16, {}, 32767},
             {":STAT:QUES:ENAB 32767", Kind::kCmd, {}},
             {":STAT:QUES:ENAB?", Kind::kInt16, {}, 32767},
             {":STAT:QUES:NTR 0", Kind::kCmd, {}},
             {":STAT:QUES:NTR?", Kind::kInt16, {}, 0},
             {":STAT:QUES:PTR 32767", Kind::kCmd, {}},
             {":STAT:QUES:PTR?", Kind::kInt16, {}, 32767},
             {":STAT:QUES:COND?", Kind::kInt16, {}, 0},
             {":STAT:QUES:EVEN?", Kind::kInt16, {}, 0},
             {":STAT:PRES", Kind::kCmd, {}},
             {":STAT:QUES:ENAB?", Kind::kInt16, {}, 0},
             {"*CLS", Kind::kCmd, {}},
         });
}

INSTANTIATE_TEST_SUITE_P(Mainframes, ServerTexts, ::testing::Values("VXI0::24::INSTR", "GPIB0::12::INSTR"),
                         [](const auto& info) { return std::string(info.param[0] == 'V' ? "Vxi" : "Gpib"); });

}  // namespace
}  // namespace pgx::driver
