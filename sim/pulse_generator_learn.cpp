// The learn string: every setting as a program message that restores it when sent back.

#include <cstdint>
#include <string>

#include "sim/call.h"
#include "sim/pulse_generator.h"
#include "sim/pulse_generator_keywords.h"

namespace pgx::sim {

using namespace pg;

namespace {

class Learn {
 public:
  void add(std::string_view header) {
    if (!text.empty()) text += ';';
    text += header;
  }
  void add(std::string_view header, std::string_view value) {
    add(header);
    text += ' ';
    text += value;
  }
  void add_real(std::string_view header, double v, std::string_view suffix = {}) {
    char buf[40];
    std::size_t n = format_real(v, buf);
    add(header, std::string_view(buf, n));
    text += suffix;
  }
  void add_int(std::string_view header, long long v) {
    char buf[40];
    add(header, std::string_view(buf, format_integer(v, buf)));
  }
  void add_bool(std::string_view header, bool v) { add(header, v ? "1" : "0"); }
  // A hold with the values it holds: "<header> <hold>,<value>[,<value>]".
  void add_held(std::string_view header, std::string_view hold, double v) {
    add(header, hold);
    append_value(v);
  }
  void add_held(std::string_view header, std::string_view hold, double v, double w) {
    add_held(header, hold, v);
    append_value(w);
  }
  std::string text;

