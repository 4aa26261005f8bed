// The learn string: every setting as a program message that restores it when sent back.

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
  std::string text;
};

std::string with_suffix(std::string_view head, int n, std::string_view tail = {}) {
  std::string s(head);
  s += std::to_string(n);
  s += tail;
  return s;
}

}  // namespace

void PulseGenerator::learn(Call& c) {
  Learn l;
  const bool pattern = !lacks_any(kLackPattern);
  if (pattern) l.add(":DIG:PATT 0");
  l.add_bool(":ARM:EWID", false);
  l.add(":HOLD", kLevelHoldReplies[s_.level_hold]);
  l.add_real(":PULS:PER", s_.period);
  for (int ch = 1; ch <= channels(); ++ch) {
    const Channel& k = chan(ch);
    const FrontEndModel& m = fe(ch);
    l.add(with_suffix(":PULS:DEL", ch, ":HOLD"), kTimeHoldReplies[k.delay_hold]);
    if (k.delay_hold == kHoldTime)
      l.add_real(with_suffix(":PULS:DEL", ch), k.delay_held, "S");
    else
      l.add_real(with_suffix(":PULS:DEL", ch), k.delay_held * 100, "PCT");
    l.add(with_suffix(":PULS:DEL", ch, ":UNIT"), kUnitReplies[k.delay_unit]);
    l.add(with_suffix(":PULS:HOLD", ch), kWidthHoldReplies[k.width_hold]);
    static constexpr const char* kWidthHeads[] = {":PULS:WIDT", ":PULS:DCYC", ":PULS:TDEL"};
    l.add_real(with_suffix(kWidthHeads[k.width_hold], ch), k.width_held);
    l.add(with_suffix(":PULS:DOUB", ch, ":DEL:HOLD"), kTimeHoldReplies[k.double_hold]);
    if (k.double_hold == kHoldTime)
      l.add_real(with_suffix(":PULS:DOUB", ch, ":DEL"), k.double_held, "S");
    else
      l.add_real(with_suffix(":PULS:DOUB", ch, ":DEL"), k.double_held * 100, "PCT");
    l.add(with_suffix(":PULS:DOUB", ch, ":DEL:UNIT"), kUnitReplies[k.double_unit]);
    l.add_bool(with_suffix(":PULS:DOUB", ch), k.double_pulse);
    if (!(m.lacks & kLackTransTime)) {
      if (!(m.lacks & kLackTransHold))
        l.add(with_suffix(":PULS:TRAN", ch, ":HOLD"), kTransitionHoldReplies[k.transition_hold]);
      if (!(m.lacks & kLackLeTeCouple)) l.add_bool(with_suffix(":PULS:TRAN", ch, ":TRA:AUTO"), false);
      const bool ratio = k.transition_hold == kHoldRatio;
      l.add_real(with_suffix(":PULS:TRAN", ch), ratio ? k.leading_held * 100 : k.leading_held,
                 ratio ? "PCT" : "S");
      if (!(m.lacks & kLackLeTeAbs))
        l.add_real(with_suffix(":PULS:TRAN", ch, ":TRA"), ratio ? k.trailing_held * 100 : k.trailing_held,
                   ratio ? "PCT" : "S");
      if (!(m.lacks & kLackLeTeCouple))
        l.add_bool(with_suffix(":PULS:TRAN", ch, ":TRA:AUTO"), k.trailing_coupled);
      l.add(with_suffix(":PULS:TRAN", ch, ":UNIT"), kUnitReplies[k.transition_unit]);
    }
    if (!(m.lacks & kLackLoadComp)) l.add_real(with_suffix(":OUTP", ch, ":IMP:EXT"), k.load);
    if (!(m.lacks & kLackOutImpedance)) l.add_real(with_suffix(":OUTP", ch, ":IMP"), k.source_impedance);
    if (!(m.lacks & kLackLevel)) {
      if (!(m.lacks & kLackLimit)) {
        l.add_bool(with_suffix(":VOLT", ch, ":LIM:STAT"), false);
        l.add(with_suffix(":VOLT", ch, ":LIM:LOW"), "MIN");
        l.add_real(with_suffix(":VOLT", ch, ":LIM"), k.volt_limit_high);
        l.add_real(with_suffix(":VOLT", ch, ":LIM:LOW"), k.volt_limit_low);
        l.add(with_suffix(":CURR", ch, ":LIM:LOW"), "MIN");
        l.add_real(with_suffix(":CURR", ch, ":LIM"), k.curr_limit_high);
        l.add_real(with_suffix(":CURR", ch, ":LIM:LOW"), k.curr_limit_low);
      }
      char a[40], b[40];
      std::string pair(a, format_real(k.high, a));
      pair += ',';
      pair.append(b, format_real(k.low, b));
      l.add(with_suffix(s_.level_hold == 0 ? ":VOLT" : ":CURR", ch, ":HLOW"), pair);
      if (!(m.lacks & kLackLimit)) l.add_bool(with_suffix(":VOLT", ch, ":LIM:STAT"), k.limits_on);
    }
    l.add(with_suffix(":OUTP", ch, ":POL"), kPolarityReplies[k.polarity]);
    if (!(m.lacks & kLackOutStateCompl)) l.add_bool(with_suffix(":OUTP", ch, ":COMP"), k.complement_on);
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
  if (front_ends_.front()->vxi && !lacks_any(kLackVxiTrigSource))
    l.add(":VXI:SOUR", kVxiSourceReplies[s_.vxi_source]);
  if (front_ends_.front()->vxi && !lacks_any(kLackVxiTrigEnable))
    l.add(":VXI:LINE", kVxiLineReplies[s_.vxi_line]);
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
