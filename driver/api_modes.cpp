// The nine operating modes. Each sets the whole trigger, arming and pattern state of its mode in one
// message; an "as is" slope or PLL format leaves that setting as it is.

#include "driver/typed_support.h"

using namespace pgx::driver;

namespace {

const Keywords kPeriodSource = {{PGXGEN_PERIOD_INTERNAL_OSC, "IMM"},
                                {PGXGEN_PERIOD_INTERNAL_PLL, "INT2"},
                                {PGXGEN_PERIOD_CLOCK_INPUT, "EXT2"}};
const Keywords kTriggerSlope = {
    {PGXGEN_SLOPE_NEGATIVE, "NEG"}, {PGXGEN_SLOPE_POSITIVE, "POS"}, {PGXGEN_SLOPE_AS_IS, ""}};
const Keywords kArmSlope = {{PGXGEN_SLOPE_NEGATIVE, "NEG"},
                            {PGXGEN_SLOPE_POSITIVE, "POS"},
                            {PGXGEN_SLOPE_EITHER, "EITH"},
                            {PGXGEN_SLOPE_AS_IS, ""}};
const Keywords kArmSource = {{PGXGEN_ARM_IMMEDIATE, "IMM"},
                             {PGXGEN_ARM_INTERNAL_PLL, "INT2"},
                             {PGXGEN_ARM_EXTERNAL, "EXT"},
                             {PGXGEN_ARM_MANUAL, "MAN"},
                             {PGXGEN_ARM_ECLT0, "ECLT0"},
                             {PGXGEN_ARM_ECLT1, "ECLT1"},
                             {7, "TTLT0"},
                             {8, "TTLT1"},
                             {9, "TTLT2"},
                             {10, "TTLT3"},
                             {11, "TTLT4"},
                             {12, "TTLT5"},
                             {13, "TTLT6"},
                             {14, "TTLT7"}};
const Keywords kPllFormat = {
    {PGXGEN_PLL_PERIOD, ":ARM:PER "}, {PGXGEN_PLL_FREQUENCY, ":ARM:FREQ "}, {PGXGEN_PLL_AS_IS, ""}};

constexpr ViInt32 kMinBurst = 2;
constexpr ViInt32 kMaxBurst = 65536;

enum class Count { kSingle, kBurst, kPattern };
enum class Arming { kContinuous, kGated, kTriggered };

// The arguments of a mode call; a position of 0 marks an argument the mode does not take.
struct ModeCall {
  Count count;
  Arming arming;
  ViInt32 burst_length = 0;
  int period_source = PGXGEN_PERIOD_INTERNAL_OSC;
  int trigger_slope = PGXGEN_SLOPE_AS_IS;
  int arm_source = PGXGEN_ARM_IMMEDIATE;
  int arm_slope = PGXGEN_SLOPE_AS_IS;
  int pll_format = PGXGEN_PLL_AS_IS;
  double pll_value = 0;
  // Parameter positions (1 is the session).
  int burst_position = 0, period_position = 0, trigger_slope_position = 0, arm_source_position = 0,
      arm_slope_position = 0, pll_format_position = 0, pll_value_position = 0;
};

ViStatus set_mode(ViSession vi, const ModeCall& m) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    // Enumerations first, in argument order.
    const char* period = m.period_position ? keyword_of(kPeriodSource, m.period_source) : nullptr;
    const char* trigger_slope = m.trigger_slope_position ? keyword_of(kTriggerSlope, m.trigger_slope) : "";
    const char* arm_source = m.arm_source_position ? keyword_of(kArmSource, m.arm_source) : "IMM";
    const char* arm_slope = m.arm_slope_position ? keyword_of(kArmSlope, m.arm_slope) : "";
    const char* pll = m.pll_format_position ? keyword_of(kPllFormat, m.pll_format) : "";
    if (m.period_position && period == nullptr) return parameter_error(m.period_position);
    if (trigger_slope == nullptr) return parameter_error(m.trigger_slope_position);
    if (arm_source == nullptr) return parameter_error(m.arm_source_position);
    if (arm_slope == nullptr) return parameter_error(m.arm_slope_position);
    if (pll == nullptr) return parameter_error(m.pll_format_position);
    const bool pll_armed =
        m.arming == Arming::kTriggered && m.arm_source == PGXGEN_ARM_INTERNAL_PLL && *pll != '\0';
    if (pll_armed && !is_finite(m.pll_value)) return parameter_error(m.pll_value_position);

    // Then what the connected instrument can do.
    if (m.count == Count::kBurst && (m.burst_length < kMinBurst || m.burst_length > kMaxBurst)) {
      return PGXGEN_ERROR_BURST_COUNT;
    }
    if (pll_armed && !(m.pll_value > 0)) return PGXGEN_ERROR_PLL_FREQUENCY;
    const bool has_pattern = check_supported(s, kNoChannel, kLackPattern) == VI_SUCCESS;
    if (m.count == Count::kPattern && !has_pattern) return PGXGEN_ERROR_NOT_SUPPORTED;
    if (m.arm_source >= PGXGEN_ARM_ECLT0) {
      ViStatus status = check_vxi(s);
      if (status < VI_SUCCESS) return status;
      status = check_supported(s, kNoChannel, kLackArmSourceVxi);
      if (status < VI_SUCCESS) return status;
    }

