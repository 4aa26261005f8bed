// Triggering (the CLK IN input and the pulse count) and arming (the EXT INPUT).

#include "sim/pulse_generator_commands.h"
#include "sim/scpi_error.h"

namespace pgx::sim::pg {
namespace {

using S = PulseGenerator::Settings;

constexpr Range kInputLevel{-10, 10, 1};
constexpr Range kTriggerImpedance{50, 10000, 50};
constexpr Range kArmImpedance{50, 10000, 10000};
constexpr Range kArmFrequency{kMinFrequency, 50e6, 1e3};
constexpr Range kArmPeriod{20e-9, kMaxPeriod, 1e-3};

void set_count(PulseGenerator& g, Call& c) {
  long long n = 0;
  if (!c.expect(1, 1) || !c.integer(0, 1, kMaxCount, n)) return;
  if (g.settings().pattern_on && n > kMaxPatternCount)
    return c.fail(err::kSettingsConflict, "pattern length above 16384");
  g.settings().trigger_count = n;
}
void query_count(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_integer(g.settings().trigger_count);
}

void set_trigger_source(PulseGenerator& g, Call& c) {
  set_choice(c, {"IMMediate", "INTernal2", "EXTernal2"}, g.settings().trigger_source);
}
void query_trigger_source(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_raw(kTriggerSourceReplies[g.settings().trigger_source]);
}

void set_trigger_slope(PulseGenerator& g, Call& c) {
  set_choice(c, {"POSitive", "NEGative"}, g.settings().trigger_slope);
}
void query_trigger_slope(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_raw(kSlopeReplies[g.settings().trigger_slope]);
}

// Inputs terminate into 50 ohm or 10 kohm.
template <double S::*Field, const Range& R>
void set_input_impedance(PulseGenerator& g, Call& c) {
  double r = 0;
  if (!set_value(c, kOhm, R, r)) return;
  if (r != 50 && r != 10000) return c.fail(err::kIllegalParameterValue, "50 or 10000 ohm");
  g.settings().*Field = r;
}

void set_arm_source(PulseGenerator& g, Call& c) {
  int src = 0;
  if (!set_choice(c,
                  {"IMMediate", "INTernal2", "EXTernal", "MANual", "ECLTrg0", "ECLTrg1", "TTLTrg0", "TTLTrg1",
                   "TTLTrg2", "TTLTrg3", "TTLTrg4", "TTLTrg5", "TTLTrg6", "TTLTrg7"},
                  src))
    return;
  if (src >= kFirstVxiArmSource && !g.need_vxi(c, kLackArmSourceVxi)) return;
  g.settings().arm_source = src;
}
void query_arm_source(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_raw(kArmSourceReplies[g.settings().arm_source]);
}

void set_arm_sense(PulseGenerator& g, Call& c) {
  set_choice(c, {"EDGE", "LEVel"}, g.settings().arm_sense);
}
void query_arm_sense(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_raw(kSenseReplies[g.settings().arm_sense]);
}

void set_arm_slope(PulseGenerator& g, Call& c) {
  set_choice(c, {"POSitive", "NEGative", "EITHer"}, g.settings().arm_slope);
}
void query_arm_slope(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_raw(kSlopeReplies[g.settings().arm_slope]);
}

// The arming frequency is the internal arming period seen the other way round.
void set_arm_frequency(PulseGenerator& g, Call& c) {
  double f = 0;
  if (set_value(c, kHz, kArmFrequency, f)) g.settings().arm_period = 1 / f;
}
void query_arm_frequency(PulseGenerator& g, Call& c) {
  query_value(c, kArmFrequency, 1 / g.settings().arm_period);
}

void set_external_width(PulseGenerator& g, Call& c) {
  set_bool(c, g.settings().external_width);
}
void query_external_width(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_bool(g.settings().external_width);
}

}  // namespace

void add_trigger_commands(CommandTree& t) {
  add<set_count, query_count>(t, ":TRIGger:COUNt");
  add<set_trigger_source, query_trigger_source>(t, ":TRIGger:SOURce");
  add<set_trigger_slope, query_trigger_slope>(t, ":TRIGger:SLOPe");
  add<set_number<&S::trigger_level, kInputLevel, kV>, query_number<&S::trigger_level, kInputLevel>>(
      t, ":TRIGger:LEVel");
  add<set_input_impedance<&S::trigger_impedance, kTriggerImpedance>,
      query_number<&S::trigger_impedance, kTriggerImpedance>>(t, ":TRIGger:IMPedance");

  add<set_arm_source, query_arm_source>(t, ":ARM:SOURce");
  add<set_arm_sense, query_arm_sense>(t, ":ARM:SENSe");
  add<set_arm_slope, query_arm_slope>(t, ":ARM:SLOPe");
  add<set_arm_frequency, query_arm_frequency>(t, ":ARM:FREQuency");
  add<set_number<&S::arm_period, kArmPeriod, kS>, query_number<&S::arm_period, kArmPeriod>>(t, ":ARM:PERiod");
  add<set_external_width, query_external_width>(t, ":ARM:EWIDth[:STATe]");
  add<set_number<&S::arm_level, kInputLevel, kV>, query_number<&S::arm_level, kInputLevel>>(t, ":ARM:LEVel");
  add<set_input_impedance<&S::arm_impedance, kArmImpedance>, query_number<&S::arm_impedance, kArmImpedance>>(
      t, ":ARM:IMPedance");
}

}  // namespace pgx::sim::pg
