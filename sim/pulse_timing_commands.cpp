// Pulse timing of each channel: width, duty cycle and trailing-edge delay, the delay, double pulses and
// the transition times.

#include <algorithm>

#include "sim/pulse_generator_commands.h"
#include "sim/scpi_error.h"

namespace pgx::sim::pg {
namespace {

using Channel = PulseGenerator::Channel;

// ---- Width, duty cycle, trailing-edge delay

Range width_range(const PulseGenerator& g, int ch) {
  return {g.fe(ch).min_width, kMaxTime, 100e-9};
}
constexpr Range kDutyCycle{0.001, 99.999, 10};
constexpr Range kTrailingDelay{0, 2 * kMaxTime, 100e-9};

// The value that comes with a hold (":PULS:HOLD1 DCYC,25"): the held quantity as it is, without the checks
// that its own command makes against the period, the delay or the width. The learn string restores a
// setting that way, also one that a later change of those has carried out of its command's range.
bool held_value(Call& c, std::size_t i, unsigned units, double& out) {
  Numeric n;
  if (!c.numeric(i, units, n)) return false;
  if (n.kind != Numeric::Kind::kValue) {
    c.fail(err::kIllegalParameterValue, "a held value is a number");
    return false;
  }
  out = n.value;
  return true;
}

// A delay or transition time as a hold's value: never negative.
bool held_time(Call& c, std::size_t i, unsigned units, double& out) {
  if (!held_value(c, i, units, out)) return false;
  if (out < 0) {
    c.fail(err::kDataOutOfRange);
    return false;
  }
  return true;
}

// A width that the front-end cannot produce.
bool below_min_width(const PulseGenerator& g, int ch, double width) {
  return width < g.fe(ch).min_width * (1 - 1e-9);
}

void set_width(PulseGenerator& g, Call& c) {
  int ch = 0;
  double w = 0;
  if (!g.channel_of(c, 0, ch)) return;
  if (set_value(c, kS, width_range(g, ch), w)) g.store_width(ch, w);
}
void query_width(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch)) query_value(c, width_range(g, ch), g.width(ch));
}

void set_duty_cycle(PulseGenerator& g, Call& c) {
  int ch = 0;
  double dc = 0;
  if (!g.channel_of(c, 0, ch) || !set_value(c, kPct, kDutyCycle, dc)) return;
  const double w = dc / 100 * g.settings().period;
  if (below_min_width(g, ch, w)) return c.fail(err::kDataOutOfRange, "width below minimum");
  if (g.chan(ch).width_hold == PulseGenerator::kHoldDutyCycle)
    g.chan(ch).width_held = dc;
  else
    g.store_width(ch, w);
}
void query_duty_cycle(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch)) query_value(c, kDutyCycle, g.width(ch) / g.settings().period * 100);
}

void set_trailing_delay(PulseGenerator& g, Call& c) {
  int ch = 0;
  double td = 0;
  if (!g.channel_of(c, 0, ch) || !set_value(c, kS, kTrailingDelay, td)) return;
  const double w = td - g.delay(ch);
  if (below_min_width(g, ch, w)) return c.fail(err::kDataOutOfRange, "width below minimum");
  if (g.chan(ch).width_hold == PulseGenerator::kHoldTrailingDelay)
    g.chan(ch).width_held = td;
  else
    g.store_width(ch, w);
}
void query_trailing_delay(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch)) query_value(c, kTrailingDelay, g.delay(ch) + g.width(ch));
}

// WIDTh|DCYCle|TDELay keeps the width and holds it in the new form; with a second parameter, that form's
// value (s, %, s) is held instead.
void set_width_hold(PulseGenerator& g, Call& c) {
  int ch = 0, h = 0;
  if (!g.channel_of(c, 0, ch) || !c.expect(1, 2) || !c.choice(0, {"WIDTh", "DCYCle", "TDELay"}, h)) return;
  Channel& k = g.chan(ch);
  if (c.count() == 2) {
    double held = 0;
    if (!held_value(c, 1, h == PulseGenerator::kHoldDutyCycle ? kPct : kS, held)) return;
    k.width_hold = h;
    k.width_held = held;
    return;
  }
  const double w = g.width(ch);
  k.width_hold = h;
  g.store_width(ch, w);
}
void query_width_hold(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kWidthHoldReplies[g.chan(ch).width_hold]);
}