    std::string& command = s.command();
    command += ":ARM:EWID OFF";
    if (m.count == Count::kPattern) {
      command += ";:DIG:PATT ON";
    } else if (has_pattern) {
      command += ";:DIG:PATT OFF";
    }
    if (m.count == Count::kSingle) command += ";:TRIG:COUN 1";
    if (m.count == Count::kBurst) {
      command += ";:TRIG:COUN ";
      append_int(command, m.burst_length);
    }
    if (period != nullptr) {
      command += ";:TRIG:SOUR ";
      command += period;
    }
    if (*trigger_slope != '\0') {
      command += ";:TRIG:SLOP ";
      command += trigger_slope;
    }
    command += ";:ARM:SOUR ";
    command += arm_source;
    if (m.arming != Arming::kContinuous) {
      command += m.arming == Arming::kGated ? ";:ARM:SENS LEV" : ";:ARM:SENS EDGE";
      if (*arm_slope != '\0') {
        command += ";:ARM:SLOP ";
        command += arm_slope;
      }
    }
    if (pll_armed) {
      command += ';';
      command += pll;
      append_real(command, m.pll_value);
    }
    return s.send();
  });
}

}  // namespace

extern "C" {

ViStatus pgxgen_modeContinuousPulses(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope) {
  ModeCall m{Count::kSingle, Arming::kContinuous};
  m.period_source = periodSource, m.period_position = 2;
  m.trigger_slope = triggerSlope, m.trigger_slope_position = 3;
  return set_mode(vi, m);
}

ViStatus pgxgen_modeContinuousBurst(ViSession vi, ViInt32 burstLength, ViInt16 periodSource,
                                    ViInt16 triggerSlope) {
  ModeCall m{Count::kBurst, Arming::kContinuous};
  m.burst_length = burstLength, m.burst_position = 2;
  m.period_source = periodSource, m.period_position = 3;
  m.trigger_slope = triggerSlope, m.trigger_slope_position = 4;
  return set_mode(vi, m);
}

ViStatus pgxgen_modeContinuousPattern(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope) {
  ModeCall m{Count::kPattern, Arming::kContinuous};
  m.period_source = periodSource, m.period_position = 2;
  m.trigger_slope = triggerSlope, m.trigger_slope_position = 3;
  return set_mode(vi, m);
}

ViStatus pgxgen_modeGatedPulses(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope, ViInt16 armSource,
                                ViInt16 gateLevel) {
  ModeCall m{Count::kSingle, Arming::kGated};
  m.period_source = periodSource, m.period_position = 2;
  m.trigger_slope = triggerSlope, m.trigger_slope_position = 3;
  m.arm_source = armSource, m.arm_source_position = 4;
  m.arm_slope = gateLevel, m.arm_slope_position = 5;
  return set_mode(vi, m);
}

ViStatus pgxgen_modeGatedBurst(ViSession vi, ViInt32 burstLength, ViInt16 periodSource, ViInt16 triggerSlope,
                               ViInt16 armSource, ViInt16 gateLevel) {
  ModeCall m{Count::kBurst, Arming::kGated};
  m.burst_length = burstLength, m.burst_position = 2;
  m.period_source = periodSource, m.period_position = 3;
  m.trigger_slope = triggerSlope, m.trigger_slope_position = 4;
  m.arm_source = armSource, m.arm_source_position = 5;
  m.arm_slope = gateLevel, m.arm_slope_position = 6;
  return set_mode(vi, m);
}

ViStatus pgxgen_modeGatedPattern(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope, ViInt16 armSource,
                                 ViInt16 gateLevel) {
  ModeCall m{Count::kPattern, Arming::kGated};
  m.period_source = periodSource, m.period_position = 2;
  m.trigger_slope = triggerSlope, m.trigger_slope_position = 3;
  m.arm_source = armSource, m.arm_source_position = 4;
  m.arm_slope = gateLevel, m.arm_slope_position = 5;
  return set_mode(vi, m);
}

ViStatus pgxgen_modeTriggeredPulses(ViSession vi, ViInt16 armSource, ViInt16 armSlope) {
  ModeCall m{Count::kSingle, Arming::kTriggered};
  m.arm_source = armSource, m.arm_source_position = 2;
  m.arm_slope = armSlope, m.arm_slope_position = 3;
  return set_mode(vi, m);
}

ViStatus pgxgen_modeTriggeredBurst(ViSession vi, ViInt32 burstLength, ViInt16 periodSource,
                                   ViInt16 triggerSlope, ViInt16 armSource, ViInt16 armSlope,
                                   ViInt16 pllFormat, ViReal64 pllValue) {
  ModeCall m{Count::kBurst, Arming::kTriggered};
  m.burst_length = burstLength, m.burst_position = 2;
  m.period_source = periodSource, m.period_position = 3;
  m.trigger_slope = triggerSlope, m.trigger_slope_position = 4;
  m.arm_source = armSource, m.arm_source_position = 5;
  m.arm_slope = armSlope, m.arm_slope_position = 6;
  m.pll_format = pllFormat, m.pll_format_position = 7;
  m.pll_value = pllValue, m.pll_value_position = 8;
  return set_mode(vi, m);
}

ViStatus pgxgen_modeTriggeredPattern(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope,
                                     ViInt16 armSource, ViInt16 armSlope, ViInt16 pllFormat,
                                     ViReal64 pllValue) {
  ModeCall m{Count::kPattern, Arming::kTriggered};
  m.period_source = periodSource, m.period_position = 2;
  m.trigger_slope = triggerSlope, m.trigger_slope_position = 3;
  m.arm_source = armSource, m.arm_source_position = 4;
  m.arm_slope = armSlope, m.arm_slope_position = 5;
  m.pll_format = pllFormat, m.pll_format_position = 6;
  m.pll_value = pllValue, m.pll_value_position = 7;
  return set_mode(vi, m);
}

}  // extern "C"
