// Pattern mode: the pattern of each output (the channels and the strobe), PRBS and clock presets, the
// reply format, the update mode and the signal format of each channel.

#include "sim/pattern_data.h"
#include "sim/pulse_generator_commands.h"
#include "sim/scpi_error.h"

namespace pgx::sim::pg {
namespace {

constexpr long long kLongestPattern = static_cast<long long>(PulseGenerator::kMaxPattern);

// Pattern outputs: suffix 1 and 2 are the channels, 3 the strobe output.
bool pattern_output(PulseGenerator& g, Call& c, std::size_t& out) {
  const int n = c.suffix(0);
  if (n == 3 || (n >= 1 && n <= g.channels())) {
    out = static_cast<std::size_t>(n - 1);
    return true;
  }
  c.fail(err::kHeaderSuffixOutOfRange);
  return false;
}

void set_pattern_state(PulseGenerator& g, Call& c) {
  bool on = false;
  if (!g.need_all(c, kLackPattern) || !set_bool(c, on)) return;
  if (on && g.settings().trigger_count > kMaxPatternCount)
    return c.fail(err::kSettingsConflict, "pattern length above 16384");
  g.settings().pattern_on = on;
}
void query_pattern_state(PulseGenerator& g, Call& c) {
  if (g.need_all(c, kLackPattern) && c.expect(0, 0)) c.reply_bool(g.settings().pattern_on);
}

void set_pattern_data(PulseGenerator& g, Call& c) {
  std::size_t out = 0;
  std::string_view bytes;
  if (!g.need_all(c, kLackPattern) || !pattern_output(g, c, out)) return;
  if (!c.expect(1, 1) || !c.block(0, bytes)) return;
  std::string data;
  if (int e = decode_pattern(bytes, PulseGenerator::kMaxPattern, data); e != 0) return c.fail(e);
  g.settings().pattern[out] = std::move(data);
}
void query_pattern_data(PulseGenerator& g, Call& c) {
  std::size_t out = 0;
  if (!g.need_all(c, kLackPattern) || !pattern_output(g, c, out) || !c.expect(0, 0)) return;
  const std::string& data = g.settings().pattern[out];
  if (g.settings().pattern_format == 1) return c.reply_block(data);
  std::string ascii(data.size(), '0');
  for (std::size_t i = 0; i < data.size(); ++i)
    if (data[i]) ascii[i] = '1';
  c.reply_block(ascii);
}

// The same data, PRBS or clock to every output at once (both channels and the strobe).
void set_all_pattern_data(PulseGenerator& g, Call& c) {
  std::string_view bytes;
  if (!g.need_all(c, kLackPattern) || !c.expect(1, 1) || !c.block(0, bytes)) return;
  std::string data;
  if (int e = decode_pattern(bytes, PulseGenerator::kMaxPattern, data); e != 0) return c.fail(e);
  for (std::string& p : g.settings().pattern) p = data;
}

// PRBS <order 7..14>,<length>.
bool prbs_parameters(Call& c, long long& order, long long& length) {
  return c.expect(2, 2) && c.integer(0, 7, 14, order) && c.integer(1, 1, kLongestPattern, length);
}
// Clock preset <divider>,<length>.
bool preset_parameters(Call& c, long long& divider, long long& length) {
  return c.expect(2, 2) && c.integer(0, 1, kLongestPattern, divider) &&
         c.integer(1, 1, kLongestPattern, length);
}

void set_prbs(PulseGenerator& g, Call& c) {
  std::size_t out = 0;
  long long order = 0, length = 0;
  if (!g.need_all(c, kLackPattern) || !pattern_output(g, c, out) || !prbs_parameters(c, order, length))
    return;
  g.settings().pattern[out] = prbs_pattern(static_cast<int>(order), static_cast<std::size_t>(length));
}
void set_all_prbs(PulseGenerator& g, Call& c) {
  long long order = 0, length = 0;
  if (!g.need_all(c, kLackPattern) || !prbs_parameters(c, order, length)) return;
  g.settings().pattern.fill(prbs_pattern(static_cast<int>(order), static_cast<std::size_t>(length)));
}

void set_preset(PulseGenerator& g, Call& c) {
  std::size_t out = 0;
  long long divider = 0, length = 0;
  if (!g.need_all(c, kLackPattern) || !pattern_output(g, c, out) || !preset_parameters(c, divider, length))
    return;
  g.settings().pattern[out] =
      clock_pattern(static_cast<std::size_t>(divider), static_cast<std::size_t>(length));
}
void set_all_preset(PulseGenerator& g, Call& c) {
  long long divider = 0, length = 0;
  if (!g.need_all(c, kLackPattern) || !preset_parameters(c, divider, length)) return;
  g.settings().pattern.fill(
      clock_pattern(static_cast<std::size_t>(divider), static_cast<std::size_t>(length)));
}

void set_pattern_format(PulseGenerator& g, Call& c) {
  if (g.need_all(c, kLackPattern)) set_choice(c, {"ASCii", "BINary"}, g.settings().pattern_format);
}
void query_pattern_format(PulseGenerator& g, Call& c) {
  if (g.need_all(c, kLackPattern) && c.expect(0, 0)) c.reply_raw(kFormatReplies[g.settings().pattern_format]);
}

void set_pattern_update(PulseGenerator& g, Call& c) {
  if (g.need_all(c, kLackPattern)) set_choice(c, {"OFF", "ONCE", "CONTinuous"}, g.settings().pattern_update);
}
void query_pattern_update(PulseGenerator& g, Call& c) {
  if (g.need_all(c, kLackPattern) && c.expect(0, 0)) c.reply_raw(kUpdateReplies[g.settings().pattern_update]);
}

void set_signal_format(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && g.need_all(c, kLackPattern))
    set_choice(c, {"NRZ", "RZ"}, g.chan(ch).signal_format);
}
void query_signal_format(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && g.need_all(c, kLackPattern) && c.expect(0, 0))
    c.reply_raw(kSignalReplies[g.chan(ch).signal_format]);
}

}  // namespace

void add_pattern_commands(CommandTree& t) {
  add<set_pattern_state, query_pattern_state>(t, ":DIGital[:STIMulus]:PATTern[:STATe]");
  add<set_pattern_data, query_pattern_data>(t, ":DIGital[:STIMulus]:PATTern:DATA#");
  add<set_all_pattern_data, nullptr>(t, ":DIGital[:STIMulus]:PATTern:DATA#:ALL");
  add<set_all_prbs, nullptr>(t, ":DIGital[:STIMulus]:PATTern:PRBS#:ALL");
  add<set_all_preset, nullptr>(t, ":DIGital[:STIMulus]:PATTern:PRESet#:ALL");
  add<set_pattern_format, query_pattern_format>(t, ":DIGital[:STIMulus]:PATTern:FORMat");
  add<set_prbs, nullptr>(t, ":DIGital[:STIMulus]:PATTern:PRBS#");
  add<set_preset, nullptr>(t, ":DIGital[:STIMulus]:PATTern:PRESet#");
  add<set_pattern_update, query_pattern_update>(t, ":DIGital[:STIMulus]:PATTern:UPDate");
  add<set_signal_format, query_signal_format>(t, ":DIGital[:STIMulus]:SIGNal#:FORMat");
}

}  // namespace pgx::sim::pg
