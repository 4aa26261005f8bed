#include "driver/scpi_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace pgx::driver {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equals_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view strip_terminator(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

void append_int(std::string& out, long long value) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

namespace {

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::uint64_t kMaxExactMantissa = std::uint64_t{1} << 53;

// m * 10^e for an integer m below 2^53 and |e| <= 22: a single correctly rounded operation on exact
// operands, so it is the double that a correct parser gives for the text "<m>e<e>".
double scaled(std::uint64_t m, int e) {
  return e >= 0 ? static_cast<double>(m) * kExactPowersOfTen[e]
                : static_cast<double>(m) / kExactPowersOfTen[-e];
}

// Writes the decimal m * 10^e like the shortest general form: plain digits for moderate exponents
// ("2.5", "0.001", "1000000"), else one digit before the point and an exponent ("2e-08", "1.5e+20").
void append_decimal(std::string& out, std::uint64_t m, int e) {
  char digits[24];
  const int count = static_cast<int>(std::to_chars(digits, digits + sizeof digits, m).ptr - digits);
  const int first = e + count - 1;  // decimal exponent of the first digit
  if (first >= -5 && first < 16) {
    if (e >= 0) {
      out.append(digits, static_cast<std::size_t>(count));
      out.append(static_cast<std::size_t>(e), '0');
    } else if (first >= 0) {
      out.append(digits, static_cast<std::size_t>(first + 1));
      out += '.';
      out.append(digits + first + 1, static_cast<std::size_t>(count - first - 1));
    } else {
      out += "0.";
      out.append(static_cast<std::size_t>(-first - 1), '0');
      out.append(digits, static_cast<std::size_t>(count));
    }
    return;
  }
  out += digits[0];
  if (count > 1) {
    out += '.';
    out.append(digits + 1, static_cast<std::size_t>(count - 1));
  }
  out += first < 0 ? "e-" : "e+";
  const int magnitude = first < 0 ? -first : first;
  if (magnitude < 10) out += '0';
  append_int(out, magnitude);
}

// The fewest significant digits that read back exactly, for the values instruments use (up to 15
// digits, exponents the exact powers of ten cover). False when the value needs the general method.
bool append_real_fast(std::string& out, double value) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-300) || magnitude > 1e300) return false;
  // The decimal exponent of the first digit, from the binary exponent (log10(2) ~ 78913 / 2^18); one too
  // low at worst, which costs one more round below, never a longer text.
  const int binary_exponent =
      static_cast<int>((std::bit_cast<std::uint64_t>(magnitude) >> 52) & 0x7FF) - 1022;
  const int first = ((binary_exponent - 1) * 78913) >> 18;
  for (int precision = 1; precision <= 15; ++precision) {
    const int e = first - precision + 1;
    if (e < -22 || e > 22) return false;
    const double m_real = e >= 0 ? magnitude / kExactPowersOfTen[e] : magnitude * kExactPowersOfTen[-e];
    if (!(m_real >= 0.5) || m_real >= static_cast<double>(kMaxExactMantissa)) continue;
    std::uint64_t m = static_cast<std::uint64_t>(m_real + 0.5);
    if (scaled(m, e) != magnitude) continue;
    int exponent = e;
    while (m % 10 == 0) m /= 10, ++exponent;
    if (value < 0) out += '-';
    append_decimal(out, m, exponent);
    return true;
  }
  return false;
}

}  // namespace

void append_real(std::string& out, double value) {
  if (value == 0) {
    out += std::signbit(value) ? "-0" : "0";
    return;
  }
  if (append_real_fast(out, value)) return;
  char digits[32];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

void append_block(std::string& out, const void* data, std::size_t count) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, count);
  out += '#';
  out += static_cast<char>('0' + (result.ptr - digits));
  out.append(digits, result.ptr);
  if (count > 0) out.append(static_cast<const char*>(data), count);
}

std::optional<long long> parse_integer(std::string_view text) {
  text = trim(text);
  if (text.empty()) return std::nullopt;
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 19) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (!is_digit(c)) return std::nullopt;
  }
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

