#include "panel/controls/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace pgx::panel {

DecimalDigits ShortestDigits(double value) {
  DecimalDigits d;
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  if (ec != std::errc{}) return d;
  const std::string_view s(buf, static_cast<size_t>(end - buf));
  size_t i = 0;
  if (s[i] == '-') {
    d.negative = true;
    ++i;
  }
  const size_t e = s.find('e');
  for (; i < e; ++i) {
    if (s[i] != '.') d.digits += s[i];
  }
  int exponent = std::atoi(std::string(s.substr(e + 1)).c_str());
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  if (d.digits.empty()) {
    d.point = 0;
    return d;
  }
  d.point = exponent + 1;
  return d;
}

void RoundDigits(DecimalDigits& d, int keep) {
  if (keep >= static_cast<int>(d.digits.size())) return;
  if (keep < 0) {
    d.digits.clear();
    return;
  }
  const bool up = d.digits[static_cast<size_t>(keep)] >= '5';
  d.digits.resize(static_cast<size_t>(keep));
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9') {
      d.digits[static_cast<size_t>(i)] = '0';
      --i;
    }
    if (i >= 0) {
      ++d.digits[static_cast<size_t>(i)];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.point;
    }
  }
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
}

NumberFormat::NumberFormat(std::string_view format) : text_(format) {
  general_ = format.empty();
  bool seen_placeholder = false;
  bool after_point = false;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    const bool exponent_start = (c == 'E' || c == 'e') && i + 1 < format.size() &&
                                (format[i + 1] == '+' || format[i + 1] == '-') && seen_placeholder &&
                                !has_exp_;
    if (exponent_start) {
      has_exp_ = true;
      exp_char_ = c;
      exp_plus_ = format[i + 1] == '+';
      i += 2;
      exp_digits_ = 0;
      while (i < format.size() && (format[i] == '0' || format[i] == '#')) {
        if (format[i] == '0') ++exp_digits_;
        ++i;
      }
      exp_digits_ = std::max(exp_digits_, 1);
      --i;
      continue;
    }
    if ((c == '0' || c == '#') && !has_exp_) {
      seen_placeholder = true;
      if (after_point) {
        ++frac_max_;
        if (c == '0') frac_min_ = frac_max_;
      } else if (c == '0') {
        ++int_zeros_;
      }
      continue;
    }
    if (c == '.' && !after_point && !has_exp_) {
      after_point = true;
      has_point_ = true;
      seen_placeholder = true;
      continue;
    }
    (seen_placeholder ? suffix_ : prefix_) += c;
  }
}

std::optional<std::string> NumberFormat::Format(double value, std::string_view decimal_sep) const {
  if (!std::isfinite(value)) return std::nullopt;
  DecimalDigits d = ShortestDigits(value);
  std::string out = prefix_;
  if (general_) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    std::string s(buf, end);
    if (const size_t p = s.find('.'); p != std::string::npos) s.replace(p, 1, decimal_sep);
    return s;
  }

  int exponent = 0;
  const int int_digits = has_exp_ ? std::max(int_zeros_, 1) : 0;
  if (has_exp_) {
    // Round to the significant digits the mantissa shows, then place the point after int_digits.
    if (!d.digits.empty()) {
      RoundDigits(d, int_digits + frac_max_);
      if (!d.digits.empty()) {
        exponent = d.point - int_digits;
        d.point = int_digits;
      }
    }
  } else {
    RoundDigits(d, d.point + frac_max_);
  }
  if (d.digits.empty()) {
    d.negative = false;
    exponent = 0;
  }

  // Integer part: the digits before the point, at least int_zeros_ of them.
  std::string integer;
  for (int i = 0; i < d.point; ++i) {
    integer += i < static_cast<int>(d.digits.size()) ? d.digits[static_cast<size_t>(i)] : '0';
  }
  if (static_cast<int>(integer.size()) < int_zeros_) {
    integer.insert(0, static_cast<size_t>(int_zeros_) - integer.size(), '0');
  }
  // Fraction: digit k after the point is digits[point + k].
  std::string fraction;
  for (int k = 0; k < frac_max_; ++k) {
    const int at = d.point + k;
    fraction += at >= 0 && at < static_cast<int>(d.digits.size()) ? d.digits[static_cast<size_t>(at)] : '0';
  }
  while (static_cast<int>(fraction.size()) > frac_min_ && fraction.back() == '0') fraction.pop_back();

  if (d.negative) out += '-';
  out += integer;
  if (has_point_) {
    out += decimal_sep;
    out += fraction;
  }
  if (has_exp_) {
    out += exp_char_;
    if (exponent < 0) {
      out += '-';
    } else if (exp_plus_) {
      out += '+';
    }
    std::string digits = std::to_string(std::abs(exponent));
    if (static_cast<int>(digits.size()) < exp_digits_) {
      digits.insert(0, static_cast<size_t>(exp_digits_) - digits.size(), '0');
    }
    out += digits;
  }
  out += suffix_;
  return out;
}

}  // namespace pgx::panel