// ---- Delay

void set_delay(PulseGenerator& g, Call& c) {
  int ch = 0;
  Numeric n;
  if (!g.channel_of(c, 0, ch) || !c.expect(1, 1) || !c.numeric(0, kS | kPct | kDeg | kRad, n)) return;
  Channel& k = g.chan(ch);
  const int unit = unit_index(n, k.delay_unit);
  const double top = unit == 0 ? kMaxTime : full_turn(unit);
  double v = n.kind == Numeric::Kind::kMaximum ? top : n.kind == Numeric::Kind::kValue ? n.value : 0;
  if (v < 0 || v > top * (1 + 1e-12)) return c.fail(err::kDataOutOfRange);
  const double d = unit == 0 ? v : v * g.settings().period / full_turn(unit);
  if (k.width_hold == PulseGenerator::kHoldTrailingDelay && below_min_width(g, ch, k.width_held - d))
    return c.fail(err::kSettingsConflict, "the held trailing-edge delay leaves no width");
  g.store_delay(ch, d);
}
void query_delay(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (!g.channel_of(c, 0, ch) || !c.expect(0, 0)) return;
  const int unit = g.chan(ch).delay_unit;
  const double d = g.delay(ch);
  c.reply_real(unit == 0 ? d : d / g.settings().period * full_turn(unit));
}

void set_delay_unit(PulseGenerator& g, Call& c) {
  int ch = 0, u = 0;
  if (!g.channel_of(c, 0, ch) || !set_choice(c, {"S", "SEC", "PCT", "DEG", "RAD"}, u)) return;
  g.chan(ch).delay_unit = u == 0 ? 0 : u - 1;
}
void query_delay_unit(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kUnitReplies[g.chan(ch).delay_unit]);
}

// TIME|PRATio keeps a delay (the pulse's, or the second pulse's); with a second parameter, the delay held
// (s, or % of the period).
template <int Channel::*Hold, double Channel::*Held, double (PulseGenerator::*Delay)(int) const>
void set_delay_hold(PulseGenerator& g, Call& c) {
  int ch = 0, h = 0;
  if (!g.channel_of(c, 0, ch) || !c.expect(1, 2) || !c.choice(0, {"TIME", "PRATio"}, h)) return;
  const bool time = h == PulseGenerator::kHoldTime;
  double held = 0;
  if (c.count() == 2) {
    if (!held_time(c, 1, time ? kS : kPct, held)) return;
    if (!time) held /= 100;
  } else {
    const double d = (g.*Delay)(ch);
    held = time ? d : d / g.settings().period;
  }
  Channel& k = g.chan(ch);
  k.*Hold = h;
  k.*Held = held;
}
template <int Channel::*Hold>
void query_delay_hold(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kTimeHoldReplies[g.chan(ch).*Hold]);
}

// ---- Double pulses

void set_double_pulse(PulseGenerator& g, Call& c) {
  int ch = 0;
  bool on = false;
  if (g.channel_of(c, 0, ch) && set_bool(c, on)) g.chan(ch).double_pulse = on;
}
void query_double_pulse(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_bool(g.chan(ch).double_pulse);
}

void set_double_delay(PulseGenerator& g, Call& c) {
  int ch = 0;
  Numeric n;
  if (!g.channel_of(c, 0, ch) || !c.expect(1, 1) || !c.numeric(0, kS | kPct, n)) return;
  Channel& k = g.chan(ch);
  const double period = g.settings().period;
  const int unit = unit_index(n, k.double_unit);
  const double top = unit == 0 ? kMaxTime : 100;
  double v = n.kind == Numeric::Kind::kMaximum   ? top
             : n.kind == Numeric::Kind::kDefault ? (unit == 0 ? 500e-9 : 500e-9 / period * 100)
             : n.kind == Numeric::Kind::kValue   ? n.value
                                                 : 0;
  if (v < 0 || v > top * (1 + 1e-12)) return c.fail(err::kDataOutOfRange);
  const double d = unit == 0 ? v : v / 100 * period;
  k.double_held = k.double_hold == PulseGenerator::kHoldTime ? d : d / period;
}
void query_double_delay(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (!g.channel_of(c, 0, ch) || !c.expect(0, 0)) return;
  const double d = g.double_delay(ch);
  c.reply_real(g.chan(ch).double_unit == 0 ? d : d / g.settings().period * 100);
}

