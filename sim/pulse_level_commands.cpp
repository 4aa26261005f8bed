// Levels of each channel (six forms, in volts and in amperes into the load), the level hold and the
// limits.

#include <algorithm>

#include "sim/pulse_generator_commands.h"
#include "sim/scpi_error.h"

namespace pgx::sim::pg {
namespace {

using Channel = PulseGenerator::Channel;

enum LevelForm { kAmplitude, kOffset, kHigh, kLow, kHighLow, kOffsetAmplitude };

// The ranges of the level forms of a front-end, in volts (volts_per_unit 1) or in amperes into a load
// (volts_per_unit = the load): high and low within twice the 50 ohm limits (an open load doubles the
// voltage), the amplitude within the front-end's range.
struct LevelRanges {
  Range amplitude;
  Range offset;
  Range high;
  Range low;
};
LevelRanges level_ranges(const FrontEndModel& m, double volts_per_unit) {
  const double span = kOpenLoadGain * std::max(m.max_high, -m.min_low) / volts_per_unit;
  return {
      {m.min_amplitude / volts_per_unit, kOpenLoadGain * m.max_amplitude / volts_per_unit,
       1 / volts_per_unit},
      {-span, span, 0.5 / volts_per_unit},
      {-span, span, 1 / volts_per_unit},
      {-span, span, 0},
  };
}

// Sets one level form; `Amps` says whether the values are currents into the load.
template <LevelForm Form, bool Amps>
void set_level(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel)) return;
  const double scale = Amps ? g.chan(ch).load : 1;  // value * scale = volts
  constexpr bool pair = Form == kHighLow || Form == kOffsetAmplitude;
  if (!c.expect(pair ? 2 : 1, pair ? 2 : 1)) return;
  constexpr unsigned unit = Amps ? kA : kV;
  const LevelRanges r = level_ranges(g.fe(ch), scale);
  double high = g.high_volts(ch), low = g.low_volts(ch);
  double a = 0, b = 0;
  switch (Form) {
    case kAmplitude: {
      if (!c.real(0, unit, r.amplitude, a)) return;
      const double offset = (high + low) / 2;
      high = offset + a * scale / 2;
      low = offset - a * scale / 2;
      break;
    }
    case kOffset: {
      if (!c.real(0, unit, r.offset, a)) return;
      const double amplitude = high - low;
      high = a * scale + amplitude / 2;
      low = a * scale - amplitude / 2;
      break;
    }
    case kHigh:
      if (!c.real(0, unit, r.high, a)) return;
      high = a * scale;
      break;
    case kLow:
      if (!c.real(0, unit, r.low, a)) return;
      low = a * scale;
      break;
    case kHighLow:
      if (!c.real(0, unit, r.high, a) || !c.real(1, unit, r.low, b)) return;
      high = a * scale;
      low = b * scale;
      break;
    case kOffsetAmplitude:
      if (!c.real(0, unit, r.offset, a) || !c.real(1, unit, r.amplitude, b)) return;
      high = (a + b / 2) * scale;
      low = (a - b / 2) * scale;
      break;
  }
  if (int e = g.check_levels(ch, high, low); e != 0) return c.fail(e);
  g.store_levels(ch, high, low);
}

template <LevelForm Form, bool Amps>
void query_level(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel)) return;
  const double scale = Amps ? g.chan(ch).load : 1;  // value * scale = volts
  const double per_volt = 1 / scale;
  const double high = g.high_volts(ch) * per_volt, low = g.low_volts(ch) * per_volt;
  const LevelRanges r = level_ranges(g.fe(ch), scale);
  char buf[40];
  switch (Form) {
    case kAmplitude:
      return query_value(c, r.amplitude, high - low);
    case kOffset:
      return query_value(c, r.offset, (high + low) / 2);
    case kHigh:
      return query_value(c, r.high, high);
    case kLow:
      return query_value(c, r.low, low);
    case kHighLow:
      if (!c.expect(0, 0)) return;
      c.reply_real(high);
      c.append_raw(",");
      c.append_raw(std::string_view(buf, format_real(low, buf)));
      return;
    case kOffsetAmplitude:
      if (!c.expect(0, 0)) return;
      c.reply_real((high + low) / 2);
      c.append_raw(",");
      c.append_raw(std::string_view(buf, format_real(high - low, buf)));
      return;
  }
}

template <LevelForm Form, bool Amps>
void add_level(CommandTree& t, std::string_view pattern) {
  add<set_level<Form, Amps>, query_level<Form, Amps>>(t, pattern);
}

void set_level_hold(PulseGenerator& g, Call& c) {
  int h = 0;
  if (set_choice(c, {"VOLTage", "CURRent"}, h)) g.set_level_hold(h);
}
void query_level_hold(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_raw(kLevelHoldReplies[g.settings().level_hold]);
}

// ---- Limits

enum LimitField { kVoltHigh, kVoltLow, kCurrHigh, kCurrLow };

