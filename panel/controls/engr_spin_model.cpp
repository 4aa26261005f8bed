#include "panel/controls/engr_spin_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "automation/com_error.h"
#include "automation/errorinfo.h"
#include "automation/guid.h"

namespace pgx::panel {

namespace {

constexpr int kExponentLimit = 12;
constexpr int kMinSignificantDigits = 4;
constexpr int kMaxSignificantDigits = 10;

std::string_view Trim(std::string_view s) {
  const auto space = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A number in the invariant form ("1.5E-9", "+2", ".5"); nothing for anything else or out of range.
std::optional<double> ParseInvariant(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return std::nullopt;
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (ec != std::errc{} || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

double Pow10(int n) {
  const std::string s = "1e" + std::to_string(n);
  return ParseInvariant(s).value_or(n < 0 ? 0.0 : HUGE_VAL);
}

// A value with the noise of binary sums taken off (1.234 + 0.001 is 1.2349999999999999): the nearest
// double to its 15 significant digits.
double Clean(double v) {
  if (!std::isfinite(v) || v == 0) return v;
  char buf[40];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  if (ec != std::errc{}) return v;
  return ParseInvariant(std::string_view(buf, static_cast<size_t>(end - buf))).value_or(v);
}

}  // namespace

EngrSpinModel::EngrSpinModel() {
  ConvertValue2Engr();
}

// ---- Persisted properties ----

void EngrSpinModel::SetBaseUnit(std::string unit) {
  base_unit_ = std::move(unit);
  Changed("BaseUnit");
}

void EngrSpinModel::SetDefaultValue(double v) {
  default_value_ = v;
  Changed("DefaultValue");
}

void EngrSpinModel::SetLocked(bool locked) {
  locked_ = locked;
  Changed("Locked");
}

void EngrSpinModel::SetMax(double v) {
  max_ = v;
  Changed("Max");
}

void EngrSpinModel::SetMin(double v) {
  min_ = v;
  Changed("Min");
}

void EngrSpinModel::RaiseInvalid(const char16_t* description) {
  const HRESULT hr = pgx::auto_::RaiseError(kInvalidPropertyValue, GUID_NULL, u"EngrSpin", description);
  pgx::auto_::IssueError(hr);
}

void EngrSpinModel::SetMaxExponent(int v) {
  if (!user_mode_ && !reading_) {
    if (v % 3 != 0) RaiseInvalid(u"Exponent must be a multiple of 3");
    if (v > kExponentLimit) RaiseInvalid(u"Exponent too large [>12]");
  } else {
    v = std::min(v / 3 * 3, kExponentLimit);
  }
  max_exponent_ = v;
  Changed("MaxExponent");
  UpdateEngMode();
  ConvertValue2Engr();
}

void EngrSpinModel::SetMinExponent(int v) {
  if (!user_mode_ && !reading_) {
    if (v % 3 != 0) RaiseInvalid(u"Exponent must be a multiple of 3");
    if (v < -kExponentLimit) RaiseInvalid(u"Exponent too small [<-12]");
  } else {
    v = std::max(v / 3 * 3, -kExponentLimit);
  }
  min_exponent_ = v;
  Changed("MinExponent");
  UpdateEngMode();
  ConvertValue2Engr();
}

void EngrSpinModel::SetNumberFormat(std::string_view format) {
  number_format_ = NumberFormat(format);
  Changed("NumberFormat");
  ConvertValue2Engr();
}

void EngrSpinModel::SetSignificantDigits(int v) {
  if (v < kMinSignificantDigits || v > kMaxSignificantDigits) {
    if (!reading_) RaiseInvalid(u"Significant Digits must be between 4 and 10");
    v = std::clamp(v, kMinSignificantDigits, kMaxSignificantDigits);
  }
  significant_digits_ = v;
  Changed("SignificantDigits");
  ConvertValue2Engr();
}

void EngrSpinModel::SetValueArray(std::string_view text) {
  value_array_text_ = std::string(text);
  value_array_.clear();
  while (!text.empty()) {
    const size_t semi = text.find(';');
    const std::string_view item = Trim(text.substr(0, semi));
    if (const std::optional<double> v = ParseInvariant(item)) value_array_.push_back(*v);
    if (semi == std::string_view::npos) break;
    text.remove_prefix(semi + 1);
  }
  std::sort(value_array_.begin(), value_array_.end());
  value_array_.erase(std::unique(value_array_.begin(), value_array_.end()), value_array_.end());
  Changed("ValueArray");
  if (!reading_ && ArrayMode()) {
    value_ = NearestAllowed(value_);
    ConvertValue2Engr();
  }
}

// ---- Value ----

void EngrSpinModel::SetValue(double v) {
  ApplyValue(v, true);
}

void EngrSpinModel::ApplyValue(double v, bool from_user) {
  if (reading_) {
    value_ = v;
    return;
  }
  if (std::isnan(v)) return;  // not a value: the old one stays
  old_value_ = value_;
  double next;
  if (v < min_) {
    next = min_;
  } else if (v > max_) {
    next = max_;
  } else if (std::fabs(v) >= min_magnitude_ || v == 0) {
    next = v;
  } else if (v < old_value_) {
    // Moving down through the gap around zero: on to the next allowed value below.
    next = std::clamp(v > 0 ? 0.0 : -min_magnitude_, min_, max_);
  } else {
    next = std::clamp(v < 0 ? 0.0 : min_magnitude_, min_, max_);
  }
  if (ArrayMode()) next = NearestAllowed(next);
  value_ = next;
  ConvertValue2Engr();
  if (from_user && dirty_ && hooks_.after_update) hooks_.after_update();
}

double EngrSpinModel::NearestAllowed(double v) const {
  if (value_array_.empty()) return v;
  const auto it = std::lower_bound(value_array_.begin(), value_array_.end(), v);
  if (it == value_array_.begin()) return *it;
  if (it == value_array_.end()) return value_array_.back();
  const double above = *it;
  const double below = *(it - 1);
  return (above - v) <= (v - below) ? above : below;
}

void EngrSpinModel::SetMinMagnitude(double v) {
  min_magnitude_ = std::fabs(v);
}

bool EngrSpinModel::SetDataParameters(double min, double max, double default_value, double min_magnitude) {
  if (ArrayMode()) return false;
  SetMin(min);
  SetMax(max);
  SetDefaultValue(default_value);
  SetMinMagnitude(min_magnitude);
  ApplyValue(value_, false);
  return true;
}

double EngrSpinModel::AuxValue() const {
  if (!reciprocal_) return value_;
  return value_ == 0 ? 0.0 : 1.0 / value_;
}

void EngrSpinModel::SetAuxValue(double v) {
  if (!reciprocal_) {
    SetValue(v);
  } else {
    SetValue(v == 0 ? HUGE_VAL : 1.0 / v);
  }
}

// ---- Environment ----

void EngrSpinModel::SetUnitsVisible(bool visible) {
  units_visible_ = visible;
  UpdateEngMode();
  ConvertValue2Engr();
}

void EngrSpinModel::SetDecimalSep(std::string sep) {
  decimal_sep_ = sep.empty() ? std::string(".") : std::move(sep);
  ConvertValue2Engr();
}

void EngrSpinModel::UpdateEngMode() {
  if (reading_) return;
  const bool eng = units_visible_ && (min_exponent_ != 0 || max_exponent_ != 0);
  // A plain display has no prefix: typed numbers and spin steps are then read without one.
  if (!eng) exponent_ = 0;
  eng_mode_ = eng;
}

void EngrSpinModel::Changed(std::string_view property) {
  if (!reading_ && hooks_.property_changed) hooks_.property_changed(property);
}

void EngrSpinModel::EndReading() {
  reading_ = false;
  UpdateEngMode();
  ConvertValue2Engr();
}

// ---- Display ----

std::string_view EngrSpinModel::Prefix(int exponent) {
  switch (exponent) {
    case -12:
      return "p";
    case -9:
      return "n";
    case -6:
      return "u";
    case -3:
      return "m";
    case 0:
      return "";
    case 3:
      return "k";
    case 6:
      return "M";
    case 9:
      return "G";
    case 12:
      return "T";
    default:
      return "*";
  }
}

std::string EngrSpinModel::UnitsCaption() const {
  if (!eng_mode_) return base_unit_;
  return std::string(Prefix(exponent_)) + base_unit_;
}

void EngrSpinModel::ConvertValue2Engr() {
  if (reading_) return;
  if (!std::isfinite(value_)) {
    text_.clear();
    if (hooks_.conversion_failed) hooks_.conversion_failed(kErrOverflow, "Overflow");
    return;
  }
  if (!eng_mode_) {
    text_ = number_format_.Format(value_, decimal_sep_).value_or(std::string());
    return;
  }
  // Ten significant digits, rounded; then cut (not rounded) to SignificantDigits.
  static const NumberFormat kTenDigits("0.000000000E+00");
  const std::string s = *kTenDigits.Format(value_, ".");
  const size_t p = s.find('E');
  const int e = std::atoi(s.c_str() + p + 1);
  int d = e + 1;
  std::string m;
  for (size_t i = 0; i < p; ++i) {
    if (s[i] != '.') m += s[i];
  }
  if (value_ != 0) {
    exponent_ = 0;
    while (d < 1) {
      d += 3;
      exponent_ -= 3;
    }
    while (d > 3) {
      d -= 3;
      exponent_ += 3;
    }
  } else {
    d = 1;
  }
  const size_t k = static_cast<size_t>(d + (value_ < 0 ? 1 : 0));
  m.resize(m.size() - 10 + static_cast<size_t>(significant_digits_));
  text_ = m.substr(0, k) + decimal_sep_ + m.substr(k);
}

// ---- User input ----

bool EngrSpinModel::BeginEdit() {
  if (locked_) return false;
  dirty_ = true;
  return true;
}

std::optional<double> EngrSpinModel::ParseNumber(std::string_view text) const {
  const std::string_view s = Trim(text);
  std::string normal;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
  int digits = 0;
  while (i < s.size() && IsDigit(s[i])) {
    normal += s[i++];
    ++digits;
  }
  if (s.substr(i).starts_with(decimal_sep_)) {
    normal += '.';
    i += decimal_sep_.size();
    while (i < s.size() && IsDigit(s[i])) {
      normal += s[i++];
      ++digits;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    normal += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
    int exp_digits = 0;
    while (i < s.size() && IsDigit(s[i])) {
      normal += s[i++];
      ++exp_digits;
    }
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  return ParseInvariant(normal);
}

std::optional<int> EngrSpinModel::PrefixTextToExponent(std::string_view suffix) const {
  suffix = Trim(suffix);
  if (suffix == base_unit_) return 0;
  if (!base_unit_.empty() && suffix.ends_with(base_unit_)) suffix.remove_suffix(base_unit_.size());
  if (suffix.empty() || suffix == "*") return std::nullopt;  // "*" only marks an exponent out of range
  for (int exponent = min_exponent_; exponent <= max_exponent_; ++exponent) {
    const std::string_view prefix = eng_mode_ ? Prefix(exponent) : std::string_view();
    if (prefix == suffix) return exponent;
  }
  return std::nullopt;
}

std::optional<double> EngrSpinModel::TextToValue(std::string_view text) const {
  const std::string_view s = Trim(text);
  if (s.empty()) return default_value_;
  if (ParseNumber(s)) {
    if (s.find_first_of("Ee") != std::string_view::npos) return ParseNumber(s);
    return ParseNumber(std::string(s) + "E" + std::to_string(exponent_));
  }
  size_t last = s.size();
  while (last > 0 && !IsDigit(s[last - 1])) --last;
  if (last == 0 || last == s.size()) return std::nullopt;
  const std::optional<int> exponent = PrefixTextToExponent(s.substr(last));
  if (!exponent) return std::nullopt;
  return ParseNumber(std::string(s.substr(0, last)) + "E" + std::to_string(*exponent));
}

EngrSpinModel::CommitResult EngrSpinModel::CommitText(std::string_view text) {
  if (!dirty_ || busy_) return CommitResult::kNotRun;
  busy_ = true;
  const std::optional<double> v = TextToValue(text);
  if (v) {
    // The edit is over when AfterUpdate is raised: its handlers see the new display.
    dirty_ = false;
    ApplyValue(*v, false);
    if (hooks_.after_update) hooks_.after_update();
  }
  busy_ = false;
  return v ? CommitResult::kCommitted : CommitResult::kRejected;
}

bool EngrSpinModel::EnterText(std::string_view text) {
  const std::optional<double> v = TextToValue(text);
  if (!v) return false;
  dirty_ = false;
  ApplyValue(*v, false);
  return true;
}

int EngrSpinModel::DisplayedExponent() const {
  if (eng_mode_) return exponent_;
  // A plain display in a format with an exponent: the digits step in the scale of that exponent.
  const size_t e = text_.find_first_of("Ee");
  if (e == std::string::npos) return 0;
  return std::atoi(text_.c_str() + e + 1);
}

int EngrSpinModel::CaretDigit(std::string_view text, int cursor) const {
  size_t sep_start = text.find(decimal_sep_);
  size_t sep_end = sep_start + decimal_sep_.size();
  if (sep_start == std::string_view::npos) {
    // No separator (an integer format): the units digit is the last one before any exponent.
    sep_start = sep_end = std::min(text.size(), text.find_first_of("Ee"));
  }
  const int start = static_cast<int>(sep_start);
  const int end = static_cast<int>(sep_end);
  if (cursor <= start) return std::max(start - cursor - 1, 0);
  return -(std::max(cursor, end) - end) - 1;
}

int EngrSpinModel::CursorForDigit(std::string_view text, int caret_digit) const {
  size_t sep_start = text.find(decimal_sep_);
  size_t sep_end = sep_start + decimal_sep_.size();
  if (sep_start == std::string_view::npos)
    sep_start = sep_end = std::min(text.size(), text.find_first_of("Ee"));
  const int cursor = caret_digit >= 0 ? static_cast<int>(sep_start) - 1 - caret_digit
                                      : static_cast<int>(sep_end) - caret_digit - 1;
  return std::clamp(cursor, 0, static_cast<int>(text.size()));
}

std::optional<int> EngrSpinModel::Spin(int spin_value, int cursor) {
  if (spin_busy_ || dirty_) return std::nullopt;
  spin_busy_ = true;
  const bool up = spin_value >= 0;
  int result = cursor;
  if (ArrayMode()) {
    double next = value_;
    if (up) {
      const auto it = std::upper_bound(value_array_.begin(), value_array_.end(), value_);
      if (it != value_array_.end()) next = *it;
    } else {
      const auto it = std::lower_bound(value_array_.begin(), value_array_.end(), value_);
      if (it != value_array_.begin()) next = *(it - 1);
    }
    ApplyValue(next, false);
    result = std::min(cursor, static_cast<int>(text_.size()));
  } else {
    const int caret = CaretDigit(text_, cursor);
    const double step = std::max(Pow10(DisplayedExponent() + caret), min_magnitude_);
    ApplyValue(Clean(up ? value_ + step : value_ - step), false);
    result = CursorForDigit(text_, caret);
  }
  if (hooks_.after_update) hooks_.after_update();
  spin_busy_ = false;
  return result;
}

}  // namespace pgx::panel
