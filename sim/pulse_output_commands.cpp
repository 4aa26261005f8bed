// The outputs of each channel, channel math, the trigger and strobe outputs and the VXI trigger lines.

#include "sim/pulse_generator_commands.h"
#include "sim/scpi_error.h"

namespace pgx::sim::pg {
namespace {

constexpr Range kSourceImpedance{50, 1000, 50};
constexpr Range kLoad{kMinLoad, kMaxLoad, 50};

void set_output(PulseGenerator& g, Call& c) {
  int ch = 0;
  bool on = false;
  if (g.channel_of(c, 0, ch) && set_bool(c, on)) g.chan(ch).output_on = on;
}
void query_output(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_bool(g.chan(ch).output_on);
}

void set_complement(PulseGenerator& g, Call& c) {
  int ch = 0;
  bool on = false;
  if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackOutStateCompl) && set_bool(c, on))
    g.chan(ch).complement_on = on;
}
void query_complement(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackOutStateCompl) && c.expect(0, 0))
    c.reply_bool(g.chan(ch).complement_on);
}

void set_polarity(PulseGenerator& g, Call& c) {
  int ch = 0, p = 0;
  if (g.channel_of(c, 0, ch) && set_choice(c, {"NORMal", "INVerted"}, p)) g.chan(ch).polarity = p;
}
void query_polarity(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && c.expect(0, 0)) c.reply_raw(kPolarityReplies[g.chan(ch).polarity]);
}

void set_source_impedance(PulseGenerator& g, Call& c) {
  int ch = 0;
  double r = 0;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackOutImpedance)) return;
  if (!set_value(c, kOhm, kSourceImpedance, r)) return;
  if (r != 50 && r != 1000) return c.fail(err::kIllegalParameterValue, "50 or 1000 ohm");
  g.chan(ch).source_impedance = r;
}
void query_source_impedance(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackOutImpedance))
    query_value(c, kSourceImpedance, g.chan(ch).source_impedance);
}

void set_load(PulseGenerator& g, Call& c) {
  int ch = 0;
  double r = 0;
  if (!g.channel_of(c, 0, ch) || !g.need(c, ch, kLackLoadComp)) return;
  if (!set_value(c, kOhm, kLoad, r)) return;
  // The held unit stays and the other follows the new load; levels the load cannot carry are clipped at the
  // output and reported as a warning. A load that would carry the held levels out of the output's range, or
  // out of the limits while they are on, is refused like those levels themselves.
  if (g.check_load(ch, r) != 0)
    return c.fail(err::kSettingsConflict, "the levels would leave their range or the limits");
  g.chan(ch).load = r;
}
void query_load(PulseGenerator& g, Call& c) {
  int ch = 0;
  if (g.channel_of(c, 0, ch) && g.need(c, ch, kLackLoadComp)) query_value(c, kLoad, g.chan(ch).load);
}

// Channel math needs two channels whose front-ends both have it.
bool need_math(PulseGenerator& g, Call& c) {
  if (g.channels() < 2) {
    c.fail(err::kHardwareMissing, "a second channel");
    return false;
  }
  return g.need_all(c, kLackOutputMath);
}
void set_channel_math(PulseGenerator& g, Call& c) {
  if (need_math(g, c)) set_choice(c, {"OFF", "PLUS"}, g.settings().channel_math);
}
void query_channel_math(PulseGenerator& g, Call& c) {
  if (need_math(g, c) && c.expect(0, 0)) c.reply_raw(kMathReplies[g.settings().channel_math]);
}

// The signal level of the trigger output (immediate and triggered) and of the strobe output.
enum OutputLevel { kImmediateTrigger, kTrigger, kStrobe };
template <OutputLevel Which>
void set_output_level(PulseGenerator& g, Call& c) {
  set_choice(c, {"TTL", "ECL", "STA"}, g.settings().output_level[Which]);
}
template <OutputLevel Which>
void query_output_level(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_raw(kLevelKindReplies[g.settings().output_level[Which]]);
}

void set_trigger_output_source(PulseGenerator& g, Call& c) {
  long long src = 0;
  if (!g.need_all(c, kLackTrgOutSrc) || !c.expect(1, 1) || !c.integer(0, 1, 2, src)) return;
  if (src > g.channels()) return c.fail(err::kDataOutOfRange, "no such channel");
  g.settings().trigger_output_source = src;
}
void query_trigger_output_source(PulseGenerator& g, Call& c) {
  if (g.need_all(c, kLackTrgOutSrc) && c.expect(0, 0)) c.reply_integer(g.settings().trigger_output_source);
}

void set_trigger_output_auto(PulseGenerator& g, Call& c) {
  set_bool(c, g.settings().trigger_output_auto);
}
void query_trigger_output_auto(PulseGenerator& g, Call& c) {
  if (c.expect(0, 0)) c.reply_bool(g.settings().trigger_output_auto);
}

void set_vxi_source(PulseGenerator& g, Call& c) {
  if (g.need_vxi(c, kLackVxiTrigSource))
    set_choice(c, {"TRIGger", "STRobe", "SSTRobe"}, g.settings().vxi_source);
}
void query_vxi_source(PulseGenerator& g, Call& c) {
  if (g.need_vxi(c, kLackVxiTrigSource) && c.expect(0, 0))
    c.reply_raw(kVxiSourceReplies[g.settings().vxi_source]);
}

void set_vxi_line(PulseGenerator& g, Call& c) {
  if (g.need_vxi(c, kLackVxiTrigEnable))
    set_choice(
        c, {"ECLT0", "ECLT1", "TTLT0", "TTLT1", "TTLT2", "TTLT3", "TTLT4", "TTLT5", "TTLT6", "TTLT7", "NONE"},
        g.settings().vxi_line);
}
void query_vxi_line(PulseGenerator& g, Call& c) {
  if (g.need_vxi(c, kLackVxiTrigEnable) && c.expect(0, 0))
    c.reply_raw(kVxiLineReplies[g.settings().vxi_line]);
}

}  // namespace

void add_output_commands(CommandTree& t) {
  add<set_output, query_output>(t, ":OUTPut#[:NORMal][:STATe]");
  add<set_complement, query_complement>(t, ":OUTPut#:COMPlement[:STATe]");
  add<set_polarity, query_polarity>(t, ":OUTPut#:POLarity");
  add<set_source_impedance, query_source_impedance>(t, ":OUTPut#:IMPedance[:INTernal]");
  add<set_load, query_load>(t, ":OUTPut#:IMPedance:EXTernal");
  add<set_channel_math, query_channel_math>(t, ":CHANnel:MATH");

  add<set_output_level<kImmediateTrigger>, query_output_level<kImmediateTrigger>>(
      t, "[:SOURce]:PULSe:TRIGger:IMMediate:LEVel");
  add<set_output_level<kTrigger>, query_output_level<kTrigger>>(t, "[:SOURce]:PULSe:TRIGger:LEVel");
  add<set_output_level<kStrobe>, query_output_level<kStrobe>>(t, "[:SOURce]:PULSe:STRobe:LEVel");
  add<set_trigger_output_source, query_trigger_output_source>(t, "[:SOURce]:PULSe:TRIGger:SOURce");
  add<set_trigger_output_auto, query_trigger_output_auto>(t, "[:SOURce]:PULSe:TRIGger:SOURce:AUTO");
  add<set_vxi_source, query_vxi_source>(t, ":VXI:SOURce");
  add<set_vxi_line, query_vxi_line>(t, ":VXI:LINE");
}

}  // namespace pgx::sim::pg