constexpr bool is_current(LimitField f) {
  return f == kCurrHigh || f == kCurrLow;
}
constexpr bool is_high(LimitField f) {
  return f == kVoltHigh || f == kCurrHigh;
}
// Limits lie within twice the 50 ohm range; current limits are those voltages into 50 ohm.
Range limit_range(const FrontEndModel& m, LimitField f) {
  const double per = is_current(f) ? 50 : 1;
  const double span = kOpenLoadGain * std::max(m.max_high, -m.min_low) / per;
  return {-span, span, (is_high(f) ? m.max_high : m.min_low) / per};
}

template <LimitField F>
void set_limit(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel | kLackLimit)) return;
  Channel& k = g.chan(ch);
  constexpr bool amps = is_current(F);
  double v = 0;
  if (!set_value(c, amps ? kA : kV, limit_range(g.fe(ch), F), v)) return;
  PulseGenerator::Limits limits = k.limits;
  double& high = amps ? limits.curr_high : limits.volt_high;
  double& low = amps ? limits.curr_low : limits.volt_low;
  (is_high(F) ? high : low) = v;
  if (high <= low) return c.fail(err::kSettingsConflict, "limit high must exceed limit low");
  if (k.limits_on && !limits.hold(g.high_volts(ch), g.low_volts(ch), k.load))
    return c.fail(err::kSettingsConflict, "levels outside the limits");
  k.limits = limits;
}

template <LimitField F>
void query_limit(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel | kLackLimit)) return;
  const Channel& k = g.chan(ch);
  const double values[] = {k.limits.volt_high, k.limits.volt_low, k.limits.curr_high, k.limits.curr_low};
  query_value(c, limit_range(g.fe(ch), F), values[F]);
}

// One limit state per channel for both the voltage and the current limits.
void set_limit_state(PulseGenerator& g, Call& c) {
  int ch = 0;
  bool on = false;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel | kLackLimit) || !set_bool(c, on)) return;
  const PulseGenerator::Channel& k = g.chan(ch);
  if (on && !k.limits.hold(g.high_volts(ch), g.low_volts(ch), k.load))
    return c.fail(err::kSettingsConflict, "levels outside the limits");
  g.chan(ch).limits_on = on;
}
void query_limit_state(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackLevel | kLackLimit) && c.expect(0, 0))
    c.reply_bool(g.chan(ch).limits_on);
}

}  // namespace

void add_level_commands(CommandTree& t) {
  add_level<kAmplitude, false>(t, "[:SOURce]:VOLTage#[:LEVel][:IMMediate][:AMPLitude]");
  add_level<kOffset, false>(t, "[:SOURce]:VOLTage#[:LEVel][:IMMediate]:OFFSet");
  add_level<kHigh, false>(t, "[:SOURce]:VOLTage#[:LEVel][:IMMediate]:HIGH");
  add_level<kLow, false>(t, "[:SOURce]:VOLTage#[:LEVel][:IMMediate]:LOW");
  add_level<kHighLow, false>(t, "[:SOURce]:VOLTage#[:LEVel][:IMMediate]:HLOW");
  add_level<kOffsetAmplitude, false>(t, "[:SOURce]:VOLTage#[:LEVel][:IMMediate]:OAMPlitude");
  add_level<kAmplitude, true>(t, "[:SOURce]:CURRent#[:LEVel][:IMMediate][:AMPLitude]");
  add_level<kOffset, true>(t, "[:SOURce]:CURRent#[:LEVel][:IMMediate]:OFFSet");
  add_level<kHigh, true>(t, "[:SOURce]:CURRent#[:LEVel][:IMMediate]:HIGH");
  add_level<kLow, true>(t, "[:SOURce]:CURRent#[:LEVel][:IMMediate]:LOW");
  add_level<kHighLow, true>(t, "[:SOURce]:CURRent#[:LEVel][:IMMediate]:HLOW");
  add_level<kOffsetAmplitude, true>(t, "[:SOURce]:CURRent#[:LEVel][:IMMediate]:OAMPlitude");
  add<set_level_hold, query_level_hold>(t, ":HOLD");

  add<set_limit<kVoltHigh>, query_limit<kVoltHigh>>(t, "[:SOURce]:VOLTage#:LIMit[:HIGH]");
  add<set_limit<kVoltLow>, query_limit<kVoltLow>>(t, "[:SOURce]:VOLTage#:LIMit:LOW");
  add<set_limit<kCurrHigh>, query_limit<kCurrHigh>>(t, "[:SOURce]:CURRent#:LIMit[:HIGH]");
  add<set_limit<kCurrLow>, query_limit<kCurrLow>>(t, "[:SOURce]:CURRent#:LIMit:LOW");
  add<set_limit_state, query_limit_state>(t, "[:SOURce]:VOLTage#:LIMit:STATe");
  add<set_limit_state, query_limit_state>(t, "[:SOURce]:CURRent#:LIMit:STATe");
}

}  // namespace pgx::sim::pg
