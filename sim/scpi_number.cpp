#include "sim/scpi_number.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

#include "sim/scpi_error.h"

namespace pgx::sim {
namespace {

constexpr char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool is_alpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr bool is_space(char c) {
  return (c >= 0 && c <= ' ' && c != '\n');
}

bool equal_upper(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

struct UnitName {
  Unit unit;
  std::string_view name;
  bool prefixes;
};
constexpr std::array<UnitName, 8> kUnits{{
    {Unit::kVolt, "V", true},
    {Unit::kAmpere, "A", true},
    {Unit::kSecond, "S", true},
    {Unit::kHertz, "HZ", true},
    {Unit::kOhm, "OHM", true},
    {Unit::kPercent, "PCT", false},
    {Unit::kDegree, "DEG", false},
    {Unit::kRadian, "RAD", true},
}};

struct Multiplier {
  std::string_view name;
  int exponent;
};
constexpr std::array<Multiplier, 12> kMultipliers{{
    {"EX", 18},
    {"PE", 15},
    {"T", 12},
    {"G", 9},
    {"MA", 6},
    {"K", 3},
    {"M", -3},
    {"U", -6},
    {"N", -9},
    {"P", -12},
    {"F", -15},
    {"A", -18},
}};

// Resolves a suffix ("100MV" -> "MV") against the accepted units; the multiplier becomes a power of ten.
int parse_suffix(std::string_view suffix, unsigned units, int& exponent, Unit& unit) {
  if (units == 0) return err::kSuffixNotAllowed;
  for (const UnitName& u : kUnits) {
    if (!(units & unit_bit(u.unit))) continue;
    if (suffix.size() < u.name.size()) continue;
    std::string_view tail = suffix.substr(suffix.size() - u.name.size());
    if (!equal_upper(tail, u.name)) continue;
    std::string_view prefix = suffix.substr(0, suffix.size() - u.name.size());
    if (prefix.empty()) {
      exponent = 0;
      unit = u.unit;
      return 0;
    }
    if (!u.prefixes) continue;
    // For frequencies and resistances a lone M means mega (MHZ, MOHM), as everywhere in the trade.
    if ((u.unit == Unit::kHertz || u.unit == Unit::kOhm) && equal_upper(prefix, "M")) {
      exponent = 6;
      unit = u.unit;
      return 0;
    }
    for (const Multiplier& m : kMultipliers) {
      if (equal_upper(prefix, m.name)) {
        exponent = m.exponent;
        unit = u.unit;
        return 0;
      }
    }
  }
  return err::kInvalidSuffix;
}

int parse_non_decimal(std::string_view t, Numeric& out) {
  // t starts with '#'
  if (t.size() < 3) return err::kNumericData;
  int base = 0;
  switch (upper(t[1])) {
    case 'H':
      base = 16;
      break;
    case 'Q':
      base = 8;
      break;
    case 'B':
      base = 2;
      break;
    default:
      return err::kNumericData;
  }
  unsigned long long v = 0;
  const char* first = t.data() + 2;
  const char* last = t.data() + t.size();
  auto [p, ec] = std::from_chars(first, last, v, base);
  if (ec == std::errc::result_out_of_range) return err::kExponentTooLarge;
  if (ec != std::errc() || p != last) return err::kInvalidCharacterInNumber;
  out.kind = Numeric::Kind::kValue;
  out.value = static_cast<double>(v);
  out.unit = Unit::kNone;
  return 0;
}

}  // namespace

bool matches_mnemonic(std::string_view token, std::string_view long_form) {
  if (equal_upper(token, long_form)) return true;
  // Short form: the upper-case letters and the digits of the long form.
  std::size_t n = 0;
  for (char c : long_form) {
    if ((c >= 'A' && c <= 'Z') || is_digit(c)) {
      if (n >= token.size() || upper(token[n]) != c) return false;
      ++n;
    }
  }
  return n == token.size();
}

int parse_numeric(std::string_view t, unsigned units, Numeric& out) {
  if (t.empty()) return err::kMissingParameter;
  char c0 = t[0];
  if (c0 == '#') return parse_non_decimal(t, out);
  if (c0 == '"' || c0 == '\'') return err::kDataType;
  if ((c0 >= 'A' && c0 <= 'Z') || (c0 >= 'a' && c0 <= 'z')) {
    out.value = 0;
    out.unit = Unit::kNone;
    if (matches_mnemonic(t, "MINimum")) {
      out.kind = Numeric::Kind::kMinimum;
    } else if (matches_mnemonic(t, "MAXimum")) {
      out.kind = Numeric::Kind::kMaximum;
    } else if (matches_mnemonic(t, "DEFault")) {
      out.kind = Numeric::Kind::kDefault;
    } else {
      return err::kDataType;
    }
    return 0;
  }
  // Mantissa [+-] digits [. digits], exponent E[+-]digits; then an optional suffix.
  std::size_t i = 0;
  bool negative = false;
  if (t[i] == '+' || t[i] == '-') {
    negative = t[i] == '-';
    ++i;
  }
  const std::size_t start = i;
  std::size_t digits = 0;
  while (i < t.size() && is_digit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && is_digit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return err::kNumericData;
  if (digits > 255) return err::kTooManyDigits;
  const std::size_t mantissa_end = i;
  long exponent = 0;
  // An E directly followed by a letter begins the suffix ("1EXS": exa seconds), not an exponent.
  const bool suffix_follows = i + 1 < t.size() && is_alpha(t[i + 1]);
  if (i < t.size() && upper(t[i]) == 'E' && !suffix_follows) {
    std::size_t j = i + 1;
    while (j < t.size() && is_space(t[j])) ++j;
    bool exp_negative = false;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) exp_negative = t[j++] == '-';
    std::size_t exp_digits = 0;
    while (j < t.size() && is_digit(t[j])) {
      if (exponent < 100000) exponent = exponent * 10 + (t[j] - '0');
      ++j, ++exp_digits;
    }
    if (exp_digits == 0) return err::kNumericData;
    if (exp_negative) exponent = -exponent;
    i = j;
  }
  while (i < t.size() && is_space(t[i])) ++i;
  std::string_view suffix = t.substr(i);
  int multiplier = 0;
  Unit unit = Unit::kNone;
  if (!suffix.empty()) {
    for (char c : suffix)
      if (!is_alpha(c)) return err::kInvalidCharacterInNumber;
    int e = parse_suffix(suffix, units, multiplier, unit);
    if (e != 0) return e;
  }
  // The multiplier goes into the exponent, so "10US" reads exactly as 10E-6.
  char buf[300];
  std::size_t n = mantissa_end - start;
  std::copy(t.data() + start, t.data() + mantissa_end, buf);
  buf[n++] = 'e';
  auto [ep, eec] = std::to_chars(buf + n, buf + sizeof buf, exponent + multiplier);
  (void)eec;
  n = static_cast<std::size_t>(ep - buf);
  double value = 0;
  auto [p, ec] = std::from_chars(buf, buf + n, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    if (exponent + multiplier > 0) return err::kExponentTooLarge;
    value = 0;  // underflow reads as zero
  } else if (ec != std::errc() || p != buf + n) {
    return err::kNumericData;
  }
  if (!std::isfinite(value)) return err::kExponentTooLarge;
  out.kind = Numeric::Kind::kValue;
  out.value = negative ? -value : value;
  out.unit = unit;
  return 0;
}

std::size_t format_real(double value, char* out) {
  if (value == 0) value = 0;  // no "-0"
  // 15 significant digits: every double reads back to the same text, and the last-bit noise of unit
  // conversions (0.015 A -> 0.75 V -> 0.015 A) does not show.
  auto [p, ec] = std::to_chars(out, out + 32, value, std::chars_format::general, 15);
  if (ec != std::errc()) {
    out[0] = '0';
    return 1;
  }
  for (char* q = out; q != p; ++q)
    if (*q == 'e') *q = 'E';
  return static_cast<std::size_t>(p - out);
}

std::size_t format_integer(long long value, char* out) {
  auto [p, ec] = std::to_chars(out, out + 32, value);
  return ec == std::errc() ? static_cast<std::size_t>(p - out) : 0;
}

}  // namespace pgx::sim
