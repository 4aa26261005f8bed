// Every typed function against simulated instruments: set, read back, and refused where the connected
// front-end or mainframe lacks the function (the instrument agrees with the driver's refusals).

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/pgxgen.h"
#include "driver/testing/bench.h"

namespace pgx::driver {
namespace {

using testing::Bench;
using testing::Session;

const std::vector<testing::Instrument> kBench = {
    {"VXI0::8::INSTR", {"M4010A"}},
    {"VXI0::24::INSTR", {"M4030A", "M4030A"}},
    {"VXI0::32::INSTR", {"M4040A", "M4040A"}},
    {"GPIB0::10::INSTR", {"Q510A"}},
    {"GPIB0::11::INSTR", {"Q520A", "Q520A"}},
    {"GPIB0::12::INSTR", {"Q530A", "Q530A"}},
    {"GPIB0::13::INSTR", {"Q540A", "Q540A"}},
};

class DriverFunctions : public ::testing::Test {
 protected:
  // Answer of a raw query, for checking what a function set.
  static std::string ask(ViSession vi, const char* query) {
    ViChar answer[256] = "";
    EXPECT_EQ(pgxgen_cmdString_Q(vi, query, sizeof answer, answer), VI_SUCCESS) << query;
    return answer;
  }

  Bench bench_{kBench};
};

TEST_F(DriverFunctions, LevelsLimitsAndOutputsReadBack) {
  Session s("VXI0::24::INSTR");
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  ViInt16 type = -1;
  ViReal64 a = 0, b = 0;
  ASSERT_EQ(pgxgen_levelHighLow(s, 2, PGXGEN_LEVEL_VOLTAGE, 2.0, -1.0), VI_SUCCESS);
  ASSERT_EQ(pgxgen_levelHighLow_Q(s, 2, &type, &a, &b), VI_SUCCESS);
  EXPECT_EQ(type, PGXGEN_LEVEL_VOLTAGE);
  EXPECT_DOUBLE_EQ(a, 2.0);
  EXPECT_DOUBLE_EQ(b, -1.0);
  ASSERT_EQ(pgxgen_levelOffsetAmplitude_Q(s, 2, &type, &a, &b), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(a, 0.5);
  EXPECT_DOUBLE_EQ(b, 3.0);
  ASSERT_EQ(pgxgen_levelOffsetAmplitude(s, 2, PGXGEN_LEVEL_VOLTAGE, -0.25, 1.5), VI_SUCCESS);
  ASSERT_EQ(pgxgen_levelHighLow_Q(s, 2, &type, &a, &b), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(a, 0.5);
  EXPECT_DOUBLE_EQ(b, -1.0);
  // Currents into the 50 ohm load: the same levels in amperes, and the hold follows.
  ASSERT_EQ(pgxgen_levelHighLow(s, 1, PGXGEN_LEVEL_CURRENT, 0.04, -0.02), VI_SUCCESS);
  ASSERT_EQ(pgxgen_levelHighLow_Q(s, 1, &type, &a, &b), VI_SUCCESS);
  EXPECT_EQ(type, PGXGEN_LEVEL_CURRENT);
  EXPECT_DOUBLE_EQ(a, 0.04);
  EXPECT_DOUBLE_EQ(b, -0.02);
  EXPECT_EQ(ask(s, ":VOLT1:HIGH?"), "2");

  struct Flag {
    const char* what;
    ViStatus (*set)(ViSession, ViInt16, ViBoolean);
    ViStatus (*get)(ViSession, ViInt16, ViBoolean*);
  };
  for (const Flag& f : {Flag{"limits", pgxgen_limitState, pgxgen_limitState_Q},
                        Flag{"output", pgxgen_outputStateNormal, pgxgen_outputStateNormal_Q}}) {
    for (ViBoolean value : {VI_TRUE, VI_FALSE}) {
      ViBoolean read = 7;
      ASSERT_EQ(f.set(s, 2, value), VI_SUCCESS) << f.what;
      ASSERT_EQ(f.get(s, 2, &read), VI_SUCCESS) << f.what;
      EXPECT_EQ(read, value) << f.what;
    }
  }
  for (ViInt16 value : {PGXGEN_POLARITY_INVERTED, PGXGEN_POLARITY_NORMAL}) {
    ViInt16 read = -1;
    ASSERT_EQ(pgxgen_outputPolarity(s, 2, value), VI_SUCCESS);
    ASSERT_EQ(pgxgen_outputPolarity_Q(s, 2, &read), VI_SUCCESS);
    EXPECT_EQ(read, value);
  }
  for (ViInt16 value : {PGXGEN_FORMAT_RZ, PGXGEN_FORMAT_NRZ}) {
    ViInt16 read = -1;
    ASSERT_EQ(pgxgen_modePatternDataFormat(s, 2, value), VI_SUCCESS);
    ASSERT_EQ(pgxgen_modePatternDataFormat_Q(s, 2, &read), VI_SUCCESS);
    EXPECT_EQ(read, value);
  }
  ASSERT_EQ(pgxgen_configOutputImpedance(s, 2, 1000), VI_SUCCESS);
  ASSERT_EQ(pgxgen_configOutputImpedance_Q(s, 2, &a), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(a, 1000);
  ASSERT_EQ(pgxgen_configOutputLoadCompensation(s, 2, 75), VI_SUCCESS);
  ASSERT_EQ(pgxgen_configOutputLoadCompensation_Q(s, 2, &a), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(a, 75);

  ViInt16 math = -1;
  ASSERT_EQ(pgxgen_outputMath_Q(s, &math), VI_SUCCESS);
  EXPECT_EQ(math, PGXGEN_MATH_OFF);
  ASSERT_EQ(pgxgen_cmdString(s, ":CHAN:MATH", "PLUS"), VI_SUCCESS);
  ASSERT_EQ(pgxgen_outputMath_Q(s, &math), VI_SUCCESS);
  EXPECT_EQ(math, PGXGEN_MATH_PLUS);
}

TEST_F(DriverFunctions, TimingReadsBackWithUnits) {
  Session s("VXI0::24::INSTR");
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  ViReal64 value = 0;
  ViInt16 unit = -1, hold = -1;
  struct Real {
    const char* what;
    ViStatus (*set)(ViSession, ViInt16, ViReal64);
    ViStatus (*get)(ViSession, ViInt16, ViReal64*);
    ViReal64 value;
  };
  for (const Real& r :
       {Real{"width", pgxgen_timeWidth, pgxgen_timeWidth_Q, 20e-9},
        Real{"duty cycle", pgxgen_timeWidthDutyCycle, pgxgen_timeWidthDutyCycle_Q, 25},
        Real{"trailing delay", pgxgen_timeWidthTrailingDelay, pgxgen_timeWidthTrailingDelay_Q, 300e-9}}) {
    ASSERT_EQ(r.set(s, 2, r.value), VI_SUCCESS) << r.what;
    ASSERT_EQ(r.get(s, 2, &value), VI_SUCCESS) << r.what;
    EXPECT_DOUBLE_EQ(value, r.value) << r.what;
  }
  struct Choice {
    const char* what;
    ViStatus (*set)(ViSession, ViInt16, ViInt16);
    ViStatus (*get)(ViSession, ViInt16, ViInt16*);
    std::vector<ViInt16> values;
  };
  for (const Choice& c :
       {Choice{"width hold", pgxgen_timeWidthHold, pgxgen_timeWidthHold_Q, {2, 1, 0}},
        Choice{"pulse type", pgxgen_modePulseType, pgxgen_modePulseType_Q, {2, 1}},
        Choice{"delay hold", pgxgen_timeDelayHold, pgxgen_timeDelayHold_Q, {2, 1}},
        Choice{"double delay hold", pgxgen_timeDelayDoubleHold, pgxgen_timeDelayDoubleHold_Q, {2, 1}},
        Choice{"edge hold", pgxgen_timeEdgeHold, pgxgen_timeEdgeHold_Q, {2, 1}},
        Choice{"coupling", pgxgen_timeEdgeTrailingCoupling, pgxgen_timeEdgeTrailingCoupling_Q, {1, 0}}}) {
    for (ViInt16 v : c.values) {
      ASSERT_EQ(c.set(s, 1, v), VI_SUCCESS) << c.what << " " << v;
      ASSERT_EQ(c.get(s, 1, &hold), VI_SUCCESS) << c.what;
      EXPECT_EQ(hold, v) << c.what;
    }
  }
  // A value given in a unit is read back in the channel's default unit.
  ASSERT_EQ(pgxgen_timeDelay(s, 2, PGXGEN_UNIT_PERCENT, 10), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeDelay_Q(s, 2, &unit, &value), VI_SUCCESS);
  EXPECT_EQ(unit, PGXGEN_UNIT_SECONDS);
  EXPECT_DOUBLE_EQ(value, 100e-9);
  ASSERT_EQ(pgxgen_cmdString(s, ":PULS:DEL2:UNIT", "DEG"), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeDelay_Q(s, 2, &unit, &value), VI_SUCCESS);
  EXPECT_EQ(unit, PGXGEN_UNIT_DEGREES);
  EXPECT_DOUBLE_EQ(value, 36);
  ASSERT_EQ(pgxgen_timeDelay(s, 2, PGXGEN_UNIT_RADIANS, 3.141592653589793), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeDelay_Q(s, 2, &unit, &value), VI_SUCCESS);
  EXPECT_NEAR(value, 180, 1e-9);

  ASSERT_EQ(pgxgen_timeDelayDouble(s, 2, PGXGEN_UNIT_SECONDS, 300e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeDelayDouble_Q(s, 2, &unit, &value), VI_SUCCESS);
  EXPECT_EQ(unit, PGXGEN_UNIT_SECONDS);
  EXPECT_DOUBLE_EQ(value, 300e-9);
  ASSERT_EQ(pgxgen_timeEdgeLeading(s, 2, PGXGEN_UNIT_SECONDS, 2e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeEdgeTrailing(s, 2, PGXGEN_UNIT_SECONDS, 3e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeEdgeLeading_Q(s, 2, &unit, &value), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(value, 2e-9);
  ASSERT_EQ(pgxgen_timeEdgeTrailing_Q(s, 2, &unit, &value), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(value, 3e-9);
  ASSERT_EQ(pgxgen_cmdString(s, ":PULS:TRAN2:UNIT", "PCT"), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeEdgeLeading_Q(s, 2, &unit, &value), VI_SUCCESS);
  EXPECT_EQ(unit, PGXGEN_UNIT_PERCENT);

  EXPECT_EQ(pgxgen_timeCalibration(s), VI_SUCCESS);
  // The measurements take the frequency at CLK IN as the pulse frequency.
  ASSERT_EQ(pgxgen_timePeriodMeasure(s), VI_SUCCESS);
  EXPECT_EQ(ask(s, ":FREQ?"), ask(s, ":MEAS:FREQ?"));
  ASSERT_EQ(pgxgen_cmdReal(s, ":FREQ", 1234), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeFrequencyMeasure(s), VI_SUCCESS);
  EXPECT_EQ(ask(s, ":FREQ?"), ask(s, ":MEAS:FREQ?"));
}

TEST_F(DriverFunctions, ModesSetTheWholeTriggerState) {
  Session s("GPIB0::12::INSTR");
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  const char* state =
      ":ARM:EWID?;:DIG:PATT?;:TRIG:COUN?;:TRIG:SOUR?;:TRIG:SLOP?;:ARM:SOUR?;:ARM:SENS?;:ARM:SLOP?";
  const struct {
    const char* what;
    std::function<ViStatus(ViSession)> call;
    const char* expected;
  } cases[] = {
      {"continuous pulses", [](ViSession v) { return pgxgen_modeContinuousPulses(v, 1, 0); },
       "0;0;1;INT2;NEG;IMM;EDGE;POS"},
      {"continuous burst", [](ViSession v) { return pgxgen_modeContinuousBurst(v, 12, 2, 1); },
       "0;0;12;EXT2;POS;IMM;EDGE;POS"},
      {"continuous pattern", [](ViSession v) { return pgxgen_modeContinuousPattern(v, 0, 3); },
       "0;1;12;IMM;POS;IMM;EDGE;POS"},
      {"gated pulses", [](ViSession v) { return pgxgen_modeGatedPulses(v, 0, 0, 3, 0); },
       "0;0;1;IMM;NEG;EXT;LEV;NEG"},
      {"gated burst", [](ViSession v) { return pgxgen_modeGatedBurst(v, 3, 0, 3, 4, 3); },
       "0;0;3;IMM;NEG;MAN;LEV;NEG"},
      {"gated pattern", [](ViSession v) { return pgxgen_modeGatedPattern(v, 1, 1, 3, 1); },
       "0;1;3;INT2;POS;EXT;LEV;POS"},
      {"triggered pulses", [](ViSession v) { return pgxgen_modeTriggeredPulses(v, 3, 2); },
       "0;0;1;INT2;POS;EXT;EDGE;EITH"},
      {"triggered burst", [](ViSession v) { return pgxgen_modeTriggeredBurst(v, 100, 0, 0, 1, 1, 1, 2e3); },
       "0;0;100;IMM;NEG;INT2;EDGE;POS"},
      {"triggered pattern", [](ViSession v) { return pgxgen_modeTriggeredPattern(v, 2, 1, 1, 0, 0, 1e-3); },
       "0;1;100;EXT2;POS;INT2;EDGE;NEG"},
  };
  ASSERT_EQ(pgxgen_cmd(s, ":ARM:EWID ON"), VI_SUCCESS);
  for (const auto& c : cases) {
    ASSERT_EQ(c.call(s), VI_SUCCESS) << c.what;
    EXPECT_EQ(ask(s, state), c.expected) << c.what;
  }
  // The PLL arming rate of the last two modes.
  EXPECT_EQ(ask(s, ":ARM:PER?"), "0.001");
  ASSERT_EQ(pgxgen_modeTriggeredBurst(s, 100, 0, 0, 1, 1, 1, 2e3), VI_SUCCESS);
  EXPECT_EQ(ask(s, ":ARM:FREQ?"), "2000");
}

TEST_F(DriverFunctions, TriggerOutputVxiAndPllReference) {
  Session s("GPIB0::10::INSTR");
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  for (ViInt16 output = 0; output <= 2; ++output) {
    for (ViInt16 level : {2, 1, 0}) {
      ViInt16 read = -1;
      ASSERT_EQ(pgxgen_configTriggerOutLevel(s, output, level), VI_SUCCESS);
      ASSERT_EQ(pgxgen_configTriggerOutLevel_Q(s, output, &read), VI_SUCCESS);
      EXPECT_EQ(read, level) << output;
    }
  }
  ViInt16 source = -1;
  ASSERT_EQ(pgxgen_configTriggerOutSource_Q(s, &source), VI_SUCCESS);
  EXPECT_EQ(source, 1);
  ASSERT_EQ(pgxgen_cmd(s, ":PULS:TRIG:SOUR:AUTO ON"), VI_SUCCESS);
  ASSERT_EQ(pgxgen_configTriggerOutSource_Q(s, &source), VI_SUCCESS);
  EXPECT_EQ(source, 0);

  ViReal64 frequency = 0;
  ASSERT_EQ(pgxgen_configPllReference(s, PGXGEN_PLLREF_CLOCK_IN, 5e6), VI_SUCCESS);
  ASSERT_EQ(pgxgen_configPllReference_Q(s, &source, &frequency), VI_SUCCESS);
  EXPECT_EQ(source, PGXGEN_PLLREF_CLOCK_IN);
  EXPECT_DOUBLE_EQ(frequency, 5e6);
  // An internal reference leaves the external frequency as it is.
  ASSERT_EQ(pgxgen_configPllReference(s, PGXGEN_PLLREF_INTERNAL2, 0), VI_SUCCESS);
  ASSERT_EQ(pgxgen_configPllReference_Q(s, &source, &frequency), VI_SUCCESS);
  EXPECT_EQ(source, PGXGEN_PLLREF_INTERNAL2);
  EXPECT_DOUBLE_EQ(frequency, 5e6);
  EXPECT_EQ(pgxgen_configPllReference(s, PGXGEN_PLLREF_CLOCK_IN, -1), PGXGEN_ERROR_PLL_FREQUENCY);

  // VXI trigger lines need a VXI mainframe whose front-ends have them; none of the family has the source.
  EXPECT_EQ(pgxgen_outputEnableVxiTrigger(s, PGXGEN_VXI_LINE_NONE), PGXGEN_ERROR_NOT_VXI);
  EXPECT_EQ(pgxgen_outputSourceVxiTrigger_Q(s, &source), PGXGEN_ERROR_NOT_VXI);
}

TEST_F(DriverFunctions, PatternDataBuffersFilesAndGenerators) {
  Session s("GPIB0::12::INSTR");
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  const ViByte binary[] = {1, 0, 1, 1, 0, 0, 1, 0};
  const ViByte ascii[] = {'0', '1', '1', '0'};
  ViByte read[16];
  ViInt32 count = 0;
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer(s, 1, binary, 8), VI_SUCCESS);
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(s, 1, read, &count, sizeof read, VI_FALSE), VI_SUCCESS);
  ASSERT_EQ(count, 8);
  EXPECT_EQ(std::memcmp(read, binary, 8), 0);
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(s, 1, read, &count, 5, VI_TRUE), VI_SUCCESS);
  ASSERT_EQ(count, 5);  // at most the capacity
  EXPECT_EQ(std::string(reinterpret_cast<char*>(read), 5), "10110");

  // All data channels at once: both channels and the strobe.
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer(s, PGXGEN_DATA_ALL, ascii, 4), VI_SUCCESS);
  for (ViInt16 channel : {1, 2, 3}) {
    ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(s, channel, read, &count, sizeof read, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(read), count), "0110") << channel;
  }

  ASSERT_EQ(pgxgen_patternDataPreset(s, 2, 2, 8), VI_SUCCESS);
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(s, 2, read, &count, sizeof read, VI_TRUE), VI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(read), count), "11001100");
  ASSERT_EQ(pgxgen_patternDataPRBS(s, 3, 7, 127), VI_SUCCESS);
  ViByte prbs[200];
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(s, 3, prbs, &count, sizeof prbs, VI_FALSE), VI_SUCCESS);
  EXPECT_EQ(count, 127);

  // Files: what one channel saves, another loads; both file forms.
  testing::TempDir dir;
  for (ViBoolean as_ascii : {VI_TRUE, VI_FALSE}) {
    const std::string file = dir.file(as_ascii ? "pattern.txt" : "pattern.bin");
    ASSERT_EQ(pgxgen_patternDataDownloadFile_Q(s, 2, as_ascii, file.c_str()), VI_SUCCESS);
    ASSERT_EQ(pgxgen_patternDataDownloadFile(s, 1, file.c_str()), VI_SUCCESS);
    ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(s, 1, read, &count, sizeof read, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(read), count), "11001100");
  }
  EXPECT_EQ(testing::read_file(dir.file("pattern.txt")), "11001100\n");
  const std::string bad = dir.write("bad.txt", "0101x");
  EXPECT_EQ(pgxgen_patternDataDownloadFile(s, 1, bad.c_str()), PGXGEN_ERROR_FILE_FORMAT);
  EXPECT_EQ(pgxgen_patternDataDownloadFile(s, 1, dir.file("missing").c_str()), PGXGEN_ERROR_FILE_IO);
  EXPECT_EQ(pgxgen_patternDataDownloadFile_Q(s, 1, VI_TRUE, dir.file("no/such/dir").c_str()),
            PGXGEN_ERROR_FILE_IO);

  for (ViInt16 mode : {PGXGEN_UPDATE_ONCE, PGXGEN_UPDATE_OFF, PGXGEN_UPDATE_CONTINUOUS}) {
    ViInt16 value = -1;
    ASSERT_EQ(pgxgen_patternUpdate(s, mode), VI_SUCCESS);
    ASSERT_EQ(pgxgen_patternUpdate_Q(s, &value), VI_SUCCESS);
    EXPECT_EQ(value, mode);
  }
}

TEST_F(DriverFunctions, SettingMemoriesAndFiles) {
  Session s("VXI0::32::INSTR");
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 20e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_settingStore(s, 9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth(s, 1, 30e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_settingRecall(s, 9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 20e-9);

  testing::TempDir dir;
  const std::string file = dir.file("setting.lrn");
  ASSERT_EQ(pgxgen_timeWidth(s, 2, 40e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_settingFile_Q(s, file.c_str()), VI_SUCCESS);
  ASSERT_EQ(pgxgen_reset(s), VI_SUCCESS);
  ASSERT_EQ(pgxgen_settingFile(s, file.c_str()), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 2, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 40e-9);
  EXPECT_EQ(pgxgen_settingFile(s, dir.write("empty.lrn", "\n").c_str()), PGXGEN_ERROR_FILE_FORMAT);
}

// What the driver refuses for lack of a front-end function, mainframe or channel, the instrument refuses
// too: the same call without the identity check (the driver then knows nothing of the instrument)
// fails in the instrument.
TEST_F(DriverFunctions, RestrictedFunctionsAreRefusedBeforeSending) {
  ViReal64 real = 0;
  ViInt16 i16 = 0;
  ViBoolean flag = 0;
  const ViByte data[] = {1, 0};
  const struct {
    const char* resource;
    const char* what;
    std::function<ViStatus(ViSession)> call;
    ViStatus expected;
  } cases[] = {
      {"GPIB0::11::INSTR", "Q520A levels", [&](ViSession v) { return pgxgen_levelHighLow(v, 1, 0, 1, 0); },
       PGXGEN_ERROR_NOT_SUPPORTED},
      {"GPIB0::11::INSTR", "Q520A limits", [&](ViSession v) { return pgxgen_limitState_Q(v, 2, &flag); },
       PGXGEN_ERROR_NOT_SUPPORTED},
      {"GPIB0::11::INSTR", "Q520A transitions",
       [&](ViSession v) { return pgxgen_timeEdgeLeading(v, 1, 0, 5e-9); }, PGXGEN_ERROR_NOT_SUPPORTED},
      {"GPIB0::10::INSTR", "Q510A channel 2", [&](ViSession v) { return pgxgen_timeWidth(v, 2, 20e-9); },
       PGXGEN_ERROR_CHANNEL},
      {"GPIB0::10::INSTR", "Q510A impedance",
       [&](ViSession v) { return pgxgen_configOutputImpedance(v, 1, 50); }, PGXGEN_ERROR_NOT_SUPPORTED},
      {"GPIB0::10::INSTR", "Q510A math", [&](ViSession v) { return pgxgen_outputMath_Q(v, &i16); },
       PGXGEN_ERROR_NOT_SUPPORTED},
      {"GPIB0::12::INSTR", "Q530A VXI line", [&](ViSession v) { return pgxgen_outputEnableVxiTrigger(v, 5); },
       PGXGEN_ERROR_NOT_VXI},
      {"GPIB0::12::INSTR", "Q530A VXI arming",
       [&](ViSession v) { return pgxgen_modeTriggeredPulses(v, 7, 1); }, PGXGEN_ERROR_NOT_VXI},
      {"GPIB0::12::INSTR", "Q530A complement",
       [&](ViSession v) { return pgxgen_outputStateComplement(v, 1, 1); }, PGXGEN_ERROR_NOT_SUPPORTED},
      {"VXI0::8::INSTR", "M4010A pattern data",
       [&](ViSession v) { return pgxgen_patternDataDownloadBuffer(v, 1, data, 2); },
       PGXGEN_ERROR_NOT_SUPPORTED},
      {"VXI0::8::INSTR", "M4010A pattern mode",
       [&](ViSession v) { return pgxgen_modeContinuousPattern(v, 0, 1); }, PGXGEN_ERROR_NOT_SUPPORTED},
      {"VXI0::8::INSTR", "M4010A calibration", [&](ViSession v) { return pgxgen_timeCalibration(v); },
       PGXGEN_ERROR_NOT_SUPPORTED},
      {"VXI0::8::INSTR", "M4010A VXI arming",
       [&](ViSession v) { return pgxgen_modeGatedPulses(v, 0, 1, 5, 1); }, PGXGEN_ERROR_NOT_SUPPORTED},
      {"VXI0::32::INSTR", "M4040A trailing edge",
       [&](ViSession v) { return pgxgen_timeEdgeTrailing(v, 2, 0, 1e-9); }, PGXGEN_ERROR_NOT_SUPPORTED},
      {"VXI0::32::INSTR", "M4040A edge hold", [&](ViSession v) { return pgxgen_timeEdgeHold(v, 1, 1); },
       PGXGEN_ERROR_NOT_SUPPORTED},
      {"VXI0::32::INSTR", "M4040A coupling",
       [&](ViSession v) { return pgxgen_timeEdgeTrailingCoupling_Q(v, 1, &i16); },
       PGXGEN_ERROR_NOT_SUPPORTED},
      {"VXI0::24::INSTR", "M4030A trigger-output source",
       [&](ViSession v) { return pgxgen_configTriggerOutSource_Q(v, &i16); }, PGXGEN_ERROR_NOT_SUPPORTED},
      {"VXI0::24::INSTR", "M4030A VXI source",
       [&](ViSession v) { return pgxgen_outputSourceVxiTrigger(v, 1); }, PGXGEN_ERROR_NOT_SUPPORTED},
      {"GPIB0::13::INSTR", "Q540A impedance",
       [&](ViSession v) { return pgxgen_configOutputImpedance_Q(v, 2, &real); }, PGXGEN_ERROR_NOT_SUPPORTED},
  };
  for (const auto& c : cases) {
    {
      Session s(c.resource);
      ASSERT_EQ(s.status(), VI_SUCCESS) << c.what;
      testing::Trace trace;
      EXPECT_EQ(c.call(s), c.expected) << c.what;
      EXPECT_EQ(testing::Trace::count(trace.take(), "viWrite"), 0) << c.what;
    }
    Session unknown(c.resource, VI_FALSE);
    ASSERT_EQ(pgxgen_errorQueryDetect(unknown, VI_TRUE), VI_SUCCESS);
    ASSERT_EQ(pgxgen_timeOut(unknown, 200), VI_SUCCESS);
    EXPECT_EQ(c.call(unknown), PGXGEN_ERROR_INSTRUMENT) << c.what << " (instrument)";
  }
  // Reading the trailing edge of a front-end without an independent one works: it follows the leading one.
  Session s("VXI0::32::INSTR");
  ASSERT_EQ(pgxgen_timeEdgeTrailing_Q(s, 1, &i16, &real), VI_SUCCESS);
}

}  // namespace
}  // namespace pgx::driver