void set_double_delay_unit(PulseGenerator& g, Call& c) {
  int ch = 0, u = 0;
  if (!g.channel_of(c, 0, ch) || !set_choice(c, {"S", "SEC", "PCT"}, u)) return;
  g.chan(ch).double_unit = u == 2 ? 1 : 0;
}
void query_double_delay_unit(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kUnitReplies[g.chan(ch).double_unit]);
}

// ---- Transitions

template <bool Trailing>
void set_transition(PulseGenerator& g, Call& c) {
  int ch = 0;
  Numeric n;
  if (!g.channel_of(c, 0, ch) ||
      !g.need(c, ch, kLackTransTime | (Trailing ? std::uint32_t{kLackLeTeAbs} : 0u)))
    return;
  if (!c.expect(1, 1) || !c.numeric(0, kS | kPct, n)) return;
  Channel& k = g.chan(ch);
  const FrontEndModel& m = g.fe(ch);
  const double w = g.width(ch);
  const int unit = unit_index(n, k.transition_unit);
  double t = 0;
  switch (n.kind) {
    case Numeric::Kind::kMinimum:
      t = m.min_transition;
      break;
    case Numeric::Kind::kMaximum:
      t = m.max_transition;
      break;
    case Numeric::Kind::kDefault:
      t = std::clamp(5e-9, m.min_transition, m.max_transition);
      break;
    case Numeric::Kind::kValue:
      t = unit == 0 ? n.value : n.value / 100 * w;
      break;
  }
  if (t < m.min_transition * (1 - 1e-9) || t > m.max_transition * (1 + 1e-9))
    return c.fail(err::kDataOutOfRange);
  t = std::clamp(t, m.min_transition, m.max_transition);
  if (Trailing && k.trailing_coupled)
    return c.fail(err::kSettingsConflict, "trailing edge coupled to the leading edge");
  if (k.transition_hold == PulseGenerator::kHoldRatio && w <= 0)
    return c.fail(err::kSettingsConflict, "no width to hold a ratio to");
  const double held = k.transition_hold == PulseGenerator::kHoldTime ? t : t / w;
  (Trailing ? k.trailing_held : k.leading_held) = held;
}
template <bool Trailing>
void query_transition(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackTransTime) || !c.expect(0, 0)) return;
  const double t = Trailing ? g.trailing(ch) : g.leading(ch);
  if (g.chan(ch).transition_unit == 0) return c.reply_real(t);
  // A ratio to a width that the delay has pushed to zero or below is not a number.
  const double w = g.width(ch);
  if (w <= 0) return c.reply_raw("9.91E37");
  c.reply_real(t / w * 100);
}

void set_trailing_coupling(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackTransTime | kLackLeTeCouple) || !c.expect(1, 1)) return;
  Channel& k = g.chan(ch);
  // ONCE copies the leading edge now and leaves the coupling off, as AUTO ONCE does everywhere.
  if (c.param(0).kind == Param::Kind::kToken && matches_mnemonic(c.param(0).text, "ONCE")) {
    k.trailing_held = k.leading_held;
    k.trailing_coupled = false;
    return;
  }
  bool on = false;
  if (c.boolean(0, on)) k.trailing_coupled = on;
}
void query_trailing_coupling(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackTransTime | kLackLeTeCouple) && c.expect(0, 0))
    c.reply_bool(g.chan(ch).trailing_coupled);
}

void set_transition_unit(PulseGenerator& g, Call& c) {
  int ch = 0, u = 0;
  if (!g.channel_of(c, 0, ch) || !set_choice(c, {"S", "SEC", "PCT"}, u)) return;
  g.chan(ch).transition_unit = u == 2 ? 1 : 0;
}
void query_transition_unit(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kUnitReplies[g.chan(ch).transition_unit]);
}

