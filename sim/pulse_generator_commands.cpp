// The pulse generator's command tree: every header with its set and query handler.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "sim/call.h"
#include "sim/engine.h"
#include "sim/pattern_data.h"
#include "sim/pulse_generator.h"
#include "sim/pulse_generator_keywords.h"
#include "sim/scpi_error.h"

namespace pgx::sim {

using namespace pg;

namespace {
PulseGenerator& generator(Instrument& i) {
  return static_cast<PulseGenerator&>(i);
}
}  // namespace

const CommandTree& PulseGenerator::tree() {
  static const CommandTree t = [] {
    CommandTree tree;
    Engine::add_standard_commands(tree);
    build(tree);
    return tree;
  }();
  return t;
}

#define PG_CMD(...)                                       \
  [](Instrument& inst, Call& c) {                         \
    [[maybe_unused]] PulseGenerator& g = generator(inst); \
    __VA_ARGS__                                           \
  }

void PulseGenerator::build(CommandTree& t) {
  // Channel math needs two channels whose front-ends both have it.
  static constexpr auto need_math = [](PulseGenerator& g, Call& c) {
    if (g.channels() < 2) {
      c.fail(err::kHardwareMissing, "a second channel");
      return false;
    }
    return g.need_all(c, kLackOutputMath);
  };
  // Pattern outputs: suffix 1 and 2 are the channels, 3 the strobe output.
  static constexpr auto pattern_output = [](PulseGenerator& g, Call& c, int& out) {
    const int n = c.suffix(0);
    if (n == 3 || (n >= 1 && n <= g.channels())) {
      out = n - 1;
      return true;
    }
    c.fail(err::kHeaderSuffixOutOfRange);
    return false;
  };
  // Inputs terminate into 50 ohm or 10 kohm.
  static constexpr auto set_input_impedance = [](Call& c, double def, double& field) {
    double r = 0;
    if (!set_value(c, kOhm, Range{50, 10000, def}, r)) return;
    if (r != 50 && r != 10000) return c.fail(err::kIllegalParameterValue, "50 or 10000 ohm");
    field = r;
  };
  // -- Frequency and period
  t.add("[:SOURce]:FREQuency[:CW]", PG_CMD({
          const Range r{kMinFrequency, g.max_frequency(), 1e6};
          double f = 0;
          if (set_value(c, kHz, r, f)) g.s_.period = 1 / f;
        }),
        PG_CMD({
          query_value(c, Range{kMinFrequency, g.max_frequency(), 1e6}, 1 / g.s_.period);
        }));
  t.add("[:SOURce]:PULSe:PERiod", PG_CMD({
          const Range r{1 / g.max_frequency(), kMaxPeriod, 1e-6};
          double p = 0;
          if (set_value(c, kS, r, p)) g.s_.period = p;
        }),
        PG_CMD({
          query_value(c, Range{1 / g.max_frequency(), kMaxPeriod, 1e-6}, g.s_.period);
        }));
  static constexpr Handler measure_into_period = PG_CMD({
    int once = 0;
    if (!set_choice(c, {"ONCE"}, once)) return;
    if (g.clock_in_frequency_ <= 0) return c.fail(err::kDataStale, "no signal at CLK IN");
    if (g.clock_in_frequency_ < kMinFrequency || g.clock_in_frequency_ > g.max_frequency())
      return c.fail(err::kDataOutOfRange, "CLK IN frequency beyond the instrument's range");
    g.s_.period = 1 / g.clock_in_frequency_;
  });
  t.add("[:SOURce]:FREQuency:AUTO", measure_into_period, nullptr);
  t.add("[:SOURce]:PULSe:PERiod:AUTO", measure_into_period, nullptr);
  t.add(":MEASure:FREQuency", nullptr, PG_CMD({
          if (!c.expect(0, 0)) return;
          if (g.clock_in_frequency_ <= 0) {
            c.engine().push_error(err::kDataStale, "no signal at CLK IN");
            return c.reply_raw("9.91E37");
          }
          c.reply_real(g.clock_in_frequency_);
        }));
  t.add(":MEASure:PERiod", nullptr, PG_CMD({
          if (!c.expect(0, 0)) return;
          if (g.clock_in_frequency_ <= 0) {
            c.engine().push_error(err::kDataStale, "no signal at CLK IN");
            return c.reply_raw("9.91E37");
          }
          c.reply_real(1 / g.clock_in_frequency_);
        }));

  // -- Width, duty cycle, trailing-edge delay
  t.add("[:SOURce]:PULSe:WIDTh#", PG_CMD({
          int ch = 0;
          double w = 0;
          if (!g.channel_of(c, 0, ch)) return;
          if (set_value(c, kS, Range{g.fe(ch).min_width, kMaxTime, 100e-9}, w)) g.store_width(ch, w);
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch))
            query_value(c, Range{g.fe(ch).min_width, kMaxTime, 100e-9}, g.width(ch));
        }));
  t.add("[:SOURce]:PULSe:DCYCle#", PG_CMD({
          int ch = 0;
          double dc = 0;
          if (!g.channel_of(c, 0, ch) || !set_value(c, kPct, Range{0.001, 99.999, 10}, dc)) return;
          const double w = dc / 100 * g.s_.period;
          if (w < g.fe(ch).min_width * (1 - 1e-9)) return c.fail(err::kDataOutOfRange, "width below minimum");
          if (g.chan(ch).width_hold == kHoldDutyCycle)
            g.chan(ch).width_held = dc;
          else
            g.store_width(ch, w);
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch))
            query_value(c, Range{0.001, 99.999, 10}, g.width(ch) / g.s_.period * 100);
        }));
  t.add("[:SOURce]:PULSe:TDELay#", PG_CMD({
          int ch = 0;
          double td = 0;
          if (!g.channel_of(c, 0, ch) || !set_value(c, kS, Range{0, 2 * kMaxTime, 100e-9}, td)) return;
          const double w = td - g.delay(ch);
          if (w < g.fe(ch).min_width * (1 - 1e-9)) return c.fail(err::kDataOutOfRange, "width below minimum");
          if (g.chan(ch).width_hold == kHoldTrailingDelay)
            g.chan(ch).width_held = td;
          else
            g.store_width(ch, w);
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch))
            query_value(c, Range{0, 2 * kMaxTime, 100e-9}, g.delay(ch) + g.width(ch));
        }));
  t.add("[:SOURce]:PULSe:HOLD#", PG_CMD({
          int ch = 0, h = 0;
          if (!g.channel_of(c, 0, ch) || !set_choice(c, {"WIDTh", "DCYCle", "TDELay"}, h)) return;
          const double w = g.width(ch);
          g.chan(ch).width_hold = h;
          g.store_width(ch, w);
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kWidthHoldReplies[g.chan(ch).width_hold]);
        }));

  // -- Delay
  t.add("[:SOURce]:PULSe:DELay#", PG_CMD({
          int ch = 0;
          Numeric n;
          if (!g.channel_of(c, 0, ch) || !c.expect(1, 1) || !c.numeric(0, kS | kPct | kDeg | kRad, n)) return;
          Channel& k = g.chan(ch);
          const int unit = unit_index(n, k.delay_unit);
          const double top = unit == 0 ? kMaxTime : full_turn(unit);
          double v = n.kind == Numeric::Kind::kMaximum ? top : n.kind == Numeric::Kind::kValue ? n.value : 0;
          if (v < 0 || v > top * (1 + 1e-12)) return c.fail(err::kDataOutOfRange);
          const double d = unit == 0 ? v : v * g.s_.period / full_turn(unit);
          if (k.width_hold == kHoldTrailingDelay && k.width_held - d < g.fe(ch).min_width * (1 - 1e-9))
            return c.fail(err::kSettingsConflict, "the held trailing-edge delay leaves no width");
          g.store_delay(ch, d);
        }),
        PG_CMD({
          int ch = 0;
          if (!g.channel_of(c, 0, ch) || !c.expect(0, 0)) return;
          const int unit = g.chan(ch).delay_unit;
          const double d = g.delay(ch);
          c.reply_real(unit == 0 ? d : d / g.s_.period * full_turn(unit));
        }));
  t.add("[:SOURce]:PULSe:DELay#:UNIT", PG_CMD({
          int ch = 0, u = 0;
          if (!g.channel_of(c, 0, ch) || !set_choice(c, {"S", "SEC", "PCT", "DEG", "RAD"}, u)) return;
          g.chan(ch).delay_unit = u == 0 ? 0 : u - 1;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kUnitReplies[g.chan(ch).delay_unit]);
        }));
  t.add("[:SOURce]:PULSe:DELay#:HOLD", PG_CMD({
          int ch = 0, h = 0;
          if (!g.channel_of(c, 0, ch) || !set_choice(c, {"TIME", "PRATio"}, h)) return;
          const double d = g.delay(ch);
          g.chan(ch).delay_hold = h;
          g.store_delay(ch, d);
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kTimeHoldReplies[g.chan(ch).delay_hold]);
        }));

  // -- Double pulses
  t.add("[:SOURce]:PULSe:DOUBle#[:STATe]", PG_CMD({
          int ch = 0;
          bool on = false;
          if (g.channel_of(c, 0, ch) && set_bool(c, on)) g.chan(ch).double_pulse = on;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_bool(g.chan(ch).double_pulse);
        }));
  t.add("[:SOURce]:PULSe:DOUBle#:DELay", PG_CMD({
          int ch = 0;
          Numeric n;
          if (!g.channel_of(c, 0, ch) || !c.expect(1, 1) || !c.numeric(0, kS | kPct, n)) return;
          Channel& k = g.chan(ch);
          const int unit = unit_index(n, k.double_unit);
          const double top = unit == 0 ? kMaxTime : 100;
          double v = n.kind == Numeric::Kind::kMaximum   ? top
                     : n.kind == Numeric::Kind::kDefault ? (unit == 0 ? 500e-9 : 500e-9 / g.s_.period * 100)
                     : n.kind == Numeric::Kind::kValue   ? n.value
                                                         : 0;
          if (v < 0 || v > top * (1 + 1e-12)) return c.fail(err::kDataOutOfRange);
          const double d = unit == 0 ? v : v / 100 * g.s_.period;
          k.double_held = k.double_hold == kHoldTime ? d : d / g.s_.period;
        }),
        PG_CMD({
          int ch = 0;
          if (!g.channel_of(c, 0, ch) || !c.expect(0, 0)) return;
          const double d = g.double_delay(ch);
          c.reply_real(g.chan(ch).double_unit == 0 ? d : d / g.s_.period * 100);
        }));
  t.add("[:SOURce]:PULSe:DOUBle#:DELay:UNIT", PG_CMD({
          int ch = 0, u = 0;
          if (!g.channel_of(c, 0, ch) || !set_choice(c, {"S", "SEC", "PCT"}, u)) return;
          g.chan(ch).double_unit = u == 2 ? 1 : 0;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kUnitReplies[g.chan(ch).double_unit]);
        }));
  t.add("[:SOURce]:PULSe:DOUBle#:DELay:HOLD", PG_CMD({
          int ch = 0, h = 0;
          if (!g.channel_of(c, 0, ch) || !set_choice(c, {"TIME", "PRATio"}, h)) return;
          const double d = g.double_delay(ch);
          Channel& k = g.chan(ch);
          k.double_hold = h;
          k.double_held = h == kHoldTime ? d : d / g.s_.period;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kTimeHoldReplies[g.chan(ch).double_hold]);
        }));

  // -- Transitions
  static constexpr auto set_transition = [](PulseGenerator& g, Call& c, bool trailing_edge) {
    int ch = 0;
    Numeric n;
    if (!g.channel_of(c, 0, ch) ||
        !g.need(c, ch, kLackTransTime | (trailing_edge ? std::uint32_t{kLackLeTeAbs} : 0u)))
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
    if (trailing_edge && k.trailing_coupled)
      return c.fail(err::kSettingsConflict, "trailing edge coupled to the leading edge");
    const double held = k.transition_hold == kHoldTime ? t : t / w;
    (trailing_edge ? k.trailing_held : k.leading_held) = held;
  };
  static constexpr auto query_transition = [](PulseGenerator& g, Call& c, bool trailing_edge) {
    int ch = 0;
    if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackTransTime) || !c.expect(0, 0)) return;
    const double t = trailing_edge ? g.trailing(ch) : g.leading(ch);
    c.reply_real(g.chan(ch).transition_unit == 0 ? t : t / g.width(ch) * 100);
  };
  t.add("[:SOURce]:PULSe:TRANsition#[:LEADing]", PG_CMD({ set_transition(g, c, false); }),
        PG_CMD({ query_transition(g, c, false); }));
  t.add("[:SOURce]:PULSe:TRANsition#:TRAiling", PG_CMD({ set_transition(g, c, true); }),
        PG_CMD({ query_transition(g, c, true); }));
  t.add("[:SOURce]:PULSe:TRANsition#:TRAiling:AUTO", PG_CMD({
          int ch = 0;
          if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackTransTime | kLackLeTeCouple) || !c.expect(1, 1))
            return;
          Channel& k = g.chan(ch);
          // ONCE copies the leading edge now and leaves the coupling off, as AUTO ONCE does everywhere.
          if (c.param(0).kind == Param::Kind::kToken && matches_mnemonic(c.param(0).text, "ONCE")) {
            k.trailing_held = k.leading_held;
            k.trailing_coupled = false;
            return;
          }
          bool on = false;
          if (c.boolean(0, on)) k.trailing_coupled = on;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackTransTime | kLackLeTeCouple) && c.expect(0, 0))
            c.reply_bool(g.chan(ch).trailing_coupled);
        }));
  t.add("[:SOURce]:PULSe:TRANsition#:UNIT", PG_CMD({
          int ch = 0, u = 0;
          if (!g.channel_of(c, 0, ch) || !set_choice(c, {"S", "SEC", "PCT"}, u)) return;
          g.chan(ch).transition_unit = u == 2 ? 1 : 0;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kUnitReplies[g.chan(ch).transition_unit]);
        }));
  t.add("[:SOURce]:PULSe:TRANsition#:HOLD", PG_CMD({
          int ch = 0, h = 0;
          if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackTransTime | kLackTransHold)) return;
          if (!set_choice(c, {"TIME", "WRATio"}, h)) return;
          Channel& k = g.chan(ch);
          const double lead = g.leading(ch);
          const double trail =
              k.transition_hold == kHoldTime ? k.trailing_held : k.trailing_held * g.width(ch);
          const double w = g.width(ch);
          k.transition_hold = h;
          k.leading_held = h == kHoldTime ? lead : lead / w;
          k.trailing_held = h == kHoldTime ? trail : trail / w;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackTransTime | kLackTransHold) && c.expect(0, 0))
            c.reply_raw(kTransitionHoldReplies[g.chan(ch).transition_hold]);
        }));

  // -- Levels: six forms each for volts and amperes
  enum LevelForm { kAmplitude, kOffset, kHigh, kLow, kHighLow, kOffsetAmplitude };
  struct LevelCommand {
    const char* pattern;
    LevelForm form;
  };
  static constexpr LevelCommand kVoltForms[] = {
      {"[:SOURce]:VOLTage#[:LEVel][:IMMediate][:AMPLitude]", kAmplitude},
      {"[:SOURce]:VOLTage#[:LEVel][:IMMediate]:OFFSet", kOffset},
      {"[:SOURce]:VOLTage#[:LEVel][:IMMediate]:HIGH", kHigh},
      {"[:SOURce]:VOLTage#[:LEVel][:IMMediate]:LOW", kLow},
      {"[:SOURce]:VOLTage#[:LEVel][:IMMediate]:HLOW", kHighLow},
      {"[:SOURce]:VOLTage#[:LEVel][:IMMediate]:OAMPlitude", kOffsetAmplitude},
  };
  static constexpr LevelCommand kCurrForms[] = {
      {"[:SOURce]:CURRent#[:LEVel][:IMMediate][:AMPLitude]", kAmplitude},
      {"[:SOURce]:CURRent#[:LEVel][:IMMediate]:OFFSet", kOffset},
      {"[:SOURce]:CURRent#[:LEVel][:IMMediate]:HIGH", kHigh},
      {"[:SOURce]:CURRent#[:LEVel][:IMMediate]:LOW", kLow},
      {"[:SOURce]:CURRent#[:LEVel][:IMMediate]:HLOW", kHighLow},
      {"[:SOURce]:CURRent#[:LEVel][:IMMediate]:OAMPlitude", kOffsetAmplitude},
  };
  // Sets one level form; `amps` says whether the values are currents into the load.
  static constexpr auto set_level = [](PulseGenerator& g, Call& c, LevelForm form, bool amps) {
    int ch = 0;
    if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel)) return;
    const FrontEndModel& m = g.fe(ch);
    const double scale = amps ? g.chan(ch).load : 1;  // value * scale = volts
    const bool pair = form == kHighLow || form == kOffsetAmplitude;
    if (!c.expect(pair ? 2 : 1, pair ? 2 : 1)) return;
    const unsigned unit = amps ? kA : kV;
    const double span = kOpenLoadGain * std::max(m.max_high, -m.min_low) / scale;
    double high = g.high_volts(ch), low = g.low_volts(ch);
    double a = 0, b = 0;
    switch (form) {
      case kAmplitude: {
        const Range r{m.min_amplitude / scale, kOpenLoadGain * m.max_amplitude / scale, 1 / scale};
        if (!c.real(0, unit, r, a)) return;
        const double offset = (high + low) / 2;
        high = offset + a * scale / 2;
        low = offset - a * scale / 2;
        break;
      }
      case kOffset: {
        if (!c.real(0, unit, Range{-span, span, 0.5 / scale}, a)) return;
        const double amplitude = high - low;
        high = a * scale + amplitude / 2;
        low = a * scale - amplitude / 2;
        break;
      }
      case kHigh:
        if (!c.real(0, unit, Range{-span, span, 1 / scale}, a)) return;
        high = a * scale;
        break;
      case kLow:
        if (!c.real(0, unit, Range{-span, span, 0}, a)) return;
        low = a * scale;
        break;
      case kHighLow:
        if (!c.real(0, unit, Range{-span, span, 1 / scale}, a) || !c.real(1, unit, Range{-span, span, 0}, b))
          return;
        high = a * scale;
        low = b * scale;
        break;
      case kOffsetAmplitude: {
        const Range r{m.min_amplitude / scale, kOpenLoadGain * m.max_amplitude / scale, 1 / scale};
        if (!c.real(0, unit, Range{-span, span, 0.5 / scale}, a) || !c.real(1, unit, r, b)) return;
        high = (a + b / 2) * scale;
        low = (a - b / 2) * scale;
        break;
      }
    }
    if (int e = g.check_levels(ch, high, low); e != 0) return c.fail(e);
    g.store_levels(ch, high, low);
  };
  static constexpr auto query_level = [](PulseGenerator& g, Call& c, LevelForm form, bool amps) {
    int ch = 0;
    if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel)) return;
    const FrontEndModel& m = g.fe(ch);
    const double scale = amps ? 1 / g.chan(ch).load : 1;
    const double high = g.high_volts(ch) * scale, low = g.low_volts(ch) * scale;
    const double span = kOpenLoadGain * std::max(m.max_high, -m.min_low) * scale;
    const Range amplitude{m.min_amplitude * scale, kOpenLoadGain * m.max_amplitude * scale, scale};
    char buf[40];
    switch (form) {
      case kAmplitude:
        return query_value(c, amplitude, high - low);
      case kOffset:
        return query_value(c, Range{-span, span, 0.5 * scale}, (high + low) / 2);
      case kHigh:
        return query_value(c, Range{-span, span, scale}, high);
      case kLow:
        return query_value(c, Range{-span, span, 0}, low);
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
  };
  // One handler per form and unit, generated from a template so that each is a plain function.
