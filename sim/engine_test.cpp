#include "sim/engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/call.h"
#include "sim/instrument.h"

namespace pgx::sim {
namespace {

// An instrument whose commands record what reached them: "<header>[suffixes](params)".
class Recorder final : public Instrument {
 public:
  std::string identity() const override { return "Test,Recorder,1,1"; }
  std::uint16_t questionable_condition() const override { return condition; }
  std::vector<std::string> log;
  std::uint16_t condition = 0;
};

void record(Instrument& i, Call& c, const char* name) {
  std::string s = name;
  s += '[' + std::to_string(c.suffix(0)) + ',' + std::to_string(c.suffix(1)) + ']';
  s += '(';
  for (std::size_t k = 0; k < c.count(); ++k) {
    if (k) s += '|';
    s += std::string(c.param(k).text);
  }
  s += ')';
  static_cast<Recorder&>(i).log.push_back(s);
  if (c.is_query()) c.reply_raw(name);
}

#define REC(name) [](Instrument& i, Call& c) { record(i, c, name); }

const CommandTree& test_tree() {
  static const CommandTree t = [] {
    CommandTree tree;
    Engine::add_standard_commands(tree);
    tree.add("[:SOURce]:VOLTage#[:LEVel][:IMMediate]:HIGH", REC("high"), REC("high"));
    tree.add("[:SOURce]:VOLTage#[:LEVel][:IMMediate]:LOW", REC("low"), REC("low"));
    tree.add("[:SOURce]:VOLTage#[:LEVel][:IMMediate][:AMPLitude]", REC("ampl"), REC("ampl"));
    tree.add(":OUTPut#:PORT#:STATe", REC("port"), nullptr);
    tree.add(":FREQuency", REC("freq"), REC("freq"));
    tree.add(":DIGital[:STIMulus]:PATTern[:STATe]", REC("patt"), REC("patt"));
    tree.add(":TRIGger:COUNt", REC("count"), REC("count"));
    tree.add(
        ":TEST:FAIL", [](Instrument&, Call& c) { c.fail(err::kDataOutOfRange); },
        [](Instrument&, Call& c) { c.fail(err::kDataOutOfRange); });
    return tree;
  }();
  return t;
}

class EngineTest : public ::testing::Test {
 protected:
  // Runs a message; returns the response (without LF) or "-" when there was none.
  std::string run(std::string_view message) {
    std::string out;
    bool replied = engine.execute(message, out);
    if (!replied) return out.empty() ? "-" : "unexpected output";
    EXPECT_EQ(out.back(), '\n');
    out.pop_back();
    return out;
  }
  std::string codes() {
    std::string s;
    while (!engine.errors().empty()) {
      if (!s.empty()) s += ' ';
      s += std::to_string(engine.errors().pop().code);
    }
    return s;
  }
  std::string log() {
    std::string s;
    for (const std::string& e : inst.log) s += (s.empty() ? "" : " ") + e;
    inst.log.clear();
    return s;
  }
  Recorder inst;
  Engine engine{test_tree(), inst};
};

TEST_F(EngineTest, HeadersShortLongOptionalAndSuffixes) {
  struct Case {
    const char* message;
    const char* log;
    const char* errors;
  };
  const Case cases[] = {
      {":FREQ 1", "freq[1,1](1)", ""},
      {":frequency 1", "freq[1,1](1)", ""},
      {":FREQU 1", "", "-113"},
      {"FREQ 1", "freq[1,1](1)", ""},                     // leading colon optional at the root
      {"VOLT2:HIGH 5", "high[2,1](5)", ""},               // first node optional
      {":SOUR:VOLT:LEV:IMM:HIGH 5", "high[1,1](5)", ""},  // every optional node written
      {":SOURCE:VOLTAGE2:LEVEL:HIGH 5", "high[2,1](5)", ""},
      {":VOLT1 3", "ampl[1,1](3)", ""},  // trailing optional leaf
      {":VOLT1:AMPL 3", "ampl[1,1](3)", ""},
      {":SOUR 3", "", "-113"},  // all-optional tail never matches a parent
      {":DIG:STIM:PATT ON", "patt[1,1](ON)", ""},
      {":DIG:PATT:STAT ON", "patt[1,1](ON)", ""},
      {":OUTP2:PORT3:STAT 1", "port[2,3](1)", ""},  // two suffix slots
      {":FREQ2 1", "", "-114"},                     // suffix on a node without one
      {":VOLT1:HIGH2 1", "", "-114"},
      {":VERYLONGMNEMONICX 1", "", "-112"},
      {":FREQ? ", "freq[1,1]()", ""},
      {":FREQ?X", "", "-102"},
      {"::FREQ 1", "", "-102"},
      {"*IDN", "", "-113"},  // set form of a query-only command
      {"*XYZ?", "", "-113"},
  };
  for (const Case& c : cases) {
    run(c.message);
    EXPECT_EQ(log(), c.log) << c.message;
    EXPECT_EQ(codes(), c.errors) << c.message;
  }
}

TEST_F(EngineTest, CompoundMessagesKeepThePath) {
  struct Case {
    const char* message;
    const char* log;
    const char* reply;
  };
  const Case cases[] = {
      // After ';' a relative header continues under the previous header's parent, suffix included.
      {":VOLT2:HIGH 1;LOW 0", "high[2,1](1) low[2,1](0)", "-"},
      // A leading ':' returns to the root; white space after ';' is allowed.
      {":DIG:PATT OFF; :TRIG:COUN 5", "patt[1,1](OFF) count[1,1](5)", "-"},
      // Common commands do not change the path.
      {":VOLT2:HIGH 1;*OPC;LOW 0", "high[2,1](1) low[2,1](0)", "-"},
      // Several queries answer in one response message, joined by ';'.
      {":VOLT1:HIGH?;LOW?;:FREQ?;*OPC?", "high[1,1]() low[1,1]() freq[1,1]()", "high;low;freq;1"},
      // The path does not outlive the message.
      {"LOW 0", "", "-"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.message), c.reply) << c.message;
    EXPECT_EQ(log(), c.log) << c.message;
  }
  EXPECT_EQ(codes(), "-113");  // the last case: "LOW" at the root
}

TEST_F(EngineTest, ErrorsInCompoundMessages) {
  // An execution error refuses its unit only; a failed query adds no response unit.
  EXPECT_EQ(run(":TEST:FAIL?;:FREQ?"), "freq");
  EXPECT_EQ(codes(), "-222");
  EXPECT_EQ(run(":TEST:FAIL 1;:FREQ 2"), "-");
  EXPECT_EQ(log(), "freq[1,1]() freq[1,1](2)");
  EXPECT_EQ(codes(), "-222");
  // A command error ends the message; replies before it still come.
  EXPECT_EQ(run(":FREQ?;:BOGUS;:FREQ?"), "freq");
  EXPECT_EQ(codes(), "-113");
}

TEST_F(EngineTest, ParameterSyntax) {
  struct Case {
    const char* message;
    const char* log;
    const char* errors;
  };
  const Case cases[] = {
      {":FREQ 1, 2 ,3", "freq[1,1](1|2|3)", ""},
      {":FREQ \"a;b,c\"", "freq[1,1](a;b,c)", ""},  // separators inside strings
      {":FREQ 'it''s'", "freq[1,1](it''s)", ""},
      {":FREQ #13a;b", "freq[1,1](a;b)", ""},  // separators inside blocks
      {":FREQ #0abc", "freq[1,1](abc)", ""},
      {":FREQ #15ab", "", "-161"},  // shorter than announced
      {":FREQ #2x1", "", "-161"},
      {":FREQ \"abc", "", "-151"},
      {":FREQ 1,,2", "", "-102"},
      {":FREQ 1,", "", "-102"},
      {":FREQ \"a\"b", "", "-102"},
      {":FREQ 1,2,3,4,5,6,7,8,9", "", "-108"},
      {":FREQ a\"b", "", "-101"},
  };
  for (const Case& c : cases) {
    run(c.message);
    EXPECT_EQ(log(), c.log) << c.message;
    EXPECT_EQ(codes(), c.errors) << c.message;
  }
}

TEST_F(EngineTest, ErrorQueueIsFifoAndOverflows) {
  EXPECT_EQ(run(":SYST:ERR?"), "0,\"No error\"");
  run(":BOGUS");
  run(":FREQ2 1");
  EXPECT_EQ(run(":SYST:ERR:COUN?"), "2");
  EXPECT_EQ(run(":SYST:ERR?;:SYST:ERR:NEXT?"),
            "-113,\"Undefined header\";-114,\"Header suffix out of range\"");
  for (int i = 0; i < 40; ++i) run(":BOGUS");
  EXPECT_EQ(run(":SYST:ERR:COUN?"), "30");
  for (int i = 0; i < 29; ++i) EXPECT_EQ(run(":SYST:ERR?"), "-113,\"Undefined header\"");
  EXPECT_EQ(run(":SYST:ERR?"), "-350,\"Queue overflow\"");
  // *RST keeps the queue, *CLS empties it.
  run(":BOGUS");
  run("*RST");
  EXPECT_EQ(run(":SYST:ERR:COUN?"), "1");
  run("*CLS");
  EXPECT_EQ(run(":SYST:ERR?"), "0,\"No error\"");
}

TEST_F(EngineTest, StandardEventStatusAndStatusByte) {
  EXPECT_EQ(run("*ESR?"), "128");  // power-on
  EXPECT_EQ(run("*ESR?"), "0");    // reading clears
  run(":BOGUS");                   // command error: CME
  run(":TEST:FAIL 1");             // execution error: EXE
  run("*OPC");
  EXPECT_EQ(run("*STB?"), "4");  // error queue not empty; ESB not enabled
  run("*ESE 48");
  EXPECT_EQ(run("*ESE?"), "48");
  EXPECT_EQ(run("*STB?"), "36");  // + ESB
  run("*SRE 32");
  EXPECT_EQ(run("*STB?"), "100");  // + MSS
  EXPECT_EQ(run("*STB?"), "100");  // *STB? clears nothing
  EXPECT_EQ(engine.status_byte(), 100);
  EXPECT_EQ(run("*ESR?"), "49");  // OPC + EXE + CME
  run("*CLS");
  EXPECT_EQ(run("*STB?;*ESE?;*SRE?"), "0;48;32");  // enables survive *CLS
  run("*ESE 256");
  EXPECT_EQ(codes(), "-222");
  engine.set_message_available(true);
  EXPECT_EQ(engine.status_byte() & 16, 16);  // MAV
}

TEST_F(EngineTest, QuestionableGroupLatchesTransitions) {
  run(":STAT:PRES");
  EXPECT_EQ(run(":STAT:QUES:ENAB?;PTR?;NTR?"), "0;32767;0");
  inst.condition = 4;
  EXPECT_EQ(run(":STAT:QUES:COND?"), "4");
  EXPECT_EQ(run(":STAT:QUES:EVEN?"), "4");
  EXPECT_EQ(run(":STAT:QUES?"), "0");  // reading cleared it
  inst.condition = 0;                  // falling edge: not latched while NTR is 0
  run("*OPC");
  EXPECT_EQ(run(":STAT:QUES?"), "0");
  run(":STAT:QUES:NTR 4;PTR 0;ENAB 4");
  inst.condition = 4;  // rising edge: PTR now 0
  run("*OPC");
  inst.condition = 0;  // falling edge latched
  run("*OPC");
  EXPECT_EQ(run("*STB?"), "8");  // questionable summary
  EXPECT_EQ(run(":STAT:QUES:EVEN?"), "4");
  // A 16-bit value sign-extended is taken; bit 15 is never used.
  run(":STAT:QUES:ENAB -1");
  EXPECT_EQ(run(":STAT:QUES:ENAB?"), "32767");
  run(":STAT:QUES:ENAB 70000");
  EXPECT_EQ(codes(), "-222");
}

TEST_F(EngineTest, ScriptedRepliesReplaceTheRealAnswer) {
  std::map<std::string, std::string> replies{{"*OPT?", "M4030A;X,M4040A"}};
  engine.set_scripted_replies(&replies);
  EXPECT_EQ(run("*OPT?;*IDN?"), "M4030A;X,M4040A;Test,Recorder,1,1");
  EXPECT_EQ(run("*opt?"), "0");  // matched as written
}

}  // namespace
}  // namespace pgx::sim