// TIME|WRATio keeps both transition times; with two more parameters, the leading and the trailing time held
// (s, or % of the width).
void set_transition_hold(PulseGenerator& g, Call& c) {
  int ch = 0, h = 0;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackTransTime | kLackTransHold)) return;
  if (!c.expect(1, 3) || !c.choice(0, {"TIME", "WRATio"}, h)) return;
  Channel& k = g.chan(ch);
  if (c.count() > 1) {
    const unsigned units = h == PulseGenerator::kHoldTime ? kS : kPct;
    const double per = h == PulseGenerator::kHoldTime ? 1 : 100;
    double lead = 0, trail = 0;
    if (!c.expect(3, 3) || !held_time(c, 1, units, lead) || !held_time(c, 2, units, trail)) return;
    k.transition_hold = h;
    k.leading_held = lead / per;
    k.trailing_held = trail / per;
    return;
  }
  const double w = g.width(ch);
  if (h == PulseGenerator::kHoldRatio && w <= 0)
    return c.fail(err::kSettingsConflict, "no width to hold a ratio to");
  const double lead = g.leading(ch);
  const double trail = k.transition_hold == PulseGenerator::kHoldTime ? k.trailing_held : k.trailing_held * w;
  k.transition_hold = h;
  k.leading_held = h == PulseGenerator::kHoldTime ? lead : lead / w;
  k.trailing_held = h == PulseGenerator::kHoldTime ? trail : trail / w;
}
void query_transition_hold(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackTransTime | kLackTransHold) && c.expect(0, 0))
    c.reply_raw(kTransitionHoldReplies[g.chan(ch).transition_hold]);
}

}  // namespace

void add_timing_commands(CommandTree& t) {
  add<set_width, query_width>(t, "[:SOURce]:PULSe:WIDTh#");
  add<set_duty_cycle, query_duty_cycle>(t, "[:SOURce]:PULSe:DCYCle#");
  add<set_trailing_delay, query_trailing_delay>(t, "[:SOURce]:PULSe:TDELay#");
  add<set_width_hold, query_width_hold>(t, "[:SOURce]:PULSe:HOLD#");

  add<set_delay, query_delay>(t, "[:SOURce]:PULSe:DELay#");
  add<set_delay_unit, query_delay_unit>(t, "[:SOURce]:PULSe:DELay#:UNIT");
  add<set_delay_hold<&Channel::delay_hold, &Channel::delay_held, &PulseGenerator::delay>,
      query_delay_hold<&Channel::delay_hold>>(t, "[:SOURce]:PULSe:DELay#:HOLD");

  add<set_double_pulse, query_double_pulse>(t, "[:SOURce]:PULSe:DOUBle#[:STATe]");
  add<set_double_delay, query_double_delay>(t, "[:SOURce]:PULSe:DOUBle#:DELay");
  add<set_double_delay_unit, query_double_delay_unit>(t, "[:SOURce]:PULSe:DOUBle#:DELay:UNIT");
  add<set_delay_hold<&Channel::double_hold, &Channel::double_held, &PulseGenerator::double_delay>,
      query_delay_hold<&Channel::double_hold>>(t, "[:SOURce]:PULSe:DOUBle#:DELay:HOLD");

  add<set_transition<false>, query_transition<false>>(t, "[:SOURce]:PULSe:TRANsition#[:LEADing]");
  add<set_transition<true>, query_transition<true>>(t, "[:SOURce]:PULSe:TRANsition#:TRAiling");
  add<set_trailing_coupling, query_trailing_coupling>(t, "[:SOURce]:PULSe:TRANsition#:TRAiling:AUTO");
  add<set_transition_unit, query_transition_unit>(t, "[:SOURce]:PULSe:TRANsition#:UNIT");
  add<set_transition_hold, query_transition_hold>(t, "[:SOURce]:PULSe:TRANsition#:HOLD");
}

}  // namespace pgx::sim::pg