std::optional<double> parse_real(std::string_view text) {
  if (!text.empty() && (is_blank(text.front()) || is_blank(text.back()))) text = trim(text);
  // One pass checks the grammar (from_chars alone would accept "inf", "nan" and hexadecimal forms) and
  // gathers up to 15 significant digits: with an exponent that an exact power of ten covers, one correctly
  // rounded operation gives the value, which covers what instruments answer. Anything else goes to the
  // general conversion.
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t mantissa = i;
  std::size_t digits = 0;
  std::uint64_t m = 0;
  int significant = 0;
  int e = 0;
  auto take = [&](char c) {
    if (m == 0 && c == '0') return;
    if (++significant <= 15) {
      m = m * 10 + static_cast<std::uint64_t>(c - '0');
    }
  };
  for (; i < text.size() && is_digit(text[i]); ++i, ++digits) {
    take(text[i]);
    if (significant > 15) ++e;
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && is_digit(text[i]); ++i, ++digits) {
      take(text[i]);
      if (significant <= 15) --e;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative_exponent = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative_exponent = text[i++] == '-';
    std::size_t exponent_digits = 0;
    int exponent = 0;
    for (; i < text.size() && is_digit(text[i]); ++i, ++exponent_digits) {
      if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (exponent_digits == 0) return std::nullopt;
    e += negative_exponent ? -exponent : exponent;
  }
  if (i != text.size()) return std::nullopt;
  if (m == 0) return negative ? -0.0 : 0.0;
  if (significant <= 15 && e >= -22 && e <= 22) {
    const double value = scaled(m, e);
    return negative ? -value : value;
  }
  double value = 0;
  const char* first = text.data() + mantissa;
  const char* last = text.data() + text.size();
  auto result = std::from_chars(first, last, value, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != last || !std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

std::optional<bool> parse_bool(std::string_view text) {
  text = trim(text);
  if (text == "1" || equals_nocase(text, "ON")) return true;
  if (text == "0" || equals_nocase(text, "OFF")) return false;
  return std::nullopt;
}

std::optional<std::size_t> block_extent(std::string_view text) {
  if (text.size() < 2 || text[0] != '#' || !is_digit(text[1]) || text[1] == '0') return std::nullopt;
  const std::size_t digit_count = static_cast<std::size_t>(text[1] - '0');
  if (text.size() < 2 + digit_count) return std::nullopt;
  std::size_t count = 0;
  for (std::size_t i = 0; i < digit_count; ++i) {
    const char c = text[2 + i];
    if (!is_digit(c)) return std::nullopt;
    count = count * 10 + static_cast<std::size_t>(c - '0');
  }
  return 2 + digit_count + count;
}

bool is_one_message(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') return false;
    if (text[i] != '#') continue;
    // The bytes of a definite-length block are data, line feeds included; a block announced longer than
    // the text takes the rest of it.
    const auto extent = block_extent(text.substr(i));
    if (extent) i += std::min(*extent, text.size() - i) - 1;
  }
  return true;
}

std::optional<std::string_view> parse_block(std::string_view text) {
  if (text.size() >= 2 && text[0] == '#' && text[1] == '0') return text.substr(2);
  auto extent = block_extent(text);
  if (!extent || *extent != text.size()) return std::nullopt;
  const std::size_t header = 2 + static_cast<std::size_t>(text[1] - '0');
  return text.substr(header);
}

std::optional<ErrorEntry> parse_error_entry(std::string_view text) {
  text = trim(text);
  const std::size_t comma = text.find(',');
  auto code = parse_integer(text.substr(0, comma));
  if (!code || *code < std::numeric_limits<int>::min() || *code > std::numeric_limits<int>::max()) {
    return std::nullopt;
  }
  ErrorEntry entry;
  entry.code = static_cast<int>(*code);
  if (comma == std::string_view::npos) return entry;
  std::string_view message = trim(text.substr(comma + 1));
  if (message.size() >= 2 && message.front() == '"' && message.back() == '"') {
    message = message.substr(1, message.size() - 2);
    entry.text.reserve(message.size());
    for (std::size_t i = 0; i < message.size(); ++i) {
      entry.text += message[i];
      if (message[i] == '"' && i + 1 < message.size() && message[i + 1] == '"') ++i;
    }
  } else {
    entry.text.assign(message);
  }
  return entry;
}

std::optional<StatusSuffix> split_status_suffix(std::string_view text) {
  StatusSuffix result;
  const std::size_t semicolon = text.rfind(';');
  std::string_view status = text;
  if (semicolon != std::string_view::npos) {
    result.answer = text.substr(0, semicolon);
    result.has_answer = true;
    status = text.substr(semicolon + 1);
  }
  auto value = parse_integer(status);
  if (!value || *value < 0 || *value > 255) return std::nullopt;
  result.status_byte = static_cast<int>(*value);
  return result;
}

std::optional<Identity> parse_identity(std::string_view text) {
  std::string_view fields[4];
  for (int i = 0; i < 4; ++i) {
    const std::size_t comma = i < 3 ? text.find(',') : std::string_view::npos;
    if (i < 3 && comma == std::string_view::npos) return std::nullopt;
    fields[i] = trim(text.substr(0, comma));
    if (i < 3) text.remove_prefix(comma + 1);
  }
  if (fields[3].find(',') != std::string_view::npos) return std::nullopt;
  return Identity{std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                  std::string(fields[3])};
}

void copy_text(char* buffer, std::size_t size, std::string_view text) {
  if (buffer == nullptr || size < 1) return;
  const std::size_t count = text.size() < size - 1 ? text.size() : size - 1;
  if (count > 0) std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
}

}  // namespace pgx::driver
