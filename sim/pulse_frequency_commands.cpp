// Frequency and period, the CLK IN measurements and the PLL reference.

#include "sim/engine.h"
#include "sim/pulse_generator_commands.h"
#include "sim/scpi_error.h"

namespace pgx::sim::pg {
namespace {

Range frequency_range(const PulseGenerator& g) {
  return {kMinFrequency, g.max_frequency(), 1e6};
}
Range period_range(const PulseGenerator& g) {
  return {1 / g.max_frequency(), kMaxPeriod, 1e-6};
}
constexpr Range kReferenceFrequency{1e3, 100e6, 10e6};

void set_frequency(PulseGenerator& g, Call& c) {
  double f = 0;
  if (set_value(c, kHz, frequency_range(g), f)) g.settings().period = 1 / f;
}
void query_frequency(PulseGenerator& g, Call& c) {
  query_value(c, frequency_range(g), 1 / g.settings().period);
}

void set_period(PulseGenerator& g, Call& c) {
  set_value(c, kS, period_range(g), g.settings().period);
}
void query_period(PulseGenerator& g, Call& c) {
  query_value(c, period_range(g), g.settings().period);
}

// FREQ:AUTO ONCE and PER:AUTO ONCE: the period of the signal at CLK IN.
void measure_into_period(PulseGenerator& g, Call& c) {
  int once = 0;
  if (!set_choice(c, {"ONCE"}, once)) return;
  const double f = g.clock_in_frequency();
  if (f <= 0) return c.fail(err::kDataStale, "no signal at CLK IN");
  if (f < kMinFrequency || f > g.max_frequency())
    return c.fail(err::kDataOutOfRange, "CLK IN frequency beyond the instrument's range");
  g.settings().period = 1 / f;
}

// Without a signal, a measurement answers 9.91E37 (not a number) and queues -230.
bool clock_in_measurable(PulseGenerator& g, Call& c) {
  if (!c.expect(0, 0)) return false;
  if (g.clock_in_frequency() > 0) return true;
  c.engine().push_error(err::kDataStale, "no signal at CLK IN");
  c.reply_raw("9.91E37");
  return false;
}
void measure_frequency(PulseGenerator& g, Call& c) {
  if (clock_in_measurable(g, c)) c.reply_real(g.clock_in_frequency());
}
void measure_period(PulseGenerator& g, Call& c) {
  if (clock_in_measurable(g, c)) c.reply_real(1 / g.clock_in_frequency());
}

void set_reference_source(PulseGenerator& g, Call& c) {
  set_choice(c, {"CLKin", "INTernal1", "INTernal2"}, g.settings().reference_source);
}
void query_reference_source(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_raw(kReferenceReplies[g.settings().reference_source]);
}

}  // namespace

void add_frequency_commands(CommandTree& t) {
  using S = PulseGenerator::Settings;
  add<set_frequency, query_frequency>(t, "[:SOURce]:FREQuency[:CW]");
  add<set_period, query_period>(t, "[:SOURce]:PULSe:PERiod");
  add<measure_into_period, nullptr>(t, "[:SOURce]:FREQuency:AUTO");
  add<measure_into_period, nullptr>(t, "[:SOURce]:PULSe:PERiod:AUTO");
  add<nullptr, measure_frequency>(t, ":MEASure:FREQuency");
  add<nullptr, measure_period>(t, ":MEASure:PERiod");
  add<set_reference_source, query_reference_source>(t, ":ROSCillator:SOURce");
  add<set_number<&S::reference_frequency, kReferenceFrequency, kHz>,
      query_number<&S::reference_frequency, kReferenceFrequency>>(t, ":ROSCillator:FREQuency");
}

}  // namespace pgx::sim::pg