 private:
  void append_value(double v) {
    char buf[40];
    text += ',';
    text.append(buf, format_real(v, buf));
  }
};

std::string with_suffix(std::string_view head, int n, std::string_view tail = {}) {
  std::string s(head);
  s += std::to_string(n);
  s += tail;
  return s;
}

}  // namespace

// The order matters: the limits go off and the voltages are held before any load changes, so that no load
// is refused for the levels the instrument had before; the timing of each channel is restored through its
// holds with their values, which no period, delay or width refuses; the levels follow their load and
// limits, and the limits go on last.
void PulseGenerator::learn(Call& c) {
  Learn l;
  const bool pattern = !lacks_any(kLackPattern);
  const auto has = [this](int ch, std::uint32_t bits) { return !(fe(ch).lacks & bits); };
  if (pattern) l.add(":DIG:PATT 0");
  l.add_bool(":ARM:EWID", false);
  for (int ch = 1; ch <= channels(); ++ch)
    if (has(ch, kLackLevel | kLackLimit)) l.add_bool(with_suffix(":VOLT", ch, ":LIM:STAT"), false);
  l.add(":HOLD VOLT");
  l.add_real(":PULS:PER", s_.period);
  for (int ch = 1; ch <= channels(); ++ch) {
    const Channel& k = chan(ch);
    const bool ratio = k.delay_hold == kHoldRatio;
    l.add_held(with_suffix(":PULS:DEL", ch, ":HOLD"), kTimeHoldReplies[k.delay_hold],
               ratio ? k.delay_held * 100 : k.delay_held);
    l.add(with_suffix(":PULS:DEL", ch, ":UNIT"), kUnitReplies[k.delay_unit]);
    l.add_held(with_suffix(":PULS:HOLD", ch), kWidthHoldReplies[k.width_hold], k.width_held);
    const bool double_ratio = k.double_hold == kHoldRatio;
    l.add_held(with_suffix(":PULS:DOUB", ch, ":DEL:HOLD"), kTimeHoldReplies[k.double_hold],
               double_ratio ? k.double_held * 100 : k.double_held);
    l.add(with_suffix(":PULS:DOUB", ch, ":DEL:UNIT"), kUnitReplies[k.double_unit]);
    l.add_bool(with_suffix(":PULS:DOUB", ch), k.double_pulse);
    if (has(ch, kLackTransTime)) {
      if (has(ch, kLackLeTeCouple)) l.add_bool(with_suffix(":PULS:TRAN", ch, ":TRA:AUTO"), false);
      if (has(ch, kLackTransHold)) {
        const double per = k.transition_hold == kHoldRatio ? 100 : 1;
        l.add_held(with_suffix(":PULS:TRAN", ch, ":HOLD"), kTransitionHoldReplies[k.transition_hold],
                   k.leading_held * per, k.trailing_held * per);
      } else {
        // Without a transition hold the times are always held as times, within the front-end's range.
        l.add_real(with_suffix(":PULS:TRAN", ch), k.leading_held, "S");
        if (has(ch, kLackLeTeAbs)) l.add_real(with_suffix(":PULS:TRAN", ch, ":TRA"), k.trailing_held, "S");
      }
      if (has(ch, kLackLeTeCouple))
        l.add_bool(with_suffix(":PULS:TRAN", ch, ":TRA:AUTO"), k.trailing_coupled);
      l.add(with_suffix(":PULS:TRAN", ch, ":UNIT"), kUnitReplies[k.transition_unit]);
    }
    if (has(ch, kLackLoadComp)) l.add_real(with_suffix(":OUTP", ch, ":IMP:EXT"), k.load);
    if (has(ch, kLackOutImpedance)) l.add_real(with_suffix(":OUTP", ch, ":IMP"), k.source_impedance);
  }
  l.add(":HOLD", kLevelHoldReplies[s_.level_hold]);
  for (int ch = 1; ch <= channels(); ++ch) {
    const Channel& k = chan(ch);
    if (has(ch, kLackLevel)) {
      if (has(ch, kLackLimit)) {
        l.add(with_suffix(":VOLT", ch, ":LIM:LOW"), "MIN");
        l.add_real(with_suffix(":VOLT", ch, ":LIM"), k.limits.volt_high);
        l.add_real(with_suffix(":VOLT", ch, ":LIM:LOW"), k.limits.volt_low);
        l.add(with_suffix(":CURR", ch, ":LIM:LOW"), "MIN");
        l.add_real(with_suffix(":CURR", ch, ":LIM"), k.limits.curr_high);
        l.add_real(with_suffix(":CURR", ch, ":LIM:LOW"), k.limits.curr_low);
      }
      char a[40], b[40];
      std::string pair(a, format_real(k.high, a));
      pair += ',';
      pair.append(b, format_real(k.low, b));
      l.add(with_suffix(s_.level_hold == 0 ? ":VOLT" : ":CURR", ch, ":HLOW"), pair);
      if (has(ch, kLackLimit)) l.add_bool(with_suffix(":VOLT", ch, ":LIM:STAT"), k.limits_on);
    }
    l.add(with_suffix(":OUTP", ch, ":POL"), kPolarityReplies[k.polarity]);
    if (has(ch, kLackOutStateCompl)) l.add_bool(with_suffix(":OUTP", ch, ":COMP"), k.complement_on);
    l.add_bool(with_suffix(":OUTP", ch), k.output_on);
    if (pattern) l.add(with_suffix(":DIG:SIGN", ch, ":FORM"), kSignalReplies[k.signal_format]);
  }
  if (channels() == 2 && !lacks_any(kLackOutputMath)) l.add(":CHAN:MATH", kMathReplies[s_.channel_math]);
  l.add(":TRIG:SOUR", kTriggerSourceReplies[s_.trigger_source]);
  l.add(":TRIG:SLOP", kSlopeReplies[s_.trigger_slope]);
  l.add_real(":TRIG:LEV", s_.trigger_level);
  l.add_real(":TRIG:IMP", s_.trigger_impedance);
  l.add(":ARM:SOUR", kArmSourceReplies[s_.arm_source]);
  l.add(":ARM:SENS", kSenseReplies[s_.arm_sense]);
  l.add(":ARM:SLOP", kSlopeReplies[s_.arm_slope]);
  l.add_real(":ARM:PER", s_.arm_period);
  l.add_real(":ARM:LEV", s_.arm_level);
  l.add_real(":ARM:IMP", s_.arm_impedance);
  l.add(":PULS:TRIG:IMM:LEV", kLevelKindReplies[s_.output_level[0]]);
  l.add(":PULS:TRIG:LEV", kLevelKindReplies[s_.output_level[1]]);
  l.add(":PULS:STR:LEV", kLevelKindReplies[s_.output_level[2]]);
  if (!lacks_any(kLackTrgOutSrc)) l.add_int(":PULS:TRIG:SOUR", s_.trigger_output_source);
  l.add_bool(":PULS:TRIG:SOUR:AUTO", s_.trigger_output_auto);
  if (vxi() && !lacks_any(kLackVxiTrigSource)) l.add(":VXI:SOUR", kVxiSourceReplies[s_.vxi_source]);
  if (vxi() && !lacks_any(kLackVxiTrigEnable)) l.add(":VXI:LINE", kVxiLineReplies[s_.vxi_line]);
  l.add(":ROSC:SOUR", kReferenceReplies[s_.reference_source]);
  l.add_real(":ROSC:FREQ", s_.reference_frequency);
  if (pattern) {
    l.add(":DIG:PATT:FORM", kFormatReplies[s_.pattern_format]);
    l.add(":DIG:PATT:UPD", kUpdateReplies[s_.pattern_update]);
    for (int k = 1; k <= 3; ++k) {
      if (k == 2 && channels() < 2) continue;
      const std::string& data = s_.pattern[static_cast<std::size_t>(k - 1)];
      std::string block = "#";
      std::string len = std::to_string(data.size());
      block += std::to_string(len.size());
      block += len;
      for (char bit : data) block += bit ? '1' : '0';
      l.add(with_suffix(":DIG:PATT:DATA", k), block);
    }
  }
  l.add_int(":TRIG:COUN", s_.trigger_count);
  l.add_bool(":ARM:EWID", s_.external_width);
  if (pattern) l.add_bool(":DIG:PATT", s_.pattern_on);
  c.reply_raw(l.text);
}

}  // namespace pgx::sim
