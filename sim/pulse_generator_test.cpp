#include "sim/pulse_generator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/testing/session.h"

namespace pgx::sim {
namespace {

using testing::Session;

// The commands and queries the automation server sends, exactly as it writes them, with the replies it
// looks up.
TEST(PulseGeneratorTest, ServerTextsWorkAsWritten) {
  Session s({"M4030A", "M4030A"});
  struct Case {
    const char* message;
    const char* reply;  // "" for commands
  };
  const Case cases[] = {
      {":FREQ 2E6", ""},
      {":FREQ?", "2000000"},
      {":PULS:PER 1E-06", ""},
      {":PULS:PER?", "1E-06"},
      {":CAL:ALL?", "0"},
      {":SYST:SEC ON", ""},
      {":SYST:SEC?", "1"},
      {":SYST:SEC OFF", ""},
      {":SYST:SEC?", "0"},
      {":SYST:VERS?", "1999.0"},
      {":DIG:PATT ON; :TRIG:COUN 20", ""},
      {":DIG:PATT?", "1"},
      {":TRIG:COUN?", "20"},
      {":DIG:PATT OFF; :TRIG:COUN 1", ""},
      {":DIG:PATT?", "0"},
      {":CHAN:MATH PLUS", ""},
      {":CHAN:MATH?", "PLUS"},
      {":SYST:WARN:COUN?", "0"},
      {":SYST:WARN:STRING?", "\"\""},
      {"VOLT1:HIGH 2.5V", ""},
      {"VOLT1:LOW -0.5V", ""},
      {"VOLT1:HIGH?", "2.5"},
      {"VOLT1?", "3"},
      {"VOLT1:OFFS?", "1"},
      {"VOLT2 0.25V", ""},
      {"VOLT2?", "0.25"},
      {":CURR2 0.015A", ""},
      {":CURR2?", "0.015"},
      {":CURR2:HIGH?;:CURR2:LOW?;:CURR2:OFFS?", "0.0175;0.0025;0.01"},
      {":CURR1:LIM 0.1", ""},
      {":CURR1:LIM?", "0.1"},
      {":CURR1:LIM:LOW?", "-0.1"},
      {":VOLT1:LIM 4", ""},
      {":VOLT1:LIM?", "4"},
      {":HOLD CURR", ""},
      {":HOLD?", "CURR"},
      {":HOLD VOLT", ""},
      {":HOLD?", "VOLT"},
      {":PULS:DEL2:UNIT?", "S"},
      {":PULS:DEL1:UNIT S", ""},
      {":PULS:DEL1:UNIT PCT", ""},
      {":PULS:DEL1:UNIT?", "PCT"},
      {":PULS:DEL1:UNIT DEG", ""},
      {":PULS:DEL1:UNIT?", "DEG"},
      {":PULS:DEL1:UNIT RAD", ""},
      {":PULS:DEL1:UNIT?", "RAD"},
      {":PULS:DOUB1:DEL:UNIT SEC", ""},
      {":PULS:DOUB1:DEL:UNIT?", "S"},
      {":PULS:DOUB2:DEL:UNIT PCT", ""},
      {":PULS:DOUB2:DEL:UNIT?", "PCT"},
      {":PULS:TRAN1:UNIT SEC", ""},
      {":PULS:TRAN1:UNIT?", "S"},
      {":PULS:TRAN2:UNIT PCT", ""},
      {":PULS:TRAN2:UNIT?", "PCT"},
      {":TRIG:COUN 3", ""},
      {":TRIG:COUN?", "3"},
      {"*TRG", ""},
      {":TRIG:SOUR EXT2", ""},
      {":TRIG:SOUR?", "EXT2"},
      {":TRIG:SOUR INT2", ""},
      {":TRIG:SOUR?", "INT2"},
      {":ARM:EWID ON", ""},
      {":ARM:EWID?", "1"},
      {":ARM:EWID OFF", ""},
      {":ARM:EWID?", "0"},
      {":ARM:FREQ 2000", ""},
      {":ARM:FREQ?", "2000"},
      {":ARM:PER?", "0.0005"},
      {":ARM:PER 0.01", ""},
      {":ARM:FREQ?", "100"},
      {":ARM:SOUR EXT", ""},
      {":ARM:SOUR?", "EXT"},
      {":ARM:SENS LEV", ""},
      {":ARM:SENS?", "LEV"},
      {":ARM:SENS EDGE", ""},
      {":ARM:SENS?", "EDGE"},
      {":ARM:SLOP EITH", ""},
      {":ARM:SLOP?", "EITH"},
      {":ARM:SOUR IMM", ""},
      {":ARM:SOUR?", "IMM"},
      {":TRIG:IMP 10000", ""},
      {":TRIG:IMP?", "10000"},
      {":TRIG:SLOP NEG", ""},
      {":TRIG:SLOP?", "NEG"},
      {":TRIG:SLOP POS", ""},
      {":TRIG:SLOP?", "POS"},
      {":TRIG:LEV -1.5", ""},
      {":TRIG:LEV?", "-1.5"},
      {":ARM:IMP 50", ""},
      {":ARM:IMP?", "50"},
      {":ARM:LEV 0.8", ""},
      {":ARM:LEV?", "0.8"},
      {":PULS:TRIG:SOUR:AUTO ON", ""},
      {":PULS:TRIG:SOUR:AUTO?", "1"},
      {":PULS:TRIG:SOUR:AUTO OFF", ""},
      {":PULS:TRIG:SOUR:AUTO?", "0"},
      {"*SRE -1", ""},  // the server sends a 16-bit register sign-extended; the instrument refuses it
      {":STAT:QUES:ENAB -1", ""},
      {":STAT:QUES:ENAB?", "32767"},
      {":STAT:PRES", ""},
      {":STAT:QUES:ENAB?;:STAT:QUES:PTR?;:STAT:QUES:NTR?", "0;32767;0"},
      {"*CLS", ""},
      {"*STB?", "0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(s.ask(c.message), c.reply) << c.message;
    const std::string errors = s.errors();
    if (std::string_view(c.message) == "*SRE -1") {
      EXPECT_EQ(errors, "-222,\"Data out of range\"");
    } else {
      EXPECT_EQ(errors, "") << c.message;
    }
  }
}

TEST(PulseGeneratorTest, EachFrontEndRefusesWhatItLacks) {
  struct Case {
    std::vector<std::string> front_ends;
    const char* message;
    bool refused;
  };
  const Case cases[] = {
      {{"Q520A"}, ":PULS:TRAN1 5NS", true},
      {{"Q520A"}, ":PULS:TRAN1?", true},
      {{"Q520A"}, ":VOLT1:HIGH 1", true},
      {{"Q520A"}, ":CURR1?", true},
      {{"Q520A"}, ":VOLT1:LIM 1", true},
      {{"Q520A"}, ":OUTP1 ON", false},
      {{"Q510A"}, ":OUTP1:IMP 50", true},
      {{"Q510A"}, ":OUTP1:IMP:EXT 75", true},
      {{"Q510A"}, ":OUTP1:COMP ON", true},
      {{"Q510A"}, ":PULS:TRAN1:HOLD WRAT", false},
      {{"Q530A"}, ":OUTP1:IMP 1000", false},
      {{"Q530A"}, ":OUTP1:COMP ON", true},
      {{"Q530A"}, ":PULS:TRIG:SOUR 1", true},
      {{"Q510A"}, ":PULS:TRIG:SOUR 1", false},
      {{"Q540A"}, ":PULS:TRAN1:HOLD TIME", true},
      {{"Q540A"}, ":PULS:TRAN1:TRA:AUTO ON", true},
      {{"Q540A"}, ":PULS:TRAN1:TRA 2NS", true},
      {{"Q540A"}, ":PULS:TRAN1:TRA?", false},
      {{"Q540A"}, ":OUTP1:COMP ON", false},
      {{"M4010A"}, ":DIG:PATT ON", true},
      {{"M4010A"},
       ":DIG:PATT:DATA1 #11"
       "1",
       true},
      {{"M4010A"}, "*CAL?", true},
      {{"M4020A"}, "*CAL?", true},
      {{"M4020A"}, ":CAL:ALL?", false},  // the calibration state exists on every model
      {{"M4030A"}, "*CAL?", false},
      {{"M4030A", "M4010A"}, ":DIG:PATT ON", true},  // instrument-wide: every front-end must have it
      {{"M4030A", "M4030A"}, ":CHAN:MATH PLUS", false},
      {{"M4030A", "M4040A"}, ":CHAN:MATH PLUS", true},
      {{"M4030A"}, ":CHAN:MATH PLUS", true},  // needs two channels
      {{"M4040A"}, ":OUTP1:COMP ON", false},
      {{"M4030A", "M4040A"}, ":OUTP2:IMP 50", true},  // judged by the channel's own front-end
      {{"M4030A", "M4040A"}, ":OUTP1:IMP 50", false},
      // VXI trigger lines: only VXI mainframes carry them, and no front-end of the family has all of them.
      {{"Q530A"}, ":VXI:SOUR STR", true},
      {{"Q510A"}, ":VXI:LINE TTLT2", true},
      {{"Q510A"}, ":ARM:SOUR TTLT0", true},
      {{"M4030A"}, ":ARM:SOUR ECLT1", true},
      {{"M4030A"}, ":VXI:LINE NONE", true},
      {{"M4030A"}, ":ARM:SOUR MAN", false},
  };
  for (const Case& c : cases) {
    Session s(c.front_ends);
    s.ask(c.message);
    EXPECT_EQ(s.error_codes(), c.refused ? "-241" : "") << c.front_ends[0] << " " << c.message;
  }
}

TEST(PulseGeneratorTest, RefusedSettingsAreNotHalfApplied) {
  Session s({"M4030A", "M4030A"});
  s.send(":VOLT1:HLOW 2,1");
  s.send(":VOLT1:HLOW 3,-20");  // low out of range: high stays too
  EXPECT_EQ(s.ask(":VOLT1:HLOW?"), "2,1");
  s.send(":VOLT1:HIGH 0.5");  // below low
  EXPECT_EQ(s.error_codes(), "-222 -221");
  EXPECT_EQ(s.ask(":VOLT1:HLOW?"), "2,1");
  s.send(":VOLT1:LIM 1.5;:VOLT1:LIM:STAT ON");  // levels outside the limits: state stays off
  EXPECT_EQ(s.error_codes(), "-221");
  EXPECT_EQ(s.ask(":VOLT1:LIM:STAT?;:CURR1:LIM:STAT?"), "0;0");
}

TEST(PulseGeneratorTest, PeriodChangeKeepsTheHeldParameter) {
  struct Case {
    const char* hold;
    const char* after;  // width;duty cycle;trailing-edge delay after the period goes from 1 us to 2 us
  };
  const Case cases[] = {
      {"WIDT", "1E-07;5;3E-07"},
      {"DCYC", "2E-07;10;4E-07"},
      {"TDEL", "1E-07;5;3E-07"},
  };
  for (const Case& c : cases) {
    Session s({"Q530A"});
    s.send(":PULS:PER 1US;:PULS:DEL1 200NS;:PULS:WIDT1 100NS");
    s.send(std::string(":PULS:HOLD1 ") + c.hold);
    EXPECT_EQ(s.ask(":PULS:HOLD1?"), c.hold);
    s.send(":PULS:PER 2US");
    EXPECT_EQ(s.ask(":PULS:WIDT1?;DCYC1?;TDEL1?"), c.after) << c.hold;
    EXPECT_EQ(s.errors(), "");
  }
  // With the trailing-edge delay held, moving the delay moves the width.
  Session s({"Q530A"});
  s.send(":PULS:DEL1 200NS;:PULS:WIDT1 100NS;:PULS:HOLD1 TDEL;:PULS:DEL1 250NS");
  EXPECT_EQ(s.ask(":PULS:WIDT1?;TDEL1?"), "5E-08;3E-07");
  s.send(":PULS:DEL1 299NS");  // would leave less than the minimum width
  EXPECT_EQ(s.error_codes(), "-221");
}

TEST(PulseGeneratorTest, WarningsFollowTheirCause) {
  Session s({"Q510A", "Q510A"});
  s.send(":PULS:WIDT1 900NS");
  EXPECT_EQ(s.ask(":SYST:WARN:COUN?"), "0");
  s.send(":FREQ 2MHZ");  // period 500 ns: the width no longer fits
  EXPECT_EQ(s.ask(":SYST:WARN:COUN?"), "1");
  EXPECT_EQ(s.ask(":SYST:WARN:STRING?"), "\"Width clipped to fit period on channel 1\"");
  EXPECT_EQ(s.ask(":STAT:QUES:COND?"), "4");
  EXPECT_EQ(s.ask(":PULS:WIDT1?"), "9E-07");  // kept as programmed
  s.send(":VOLT2:HLOW 15,0");                 // beyond what 50 ohm allows
  EXPECT_EQ(s.ask(":SYST:WARN:STRING?"),
            "\"Width clipped to fit period on channel 1\";\"Levels clipped by load on channel 2\"");
  EXPECT_EQ(s.ask(":STAT:QUES:COND?"), "5");
  s.send(":FREQ 1MHZ;:VOLT2:HIGH 5");
  EXPECT_EQ(s.ask(":SYST:WARN:COUN?;:SYST:WARN:STRING?"), "0;\"\"");
  EXPECT_EQ(s.ask(":STAT:QUES:COND?;:STAT:QUES:EVEN?"), "0;5");
  EXPECT_EQ(s.errors(), "");
}

TEST(PulseGeneratorTest, LevelsVoltsCurrentsAndTheLoad) {
  Session s({"M4030A"});
  s.send(":VOLT1:HLOW 2,0");
  EXPECT_EQ(s.ask(":CURR1:HIGH?;:CURR1:LOW?"), "0.04;0");  // into 50 ohm
  s.send(":VOLT1 1");                                      // amplitude keeps the offset
  EXPECT_EQ(s.ask(":VOLT1:HLOW?;:VOLT1:OAMP?"), "1.5,0.5;1,1");
  s.send(":VOLT1:OFFS 0");  // offset keeps the amplitude
  EXPECT_EQ(s.ask(":VOLT1:HLOW?"), "0.5,-0.5");
  // Voltage held: the load changes the currents.
  s.send(":OUTP1:IMP:EXT 100");
  EXPECT_EQ(s.ask(":VOLT1:HIGH?;:CURR1:HIGH?"), "0.5;0.005");
  // Current held: the load changes the voltages.
  s.send(":HOLD CURR;:OUTP1:IMP:EXT 200");
  EXPECT_EQ(s.ask(":CURR1:HIGH?;:VOLT1:HIGH?"), "0.005;1");
  // Current limits apply to currents, voltage limits to voltages.
  s.send(":CURR1:LIM 0.004");
  EXPECT_EQ(s.error_codes(), "");
  s.send(":CURR1:LIM:STAT ON");
  EXPECT_EQ(s.error_codes(), "-221");
  s.send(":CURR1:LIM 0.01;:VOLT1:LIM:STAT ON;:CURR1:HIGH 0.02");
  EXPECT_EQ(s.error_codes(), "-221");
  EXPECT_EQ(s.ask(":VOLT1:LIM:STAT?;:CURR1:HIGH?"), "1;0.005");
  s.send(":CURR1:LIM:LOW 0.02");  // low limit above the high limit
  EXPECT_EQ(s.error_codes(), "-221");
  EXPECT_EQ(s.ask(":VOLT1:HIGH? MAX;:VOLT1? MIN;:CURR1:LOW? MIN"), "10;0.05;-0.05");
}

// A load change keeps the held unit; it is refused when the levels that follow would be refused themselves.
TEST(PulseGeneratorTest, LoadChangeThatWouldInvalidateTheLevelsIsRefused) {
  struct Case {
    const char* setup;
    const char* load;
    const char* errors;
    const char* levels;  // :VOLT1:HLOW? afterwards
  };
  const Case cases[] = {
      // Currents held: 20 mA into 1 kohm would be 20 V, beyond twice the 5 V the output can drive.
      {":HOLD CURR;:CURR1:HLOW 0.02,0", ":OUTP1:IMP:EXT 1000", "-221", "1,0"},
      {":HOLD CURR;:CURR1:HLOW 0.02,0", ":OUTP1:IMP:EXT 100", "", "2,0"},
      // ... and into 1 ohm the amplitude would fall below the front-end's 50 mV.
      {":HOLD CURR;:CURR1:HLOW 0.02,0", ":OUTP1:IMP:EXT 1", "-221", "1,0"},
      // Voltages held: any load keeps them, while the limits are off.
      {":VOLT1:HLOW 2,0", ":OUTP1:IMP:EXT 1", "", "2,0"},
      // Limits on: the currents into a smaller load would pass the current limit.
      {":VOLT1:HLOW 2,0;:CURR1:LIM 0.05;:VOLT1:LIM:STAT ON", ":OUTP1:IMP:EXT 25", "-221", "2,0"},
      {":VOLT1:HLOW 2,0;:CURR1:LIM 0.05;:VOLT1:LIM:STAT ON", ":OUTP1:IMP:EXT 40", "", "2,0"},
      // Limits on, currents held: the voltages into a larger load would pass the voltage limit.
      {":VOLT1:LIM 3;:VOLT1:LIM:STAT ON;:HOLD CURR;:CURR1:HLOW 0.04,0", ":OUTP1:IMP:EXT 100", "-221", "2,0"},
  };
  for (const Case& c : cases) {
    Session s({"M4030A"});
    s.send(c.setup);
    ASSERT_EQ(s.errors(), "") << c.setup;
    s.send(c.load);
    EXPECT_EQ(s.error_codes(), c.errors) << c.setup << " " << c.load;
    EXPECT_EQ(s.ask(":VOLT1:HLOW?"), c.levels) << c.setup << " " << c.load;
  }
}

// A hold with a value holds that value as it is: the form the learn string uses for settings that a period,
// delay or width change has carried out of their command's range.
TEST(PulseGeneratorTest, HoldsWithTheirValue) {
  Session s({"Q530A"});
  struct Case {
    const char* message;
    const char* query;
    const char* reply;
  };
  const Case accepted[] = {
      {":PULS:HOLD1 DCYC,2500", ":PULS:HOLD1?;:PULS:DCYC1?;:PULS:WIDT1?", "DCYC;2500;2.5E-05"},
      {":PULS:HOLD1 TDEL,5E-08", ":PULS:HOLD1?;:PULS:TDEL1?", "TDEL;5E-08"},
      {":PULS:DEL1:HOLD PRAT,250", ":PULS:DEL1:HOLD?;:PULS:DEL1?;:PULS:WIDT1?", "PRAT;2.5E-06;-2.45E-06"},
      {":PULS:DEL1:HOLD TIME,0", ":PULS:DEL1:HOLD?;:PULS:DEL1?", "TIME;0"},
      {":PULS:DOUB1:DEL:HOLD PRAT,40PCT", ":PULS:DOUB1:DEL?", "4E-07"},
      {":PULS:HOLD1 WIDT,2E-08S", ":PULS:HOLD1?;:PULS:WIDT1?", "WIDT;2E-08"},
      {":PULS:TRAN1:HOLD WRAT,300,10", ":PULS:TRAN1:HOLD?;:PULS:TRAN1?;:PULS:TRAN1:TRA?", "WRAT;6E-08;2E-09"},
      {":PULS:TRAN1:HOLD TIME,3E-09,4E-09", ":PULS:TRAN1?;:PULS:TRAN1:TRA?", "3E-09;4E-09"},
  };
  for (const Case& c : accepted) {
    s.send(c.message);
    EXPECT_EQ(s.errors(), "") << c.message;
    EXPECT_EQ(s.ask(c.query), c.reply) << c.message;
  }
  s.send(":PULS:HOLD1 DCYC,MAX;:PULS:DEL1:HOLD TIME,-1;:PULS:TRAN1:HOLD TIME,1E-09;:PULS:HOLD1 WIDT,1V");
  EXPECT_EQ(s.error_codes(), "-224 -222 -109 -131");
  EXPECT_EQ(s.ask(":PULS:HOLD1?;:PULS:DEL1:HOLD?;:PULS:TRAN1?"), "WIDT;TIME;3E-09");
}

// With the trailing-edge delay held, a longer period can push a ratio-held delay past it: there is no width
// left to take a ratio of.
TEST(PulseGeneratorTest, NoRatioToAWidthThatIsGone) {
  Session s({"Q530A"});
  s.send(
      ":PULS:PER 1US;:PULS:WIDT1 600NS;:PULS:HOLD1 TDEL;:PULS:DEL1:HOLD PRAT;:PULS:DEL1 50PCT;:PULS:PER 2US");
  EXPECT_EQ(s.ask(":PULS:WIDT1?"), "-4E-07");
  s.send(":PULS:TRAN1:HOLD WRAT");
  EXPECT_EQ(s.error_codes(), "-221");
  EXPECT_EQ(s.ask(":PULS:TRAN1:UNIT PCT;:PULS:TRAN1?"), "9.91E37");
  s.send(":PULS:PER 1US;:PULS:TRAN1:HOLD WRAT");
  EXPECT_EQ(s.ask(":PULS:TRAN1?;:PULS:TRAN1:HOLD?"), "5;WRAT");
  EXPECT_EQ(s.errors(), "");
}

TEST(PulseGeneratorTest, DelaysInEveryUnit) {
  Session s({"Q530A"});
  s.send(":PULS:PER 1US");
  struct Case {
    const char* set;
    const char* unit;
    const char* reply;
  };
  const Case cases[] = {
      {":PULS:DEL1 250NS", "S", "2.5E-07"},
      {":PULS:DEL1 25PCT", "S", "2.5E-07"},
      {":PULS:DEL1 90DEG", "PCT", "25"},
      {":PULS:DEL1 3.141592653589793RAD", "DEG", "180"},
      {":PULS:DEL1 100NS", "RAD", "0.628318530717959"},
  };
  for (const Case& c : cases) {
    s.send(std::string(":PULS:DEL1:UNIT ") + c.unit);
    s.send(c.set);
    EXPECT_EQ(s.ask(":PULS:DEL1?"), c.reply) << c.set;
  }
  // A plain number is taken in the default unit.
  s.send(":PULS:DEL1:UNIT PCT;:PULS:DEL1 10");
  EXPECT_EQ(s.ask(":PULS:DEL1:UNIT S;:PULS:DEL1?"), "1E-07");
  // Hold: absolute delays stay, ratios follow the period.
  s.send(":PULS:DEL1:HOLD PRAT;:PULS:PER 2US");
  EXPECT_EQ(s.ask(":PULS:DEL1?;:PULS:DEL1:HOLD?"), "2E-07;PRAT");
  s.send(":PULS:DEL1:HOLD TIME;:PULS:PER 1US");
  EXPECT_EQ(s.ask(":PULS:DEL1?"), "2E-07");
  s.send(":PULS:DEL1 120PCT;:PULS:DEL1 -1NS;:PULS:DEL1 5V");
  EXPECT_EQ(s.error_codes(), "-222 -222 -131");
  // Double pulses.
  s.send(":PULS:DOUB1 ON;:PULS:DOUB1:DEL 50PCT");
  EXPECT_EQ(s.ask(":PULS:DOUB1?;:PULS:DOUB1:DEL?"), "1;5E-07");
  s.send(":PULS:DOUB1:DEL 95PCT");  // the second pulse no longer fits
  EXPECT_EQ(s.ask(":SYST:WARN:STRING?"), "\"Double pulse does not fit period on channel 1\"");
  EXPECT_EQ(s.errors(), "");
}

TEST(PulseGeneratorTest, Transitions) {
  Session s({"Q530A"});
  s.send(":PULS:WIDT1 100NS;:PULS:TRAN1 10PCT");
  EXPECT_EQ(s.ask(":PULS:TRAN1?;:PULS:TRAN1:TRA?"), "1E-08;5E-09");
  s.send(":PULS:TRAN1:TRA:AUTO ON");
  EXPECT_EQ(s.ask(":PULS:TRAN1:TRA?;:PULS:TRAN1:TRA:AUTO?"), "1E-08;1");
  s.send(":PULS:TRAN1:TRA 2NS");  // coupled: refused
  EXPECT_EQ(s.error_codes(), "-221");
  s.send(":PULS:TRAN1:TRA:AUTO OFF;:PULS:TRAN1:TRA 2NS;:PULS:TRAN1:TRA:AUTO ONCE");
  EXPECT_EQ(s.ask(":PULS:TRAN1:TRA?;:PULS:TRAN1:TRA:AUTO?"), "1E-08;0");
  s.send(":PULS:TRAN1:TRA:AUTO ON;:PULS:TRAN1:TRA:AUTO ONCE;:PULS:TRAN1 4NS");  // ONCE ends the coupling
  EXPECT_EQ(s.ask(":PULS:TRAN1:TRA?;:PULS:TRAN1:TRA:AUTO?"), "1E-08;0");
  s.send(":PULS:TRAN1 10NS");
  // Ratio hold: the edges follow the width.
  s.send(":PULS:TRAN1:HOLD WRAT;:PULS:WIDT1 200NS;:PULS:TRAN1:UNIT PCT");
  EXPECT_EQ(s.ask(":PULS:TRAN1?;:PULS:TRAN1:UNIT?"), "10;PCT");
  s.send(":PULS:TRAN1:UNIT S");
  EXPECT_EQ(s.ask(":PULS:TRAN1?"), "2E-08");
  s.send(":PULS:TRAN1 0.1NS");
  EXPECT_EQ(s.error_codes(), "-222");
  // Without an independent trailing edge the trailing edge is the leading one.
  Session q({"Q540A"});
  q.send(":PULS:TRAN1 3NS");
  EXPECT_EQ(q.ask(":PULS:TRAN1:TRA?"), "3E-09");
}

TEST(PulseGeneratorTest, PatternData) {
  Session s({"M4030A"});
  // ASCII and binary positions may be mixed.
  s.send(std::string(":DIG:PATT:DATA1 #16") + std::string("10\x01\x00"
                                                          "01",
                                                          6));
  EXPECT_EQ(s.errors(), "");
  EXPECT_EQ(s.ask(":DIG:PATT:DATA1?"), "#16101001");
  s.send(":DIG:PATT:FORM BIN");
  EXPECT_EQ(s.ask(":DIG:PATT:FORM?;:DIG:PATT:DATA1?"), std::string("BIN;#16\x01\x00\x01\x00\x00\x01", 13));
  s.send(":DIG:PATT:FORM ASC;:DIG:PATT:PRES3 2,7");  // the strobe output
  EXPECT_EQ(s.ask(":DIG:PATT:DATA3?"), "#171100110");
  // Every order gives a maximal-length sequence: period 2^n - 1 with 2^(n-1) ones in it.
  for (int order = 7; order <= 14; ++order) {
    const std::size_t period = (1u << order) - 1;
    const std::size_t extra = std::min<std::size_t>(40, 16384 - period);
    s.send(":DIG:PATT:PRBS1 " + std::to_string(order) + "," + std::to_string(period + extra));
    const std::string reply = s.ask(":DIG:PATT:DATA1?");
    const std::string bits = reply.substr(2 + static_cast<std::size_t>(reply[1] - '0'));
    ASSERT_EQ(bits.size(), period + extra) << order;
    EXPECT_EQ(bits.substr(0, extra), bits.substr(period, extra)) << order;
    EXPECT_EQ(std::count(bits.begin(), bits.begin() + static_cast<long>(period), '1'), 1 << (order - 1))
        << order;
    for (std::size_t shift = 1; shift < 40; ++shift)
      ASSERT_NE(bits.substr(0, 40), bits.substr(shift, 40)) << order << " repeats early";
  }
  s.send(":DIG:PATT:DATA:ALL #13011");
  EXPECT_EQ(s.ask(":DIG:PATT:DATA1?;:DIG:PATT:DATA3?"), "#13011;#13011");
  s.send(":DIG:PATT:DATA1 #132x1");  // not a position
  s.send(
      ":DIG:PATT:DATA2 #11"
      "1");                        // one channel only
  s.send(":DIG:PATT:DATA1 1");     // not a block
  s.send(":DIG:PATT:PRBS1 6,10");  // order 7..14
  s.send(":DIG:PATT:DATA1 #516385" + std::string(16385, '1'));
  EXPECT_EQ(s.error_codes(), "-224 -114 -104 -222 -223");
  EXPECT_EQ(s.ask(":DIG:PATT:DATA1?"), "#13011");
  s.send(":DIG:SIGN1:FORM RZ");
  EXPECT_EQ(s.ask(":DIG:SIGN1:FORM?;:DIG:PATT:UPD?"), "RZ;CONT");
  s.send(":TRIG:COUN 20000;:DIG:PATT ON");  // pattern mode plays at most 16384 positions
  EXPECT_EQ(s.error_codes(), "-221");
}

TEST(PulseGeneratorTest, LearnStringRestoresEverySetting) {
  const std::vector<std::vector<std::string>> models = {
      {"M4030A", "M4040A"}, {"M4010A"}, {"M4020A", "M4020A"}, {"M4040A"},
      {"Q510A", "Q520A"},   {"Q520A"},  {"Q530A", "Q540A"},   {"Q540A", "Q510A"}};
  for (const auto& fe : models) {
    Session s(fe);
    // Settings away from *RST, where the model has them (refusals are fine here).
    s.send(":FREQ 5MHZ;:PULS:HOLD1 DCYC;:PULS:DCYC1 25;:PULS:DEL1:HOLD PRAT;:PULS:DEL1 12.5PCT");
    s.send(
        ":PULS:DEL1:UNIT DEG;:PULS:DOUB1 ON;:PULS:DOUB1:DEL 30NS;:PULS:TRAN1 2.5NS;:PULS:TRAN1:TRA:AUTO ON");
    s.send(":HOLD CURR;:OUTP1:IMP:EXT 75;:CURR1:HLOW 0.02,-0.01;:VOLT1:LIM:STAT ON;:OUTP1:POL INV;:OUTP1 ON");
    s.send(":OUTP1:COMP ON;:OUTP1:IMP 1000;:TRIG:SOUR EXT2;:TRIG:SLOP NEG;:ARM:SOUR EXT;:ARM:SENS LEV");
    s.send(
        ":ARM:SLOP EITH;:ARM:FREQ 250;:ROSC:SOUR CLK;:ROSC:FREQ 5MHZ;:PULS:STR:LEV ECL;:PULS:TRIG:SOUR:AUTO "
        "1");
    s.send(
        ":DIG:PATT:DATA1 #14\x01"
        "011;:DIG:PATT:FORM BIN;:DIG:SIGN1:FORM RZ;:TRIG:COUN 12;:DIG:PATT ON");
    s.errors();
    const std::string learned = s.ask("*LRN?");
    s.send("*RST");
    ASSERT_NE(s.ask("*LRN?"), learned);
    s.send(learned);
    EXPECT_EQ(s.errors(), "") << fe[0];
    EXPECT_EQ(s.ask("*LRN?"), learned) << fe[0];
  }
}

TEST(PulseGeneratorTest, SettingsMemoriesAndSecurity) {
  Session s({"M4030A"});
  s.send(":FREQ 3MHZ;*SAV 3;:FREQ 4MHZ;*SAV 9");
  s.send("*RST");
  EXPECT_EQ(s.ask(":FREQ?"), "1000000");
  s.send("*RCL 3");
  EXPECT_EQ(s.ask(":FREQ?"), "3000000");
  s.send("*SAV 10;*RCL -1");
  EXPECT_EQ(s.error_codes(), "-222 -222");
  s.send(
      ":DIG:PATT:DATA1 #11"
      "1;:SYST:SEC ON;:SYST:SEC OFF");  // leaving secure mode erases stored data
  s.send("*RCL 9");
  EXPECT_EQ(s.ask(":FREQ?;:DIG:PATT:DATA1?"), "1000000;#10");
}

TEST(PulseGeneratorTest, InjectedSelfTestAndCalibrationFailures) {
  DeviceConfig cfg = Session::config_for({"M4030A", "M4030A"});
  cfg.faults.self_test_result = 4;
  cfg.faults.calibration_fails = true;
  Session s = Session::with(cfg);
  EXPECT_EQ(s.ask("*TST?"), "4");
  EXPECT_EQ(s.ask(":CAL:ALL?"), "1");  // the state
  EXPECT_EQ(s.ask("*CAL?"), "1");      // a calibration run
  EXPECT_EQ(s.ask(":STAT:QUES:COND?"), "256");
  EXPECT_EQ(s.error_codes(), "-330 -340");
  s.device().faults().calibration_fails = false;
  s.device().faults().self_test_result = 0;
  EXPECT_EQ(s.ask(":CAL?"), "1");  // still failed until calibrated again
  EXPECT_EQ(s.ask("*CAL?;:CAL?;*TST?;:STAT:QUES:COND?"), "0;0;0;0");
}

TEST(PulseGeneratorTest, ClockInputMeasurement) {
  DeviceConfig cfg = Session::config_for({"Q530A"});
  cfg.clock_in_frequency = 2.5e6;
  Session s = Session::with(cfg);
  EXPECT_EQ(s.ask(":MEAS:FREQ?;:MEAS:PER?"), "2500000;4E-07");
  s.send(":FREQ:AUTO ONCE");
  EXPECT_EQ(s.ask(":FREQ?"), "2500000");
  cfg.clock_in_frequency = 0;
  Session none = Session::with(cfg);
  EXPECT_EQ(none.ask(":MEAS:FREQ?"), "9.91E37");
  none.send(":PULS:PER:AUTO ONCE");
  EXPECT_EQ(none.error_codes(), "-230 -230");
}

}  // namespace
}  // namespace pgx::sim
