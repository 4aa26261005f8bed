#pragma once
// The pulse generator's command table, entered one subsystem at a time, and what the subsystems share:
// handlers written as plain functions of the pulse generator, and settings whose range is fixed.

#include <string_view>

#include "sim/call.h"
#include "sim/command_tree.h"
#include "sim/pulse_generator.h"
#include "sim/pulse_generator_keywords.h"

namespace pgx::sim::pg {

// A command handler written against the pulse generator.
using Command = void (*)(PulseGenerator&, Call&);

template <Command F>
void dispatch(Instrument& instrument, Call& call) {
  F(static_cast<PulseGenerator&>(instrument), call);
}

template <Command F>
constexpr Handler handler() {
  if constexpr (F == nullptr) {
    return nullptr;
  } else {
    return &dispatch<F>;
  }
}

// Enters a header with its setter and its query; either may be nullptr (a query or a command only).
template <Command Set, Command Query>
void add(CommandTree& tree, std::string_view pattern) {
  tree.add(pattern, handler<Set>(), handler<Query>());
}

// A number among the instrument's settings whose range does not depend on anything else.
template <double PulseGenerator::Settings::*Field, const Range& R, unsigned Units>
void set_number(PulseGenerator& g, Call& c) {
  set_value(c, Units, R, g.settings().*Field);
}
template <double PulseGenerator::Settings::*Field, const Range& R>
void query_number(PulseGenerator& g, Call& c) {
  query_value(c, R, g.settings().*Field);
}

// The subsystems.
void add_frequency_commands(CommandTree& tree);  // frequency, period, CLK IN, PLL reference
void add_timing_commands(CommandTree& tree);     // width, delay, double pulses, transitions
void add_level_commands(CommandTree& tree);      // levels, level hold, limits
void add_trigger_commands(CommandTree& tree);    // trigger (CLK IN) and arming (EXT INPUT)
void add_pattern_commands(CommandTree& tree);    // pattern mode
void add_output_commands(CommandTree& tree);  // outputs, channel math, trigger and strobe outputs, VXI lines
void add_system_commands(CommandTree& tree);  // security, warnings, calibration state

}  // namespace pgx::sim::pg
