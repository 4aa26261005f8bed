// The instrument's system functions: secure operation, the warnings in force and the calibration state.

#include <string>
#include <vector>

#include "sim/pulse_generator_commands.h"

namespace pgx::sim::pg {
namespace {

void set_security(PulseGenerator& g, Call& c) {
  bool on = false;
  if (set_bool(c, on)) g.set_secure(on);
}
void query_security(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_bool(g.secure());
}

void query_warning_count(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_integer(static_cast<long long>(g.warning_count()));
}

void query_warnings(PulseGenerator& g, Call& c) {
  if (!c.expect(0, 0)) return;
  std::vector<std::string> w = g.warnings();
  if (w.empty()) return c.reply_string("");
  c.reply_string(w[0]);
  for (std::size_t i = 1; i < w.size(); ++i) {
    c.append_raw(";");
    c.append_string(w[i]);
  }
}

// The calibration state, on every model: 0 while the calibration holds, 1 after a failed calibration.
void query_calibration_state(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_integer(g.calibration_failed() ? 1 : 0);
}

}  // namespace

void add_system_commands(CommandTree& t) {
  add<set_security, query_security>(t, ":SYSTem:SECurity[:STATe]");
  add<nullptr, query_warning_count>(t, ":SYSTem:WARNing:COUNt");
  add<nullptr, query_warnings>(t, ":SYSTem:WARNing[:STRing]");
  add<nullptr, query_calibration_state>(t, ":CALibration[:ALL]");
}

}  // namespace pgx::sim::pg