#define PG_LEVEL(FORM, AMPS)                                                                      \
  t.add((AMPS ? kCurrForms : kVoltForms)[FORM].pattern, PG_CMD({ set_level(g, c, FORM, AMPS); }), \
        PG_CMD({ query_level(g, c, FORM, AMPS); }))
  PG_LEVEL(kAmplitude, false);
  PG_LEVEL(kOffset, false);
  PG_LEVEL(kHigh, false);
  PG_LEVEL(kLow, false);
  PG_LEVEL(kHighLow, false);
  PG_LEVEL(kOffsetAmplitude, false);
  PG_LEVEL(kAmplitude, true);
  PG_LEVEL(kOffset, true);
  PG_LEVEL(kHigh, true);
  PG_LEVEL(kLow, true);
  PG_LEVEL(kHighLow, true);
  PG_LEVEL(kOffsetAmplitude, true);
#undef PG_LEVEL
  t.add(":HOLD", PG_CMD({
          int h = 0;
          if (!set_choice(c, {"VOLTage", "CURRent"}, h) || h == g.s_.level_hold) return;
          for (int ch = 1; ch <= g.channels(); ++ch) {
            Channel& k = g.chan(ch);
            const double factor = h == 1 ? 1 / k.load : k.load;
            k.high *= factor;
            k.low *= factor;
          }
          g.s_.level_hold = h;
        }),
        PG_CMD({
          if (c.expect(0, 0)) c.reply_raw(kLevelHoldReplies[g.s_.level_hold]);
        }));

  // -- Limits
  enum LimitField { kVoltHigh, kVoltLow, kCurrHigh, kCurrLow };
  static constexpr auto set_limit = [](PulseGenerator& g, Call& c, LimitField f) {
    int ch = 0;
    if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel | kLackLimit)) return;
    const FrontEndModel& m = g.fe(ch);
    Channel& k = g.chan(ch);
    const bool amps = f == kCurrHigh || f == kCurrLow;
    const double span = kOpenLoadGain * std::max(m.max_high, -m.min_low) / (amps ? 50 : 1);
    const double def = (f == kVoltHigh || f == kCurrHigh ? m.max_high : m.min_low) / (amps ? 50 : 1);
    double v = 0;
    if (!set_value(c, amps ? kA : kV, Range{-span, span, def}, v)) return;
    double high = amps ? k.curr_limit_high : k.volt_limit_high;
    double low = amps ? k.curr_limit_low : k.volt_limit_low;
    (f == kVoltHigh || f == kCurrHigh ? high : low) = v;
    if (high <= low) return c.fail(err::kSettingsConflict, "limit high must exceed limit low");
    if (k.limits_on) {
      const double hv = g.high_volts(ch), lv = g.low_volts(ch);
      const bool outside = amps ? (hv / k.load > high + 1e-12 || lv / k.load < low - 1e-12)
                                : (hv > high + 1e-9 || lv < low - 1e-9);
      if (outside) return c.fail(err::kSettingsConflict, "levels outside the limits");
    }
    (amps ? k.curr_limit_high : k.volt_limit_high) = high;
    (amps ? k.curr_limit_low : k.volt_limit_low) = low;
  };
  static constexpr auto query_limit = [](PulseGenerator& g, Call& c, LimitField f) {
    int ch = 0;
    if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel | kLackLimit)) return;
    const FrontEndModel& m = g.fe(ch);
    const Channel& k = g.chan(ch);
    const bool amps = f == kCurrHigh || f == kCurrLow;
    const double span = kOpenLoadGain * std::max(m.max_high, -m.min_low) / (amps ? 50 : 1);
    const double def = (f == kVoltHigh || f == kCurrHigh ? m.max_high : m.min_low) / (amps ? 50 : 1);
    const double values[] = {k.volt_limit_high, k.volt_limit_low, k.curr_limit_high, k.curr_limit_low};
    query_value(c, Range{-span, span, def}, values[f]);
  };
  t.add("[:SOURce]:VOLTage#:LIMit[:HIGH]", PG_CMD({ set_limit(g, c, kVoltHigh); }),
        PG_CMD({ query_limit(g, c, kVoltHigh); }));
  t.add("[:SOURce]:VOLTage#:LIMit:LOW", PG_CMD({ set_limit(g, c, kVoltLow); }),
        PG_CMD({ query_limit(g, c, kVoltLow); }));
  t.add("[:SOURce]:CURRent#:LIMit[:HIGH]", PG_CMD({ set_limit(g, c, kCurrHigh); }),
        PG_CMD({ query_limit(g, c, kCurrHigh); }));
  t.add("[:SOURce]:CURRent#:LIMit:LOW", PG_CMD({ set_limit(g, c, kCurrLow); }),
        PG_CMD({ query_limit(g, c, kCurrLow); }));
  static constexpr auto set_limit_state = [](PulseGenerator& g, Call& c) {
    int ch = 0;
    bool on = false;
    if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLevel | kLackLimit) || !set_bool(c, on)) return;
    Channel& k = g.chan(ch);
    if (on) {
      const double hv = g.high_volts(ch), lv = g.low_volts(ch);
      if (hv > k.volt_limit_high + 1e-9 || lv < k.volt_limit_low - 1e-9 ||
          hv / k.load > k.curr_limit_high + 1e-12 || lv / k.load < k.curr_limit_low - 1e-12)
        return c.fail(err::kSettingsConflict, "levels outside the limits");
    }
    k.limits_on = on;
  };
  static constexpr auto query_limit_state = [](PulseGenerator& g, Call& c) {
    int ch = 0;
    if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackLevel | kLackLimit) && c.expect(0, 0))
      c.reply_bool(g.chan(ch).limits_on);
  };
  t.add("[:SOURce]:VOLTage#:LIMit:STATe", PG_CMD({ set_limit_state(g, c); }),
        PG_CMD({ query_limit_state(g, c); }));
  t.add("[:SOURce]:CURRent#:LIMit:STATe", PG_CMD({ set_limit_state(g, c); }),
        PG_CMD({ query_limit_state(g, c); }));

  // -- Outputs
  t.add(":OUTPut#[:NORMal][:STATe]", PG_CMD({
          int ch = 0;
          bool on = false;
          if (g.channel_of(c, 0, ch) && set_bool(c, on)) g.chan(ch).output_on = on;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_bool(g.chan(ch).output_on);
        }));
  t.add(":OUTPut#:COMPlement[:STATe]", PG_CMD({
          int ch = 0;
          bool on = false;
          if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackOutStateCompl) && set_bool(c, on))
            g.chan(ch).complement_on = on;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackOutStateCompl) && c.expect(0, 0))
            c.reply_bool(g.chan(ch).complement_on);
        }));
  t.add(":OUTPut#:POLarity", PG_CMD({
          int ch = 0, p = 0;
          if (g.channel_of(c, 0, ch) && set_choice(c, {"NORMal", "INVerted"}, p)) g.chan(ch).polarity = p;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kPolarityReplies[g.chan(ch).polarity]);
        }));
  t.add(":OUTPut#:IMPedance[:INTernal]", PG_CMD({
          int ch = 0;
          double r = 0;
          if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackOutImpedance)) return;
          if (!set_value(c, kOhm, Range{50, 1000, 50}, r)) return;
          if (r != 50 && r != 1000) return c.fail(err::kIllegalParameterValue, "50 or 1000 ohm");
          g.chan(ch).source_impedance = r;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackOutImpedance))
            query_value(c, Range{50, 1000, 50}, g.chan(ch).source_impedance);
        }));
  t.add(":OUTPut#:IMPedance:EXTernal", PG_CMD({
          int ch = 0;
          double r = 0;
          if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLoadComp)) return;
          if (!set_value(c, kOhm, Range{kMinLoad, kMaxLoad, 50}, r)) return;
          // The held unit stays and the other follows the new load; levels the load cannot carry are
          // clipped at the output and reported as a warning.
          g.chan(ch).load = r;
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackLoadComp))
            query_value(c, Range{kMinLoad, kMaxLoad, 50}, g.chan(ch).load);
        }));
  t.add(":CHANnel:MATH", PG_CMD({
          int m = 0;
          if (!need_math(g, c) || !set_choice(c, {"OFF", "PLUS"}, m)) return;
          g.s_.channel_math = m;
        }),
        PG_CMD({
          if (need_math(g, c) && c.expect(0, 0)) c.reply_raw(kMathReplies[g.s_.channel_math]);
        }));

  // -- Trigger and CLK IN
  t.add(":TRIGger:COUNt", PG_CMD({
          long long n = 0;
          if (!c.expect(1, 1) || !c.integer(0, 1, kMaxCount, n)) return;
          if (g.s_.pattern_on && n > kMaxPatternCount)
            return c.fail(err::kSettingsConflict, "pattern length above 16384");
          g.s_.trigger_count = n;
        }),
        PG_CMD({
          if (c.expect(0, 0)) c.reply_integer(g.s_.trigger_count);
        }));
  t.add(":TRIGger:SOURce", PG_CMD({
          set_choice(c, {"IMMediate", "INTernal2", "EXTernal2"}, g.s_.trigger_source);
        }),
        PG_CMD({
          if (c.expect(0, 0)) c.reply_raw(kTriggerSourceReplies[g.s_.trigger_source]);
        }));
  t.add(":TRIGger:SLOPe", PG_CMD({
          set_choice(c, {"POSitive", "NEGative"}, g.s_.trigger_slope);
        }),
        PG_CMD({
          if (c.expect(0, 0)) c.reply_raw(kSlopeReplies[g.s_.trigger_slope]);
        }));
  t.add(":TRIGger:LEVel", PG_CMD({
          set_value(c, kV, Range{-10, 10, 1}, g.s_.trigger_level);
        }),
        PG_CMD({
          query_value(c, Range{-10, 10, 1}, g.s_.trigger_level);
        }));
  t.add(":TRIGger:IMPedance", PG_CMD({ set_input_impedance(c, 50, g.s_.trigger_impedance); }), PG_CMD({
          query_value(c, Range{50, 10000, 50}, g.s_.trigger_impedance);
        }));

  // -- Arming and EXT INPUT
  t.add(":ARM:SOURce", PG_CMD({
          int src = 0;
          if (!set_choice(c,
                          {"IMMediate", "INTernal2", "EXTernal", "MANual", "ECLTrg0", "ECLTrg1", "TTLTrg0",
                           "TTLTrg1", "TTLTrg2", "TTLTrg3", "TTLTrg4", "TTLTrg5", "TTLTrg6", "TTLTrg7"},
                          src))
            return;
          if (src >= kFirstVxiArmSource && !g.need_vxi(c, kLackArmSourceVxi)) return;
          g.s_.arm_source = src;
        }),
        PG_CMD({
          if (c.expect(0, 0)) c.reply_raw(kArmSourceReplies[g.s_.arm_source]);
        }));
  t.add(":ARM:SENSe", PG_CMD({
          set_choice(c, {"EDGE", "LEVel"}, g.s_.arm_sense);
        }),
        PG_CMD({
          if (c.expect(0, 0)) c.reply_raw(kSenseReplies[g.s_.arm_sense]);
        }));
  t.add(":ARM:SLOPe", PG_CMD({
          set_choice(c, {"POSitive", "NEGative", "EITHer"}, g.s_.arm_slope);
        }),
        PG_CMD({
          if (c.expect(0, 0)) c.reply_raw(kSlopeReplies[g.s_.arm_slope]);
        }));
  t.add(":ARM:FREQuency", PG_CMD({
          double f = 0;
          if (set_value(c, kHz, Range{kMinFrequency, 50e6, 1e3}, f)) g.s_.arm_period = 1 / f;
        }),
        PG_CMD({
          query_value(c, Range{kMinFrequency, 50e6, 1e3}, 1 / g.s_.arm_period);
        }));
  t.add(":ARM:PERiod", PG_CMD({
          set_value(c, kS, Range{20e-9, kMaxPeriod, 1e-3}, g.s_.arm_period);
        }),
        PG_CMD({
          query_value(c, Range{20e-9, kMaxPeriod, 1e-3}, g.s_.arm_period);
        }));
  t.add(":ARM:EWIDth[:STATe]", PG_CMD({ set_bool(c, g.s_.external_width); }), PG_CMD({
          if (c.expect(0, 0)) c.reply_bool(g.s_.external_width);
        }));
  t.add(":ARM:LEVel", PG_CMD({
          set_value(c, kV, Range{-10, 10, 1}, g.s_.arm_level);
        }),
        PG_CMD({
          query_value(c, Range{-10, 10, 1}, g.s_.arm_level);
        }));
  t.add(":ARM:IMPedance", PG_CMD({ set_input_impedance(c, 10000, g.s_.arm_impedance); }), PG_CMD({
          query_value(c, Range{50, 10000, 10000}, g.s_.arm_impedance);
        }));

  // -- Pattern mode
  t.add(":DIGital[:STIMulus]:PATTern[:STATe]", PG_CMD({
          bool on = false;
          if (!g.need_all(c, kLackPattern) || !set_bool(c, on)) return;
          if (on && g.s_.trigger_count > kMaxPatternCount)
            return c.fail(err::kSettingsConflict, "pattern length above 16384");
          g.s_.pattern_on = on;
        }),
        PG_CMD({
          if (g.need_all(c, kLackPattern) && c.expect(0, 0)) c.reply_bool(g.s_.pattern_on);
        }));
  t.add(":DIGital[:STIMulus]:PATTern:DATA#", PG_CMD({
          int out = 0;
          std::string_view bytes;
          if (!g.need_all(c, kLackPattern) || !pattern_output(g, c, out)) return;
          if (!c.expect(1, 1) || !c.block(0, bytes)) return;
          std::string data;
          if (int e = decode_pattern(bytes, kMaxPattern, data); e != 0) return c.fail(e);
          g.s_.pattern[static_cast<std::size_t>(out)] = std::move(data);
        }),
        PG_CMD({
          int out = 0;
          if (!g.need_all(c, kLackPattern) || !pattern_output(g, c, out) || !c.expect(0, 0)) return;
          const std::string& data = g.s_.pattern[static_cast<std::size_t>(out)];
          if (g.s_.pattern_format == 1) return c.reply_block(data);
          std::string ascii(data.size(), '0');
          for (std::size_t i = 0; i < data.size(); ++i)
            if (data[i]) ascii[i] = '1';
          c.reply_block(ascii);
        }));
  // The same data, PRBS or clock to every output at once (both channels and the strobe).
  t.add(":DIGital[:STIMulus]:PATTern:DATA#:ALL", PG_CMD({
          std::string_view bytes;
          if (!g.need_all(c, kLackPattern) || !c.expect(1, 1) || !c.block(0, bytes)) return;
          std::string data;
          if (int e = decode_pattern(bytes, kMaxPattern, data); e != 0) return c.fail(e);
          for (std::string& p : g.s_.pattern) p = data;
        }),
        nullptr);
  t.add(":DIGital[:STIMulus]:PATTern:PRBS#:ALL", PG_CMD({
          long long order = 0, length = 0;
          if (!g.need_all(c, kLackPattern) || !c.expect(2, 2) || !c.integer(0, 7, 14, order) ||
              !c.integer(1, 1, static_cast<long long>(kMaxPattern), length))
            return;
          g.s_.pattern.fill(prbs_pattern(static_cast<int>(order), static_cast<std::size_t>(length)));
        }),
        nullptr);
  t.add(
      ":DIGital[:STIMulus]:PATTern:PRESet#:ALL", PG_CMD({
        long long divider = 0, length = 0;
        if (!g.need_all(c, kLackPattern) || !c.expect(2, 2) ||
            !c.integer(0, 1, static_cast<long long>(kMaxPattern), divider) ||
            !c.integer(1, 1, static_cast<long long>(kMaxPattern), length))
          return;
        g.s_.pattern.fill(clock_pattern(static_cast<std::size_t>(divider), static_cast<std::size_t>(length)));
      }),
      nullptr);
  t.add(":DIGital[:STIMulus]:PATTern:FORMat", PG_CMD({
          if (g.need_all(c, kLackPattern)) set_choice(c, {"ASCii", "BINary"}, g.s_.pattern_format);
        }),
        PG_CMD({
          if (g.need_all(c, kLackPattern) && c.expect(0, 0)) c.reply_raw(kFormatReplies[g.s_.pattern_format]);
        }));
  t.add(":DIGital[:STIMulus]:PATTern:PRBS#", PG_CMD({
          int out = 0;
          long long order = 0, length = 0;
          if (!g.need_all(c, kLackPattern) || !pattern_output(g, c, out)) return;
          if (!c.expect(2, 2) || !c.integer(0, 7, 14, order) ||
              !c.integer(1, 1, static_cast<long long>(kMaxPattern), length))
            return;
          g.s_.pattern[static_cast<std::size_t>(out)] =
              prbs_pattern(static_cast<int>(order), static_cast<std::size_t>(length));
        }),
        nullptr);
  t.add(":DIGital[:STIMulus]:PATTern:PRESet#", PG_CMD({
          int out = 0;
          long long divider = 0, length = 0;
          if (!g.need_all(c, kLackPattern) || !pattern_output(g, c, out)) return;
          if (!c.expect(2, 2) || !c.integer(0, 1, static_cast<long long>(kMaxPattern), divider) ||
              !c.integer(1, 1, static_cast<long long>(kMaxPattern), length))
            return;
          g.s_.pattern[static_cast<std::size_t>(out)] =
              clock_pattern(static_cast<std::size_t>(divider), static_cast<std::size_t>(length));
        }),
        nullptr);
  t.add(":DIGital[:STIMulus]:PATTern:UPDate", PG_CMD({
          if (g.need_all(c, kLackPattern)) set_choice(c, {"OFF", "ONCE", "CONTinuous"}, g.s_.pattern_update);
        }),
        PG_CMD({
          if (g.need_all(c, kLackPattern) && c.expect(0, 0)) c.reply_raw(kUpdateReplies[g.s_.pattern_update]);
        }));
  t.add(":DIGital[:STIMulus]:SIGNal#:FORMat", PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && g.need_all(c, kLackPattern))
            set_choice(c, {"NRZ", "RZ"}, g.chan(ch).signal_format);
        }),
        PG_CMD({
          int ch = 0;
          if (g.channel_of(c, 0, ch) && g.need_all(c, kLackPattern) && c.expect(0, 0))
            c.reply_raw(kSignalReplies[g.chan(ch).signal_format]);
        }));

  // -- Trigger output, strobe output, VXI trigger lines
  static constexpr auto set_output_level = [](PulseGenerator& g, Call& c, int which) {
    set_choice(c, {"TTL", "ECL", "STA"}, g.s_.output_level[static_cast<std::size_t>(which)]);
  };
  static constexpr auto query_output_level = [](PulseGenerator& g, Call& c, int which) {
    if (c.expect(0, 0)) c.reply_raw(kLevelKindReplies[g.s_.output_level[static_cast<std::size_t>(which)]]);
  };
  t.add("[:SOURce]:PULSe:TRIGger:IMMediate:LEVel", PG_CMD({ set_output_level(g, c, 0); }),
        PG_CMD({ query_output_level(g, c, 0); }));
  t.add("[:SOURce]:PULSe:TRIGger:LEVel", PG_CMD({ set_output_level(g, c, 1); }),
        PG_CMD({ query_output_level(g, c, 1); }));
  t.add("[:SOURce]:PULSe:STRobe:LEVel", PG_CMD({ set_output_level(g, c, 2); }),
        PG_CMD({ query_output_level(g, c, 2); }));
  t.add("[:SOURce]:PULSe:TRIGger:SOURce", PG_CMD({
          long long src = 0;
          if (!g.need_all(c, kLackTrgOutSrc) || !c.expect(1, 1) || !c.integer(0, 1, 2, src)) return;
          if (src > g.channels()) return c.fail(err::kDataOutOfRange, "no such channel");
          g.s_.trigger_output_source = src;
        }),
        PG_CMD({
          if (g.need_all(c, kLackTrgOutSrc) && c.expect(0, 0)) c.reply_integer(g.s_.trigger_output_source);
        }));
  t.add("[:SOURce]:PULSe:TRIGger:SOURce:AUTO", PG_CMD({ set_bool(c, g.s_.trigger_output_auto); }), PG_CMD({
          if (c.expect(0, 0)) c.reply_bool(g.s_.trigger_output_auto);
        }));
  t.add(":VXI:SOURce", PG_CMD({
          if (g.need_vxi(c, kLackVxiTrigSource))
            set_choice(c, {"TRIGger", "STRobe", "SSTRobe"}, g.s_.vxi_source);
        }),
        PG_CMD({
          if (g.need_vxi(c, kLackVxiTrigSource) && c.expect(0, 0))
            c.reply_raw(kVxiSourceReplies[g.s_.vxi_source]);
        }));
  t.add(":VXI:LINE", PG_CMD({
          if (g.need_vxi(c, kLackVxiTrigEnable))
            set_choice(c,
                       {"ECLT0", "ECLT1", "TTLT0", "TTLT1", "TTLT2", "TTLT3", "TTLT4", "TTLT5", "TTLT6",
                        "TTLT7", "NONE"},
                       g.s_.vxi_line);
        }),
        PG_CMD({
          if (g.need_vxi(c, kLackVxiTrigEnable) && c.expect(0, 0))
            c.reply_raw(kVxiLineReplies[g.s_.vxi_line]);
        }));

  // -- PLL reference
  t.add(":ROSCillator:SOURce", PG_CMD({
          set_choice(c, {"CLKin", "INTernal1", "INTernal2"}, g.s_.reference_source);
        }),
        PG_CMD({
          if (c.expect(0, 0)) c.reply_raw(kReferenceReplies[g.s_.reference_source]);
        }));
  t.add(":ROSCillator:FREQuency", PG_CMD({
          set_value(c, kHz, Range{1e3, 100e6, 10e6}, g.s_.reference_frequency);
        }),
        PG_CMD({
          query_value(c, Range{1e3, 100e6, 10e6}, g.s_.reference_frequency);
        }));

  // -- System
  t.add(":SYSTem:SECurity[:STATe]", PG_CMD({
          bool on = false;
          if (!set_bool(c, on)) return;
          if (g.secure_ && !on) {
            // Leaving secure operation sanitises the stored data.
            g.memories_.fill(g.defaults());
            for (std::string& p : g.s_.pattern) p.clear();
          }
          g.secure_ = on;
        }),
        PG_CMD({
          if (c.expect(0, 0)) c.reply_bool(g.secure_);
        }));
  t.add(":SYSTem:WARNing:COUNt", nullptr, PG_CMD({
          if (!c.expect(0, 0)) return;
          c.reply_integer(static_cast<long long>(g.warning_count()));
        }));
  t.add(":SYSTem:WARNing[:STRing]", nullptr, PG_CMD({
          if (!c.expect(0, 0)) return;
          std::vector<std::string> w = g.warnings();
          if (w.empty()) return c.reply_string("");
          c.reply_string(w[0]);
          for (std::size_t i = 1; i < w.size(); ++i) {
            c.append_raw(";");
            c.append_string(w[i]);
          }
        }));
  // The calibration state, on every model: 0 while the calibration holds, 1 after a failed calibration.
  t.add(":CALibration[:ALL]", nullptr, PG_CMD({
          if (c.expect(0, 0))
            c.reply_integer(g.calibration_failed_ || (g.faults_ && g.faults_->calibration_fails));
        }));
}

#undef PG_CMD

}  // namespace pgx::sim
