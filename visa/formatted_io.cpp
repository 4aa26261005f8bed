#include "visa/formatted_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace pgx::visa {
namespace {

// One conversion of a format string.
struct Conversion {
  std::string flags;   // - + space # 0
  int width = -1;      // -2: "*"
  int precision = -1;  // -2: "*"
  bool array = false;  // ",": comma-separated elements
  enum class Count { kNone, kNumber, kStar, kHash } count = Count::kNone;
  int count_value = 0;
  bool little_endian = false;  // "!ol"
  std::string_view size;       // "", "hh", "h", "l", "ll", "L", "z", "Z"
  bool suppress = false;       // scanning: "*", convert but do not store
  std::string set;             // scanning: the inside of "[...]"
  char conversion = 0;
};

bool parse_number(const char*& p, int& out) {
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  long value = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    value = value * 10 + (*p++ - '0');
    if (value > 1 << 24) return false;  // no count or width is that large
  }
  out = static_cast<int>(value);
  return true;
}

// Parses the conversion after '%' at `p`; `p` ends after it. False for a malformed one.
bool parse_conversion(const char*& p, Conversion& conv, bool scanning) {
  if (scanning && *p == '*') {
    conv.suppress = true;
    ++p;
  }
  while (!scanning && std::strchr("-+ #0", *p) && *p) conv.flags += *p++;
  if (*p == '*') {
    conv.width = -2;
    ++p;
  } else if (*p == '#' && scanning) {  // a count of the width, for %#s and %#t: a pointer to it
    conv.count = Conversion::Count::kHash;
    ++p;
  } else {
    parse_number(p, conv.width);
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      conv.precision = -2;
      ++p;
    } else if (!parse_number(p, conv.precision)) {
      conv.precision = 0;
    }
  }
  if (*p == ',') {
    conv.array = true;
    ++p;
    if (*p == '*') {
      conv.count = Conversion::Count::kStar;
      ++p;
    } else if (*p == '#') {
      conv.count = Conversion::Count::kHash;
      ++p;
    } else if (parse_number(p, conv.count_value)) {
      conv.count = Conversion::Count::kNumber;
    } else {
      return false;
    }
  }
  if (p[0] == '!' && p[1] == 'o' && (p[2] == 'l' || p[2] == 'b')) {
    conv.little_endian = p[2] == 'l';
    p += 3;
  }
  for (const char* size : {"hh", "ll", "h", "l", "L", "z", "Z"}) {
    std::size_t n = std::strlen(size);
    if (std::strncmp(p, size, n) == 0) {
      conv.size = std::string_view(size, n);
      p += n;
      break;
    }
  }
  conv.conversion = *p;
  if (!conv.conversion) return false;
  ++p;
  if (scanning && conv.conversion == '[') {
    const char* start = p;
    if (*p == '^') ++p;
    if (*p == ']') ++p;
    while (*p && *p != ']') ++p;
    if (!*p) return false;
    conv.set.assign(start, p);
    ++p;
  }
  // For a binary block the width is its count.
  if ((conv.conversion == 'b' || conv.conversion == 'y') && conv.count == Conversion::Count::kNone) {
    if (conv.width == -2) {
      conv.count = Conversion::Count::kStar;
    } else if (conv.width >= 0) {
      conv.count = Conversion::Count::kNumber;
      conv.count_value = conv.width;
    } else if (!conv.flags.empty() && conv.flags.find('#') != std::string::npos) {
      conv.count = Conversion::Count::kHash;
    }
  }
  return true;
}

bool integer_conversion(char c) {
  return std::strchr("diouxX", c) != nullptr;
}
bool float_conversion(char c) {
  return std::strchr("fFeEgGaA", c) != nullptr;
}

// Appends printf's text for one value.
template <typename T>
void append_printf(std::string& out, const std::string& format, T value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, format.c_str(), value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.append(small, static_cast<std::size_t>(n));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), format.c_str(), value);
  out.append(big.data(), static_cast<std::size_t>(n));
}

// The C format of one element: flags, width and precision resolved.
std::string c_format(const Conversion& conv, int width, int precision, std::string_view size) {
  std::string s(1, '%');
  s.append(conv.flags);
  if (width >= 0) s.append(std::to_string(width));
  if (precision >= 0) s.append(1, '.').append(std::to_string(precision));
  s.append(size);
  s.push_back(conv.conversion);
  return s;
}

// Element width in bytes of a block or array by its size modifier.
std::size_t element_bytes(const Conversion& conv, bool block) {
  std::string_view m = conv.size;
  if (block && float_conversion(conv.conversion)) return 0;
  if (m == "hh") return 1;
  if (m == "h") return 2;
  if (m == "ll" || m == "Z") return 8;
  if (m == "l" || m == "z") return 4;
  if (m == "L") return 0;
  return block ? 1 : 4;
}

void append_block_element(std::string& out, const ViByte* element, std::size_t bytes, bool little_endian) {
  // Elements are in the host's order (little endian here); the block carries them as asked.
  for (std::size_t i = 0; i < bytes; ++i)
    out += static_cast<char>(element[little_endian ? i : bytes - 1 - i]);
}

}  // namespace

ViStatus format_text(const char* format, va_list* args, std::string& out) {
  if (!format) return VI_ERROR_INV_FMT;
  for (const char* p = format; *p;) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    ++p;
    if (*p == '%') {
      out += '%';
      ++p;
      continue;
    }
    Conversion conv;
    if (!parse_conversion(p, conv, false)) return VI_ERROR_INV_FMT;
    int width = conv.width == -2 ? va_arg(*args, int) : conv.width;
    int precision = conv.precision == -2 ? va_arg(*args, int) : conv.precision;
    const char c = conv.conversion;

    if (c == 'b' || c == 'y') {
      int count = conv.count == Conversion::Count::kNumber ? conv.count_value
                  : conv.count == Conversion::Count::kNone ? -1
                                                           : va_arg(*args, int);
      if (count < 0) return VI_ERROR_INV_FMT;
      std::size_t bytes = conv.size == "z" ? 4 : conv.size == "Z" ? 8 : element_bytes(conv, true);
      if (bytes == 0) return VI_ERROR_NSUP_FMT;
      const auto* data = static_cast<const ViByte*>(va_arg(*args, const void*));
      std::string block;
      for (int i = 0; i < count; ++i)
        append_block_element(block, data + i * bytes, bytes, conv.little_endian);
      if (c == 'b') {
        std::string length = std::to_string(block.size());
        out.push_back('#');
        out.append(std::to_string(length.size())).append(length);
      }
      out += block;
      continue;
    }
    if (conv.array) {
      if (!integer_conversion(c) && !float_conversion(c)) return VI_ERROR_NSUP_FMT;
      int count = conv.count == Conversion::Count::kNumber ? conv.count_value : va_arg(*args, int);
      if (count < 0) return VI_ERROR_INV_FMT;
      const void* data = va_arg(*args, const void*);
      for (int i = 0; i < count; ++i) {
        if (i > 0) out += ',';
        if (integer_conversion(c)) {
          long long value;
          switch (element_bytes(conv, false)) {
            case 1:
              value = static_cast<const signed char*>(data)[i];
              break;
            case 2:
              value = static_cast<const short*>(data)[i];
              break;
            case 8:
              value = static_cast<const long long*>(data)[i];
              break;
            default:
              value = static_cast<const std::int32_t*>(data)[i];
              break;
          }
          append_printf(out, c_format(conv, width, precision, "ll"), value);
        } else if (conv.size == "L") {
          append_printf(out, c_format(conv, width, precision, "L"), static_cast<const long double*>(data)[i]);
        } else {
          double value =
              conv.size == "l" ? static_cast<const double*>(data)[i] : static_cast<const float*>(data)[i];
          append_printf(out, c_format(conv, width, precision, ""), value);
        }
      }
      continue;
    }
    if (integer_conversion(c)) {
      const bool is_signed = c == 'd' || c == 'i';
      if (conv.size == "ll") {
        if (is_signed) {
          append_printf(out, c_format(conv, width, precision, "ll"), va_arg(*args, long long));
        } else {
          append_printf(out, c_format(conv, width, precision, "ll"), va_arg(*args, unsigned long long));
        }
      } else if (conv.size == "l") {
        if (is_signed) {
          append_printf(out, c_format(conv, width, precision, "l"), va_arg(*args, long));
        } else {
          append_printf(out, c_format(conv, width, precision, "l"), va_arg(*args, unsigned long));
        }
      } else if (conv.size.empty() || conv.size == "h" || conv.size == "hh") {
        if (is_signed) {
          append_printf(out, c_format(conv, width, precision, conv.size), va_arg(*args, int));
        } else {
          append_printf(out, c_format(conv, width, precision, conv.size), va_arg(*args, unsigned));
        }
      } else {
        return VI_ERROR_INV_FMT;
      }
    } else if (float_conversion(c)) {
      if (conv.size == "L") {
        append_printf(out, c_format(conv, width, precision, "L"), va_arg(*args, long double));
      } else if (conv.size.empty() || conv.size == "l") {
        append_printf(out, c_format(conv, width, precision, ""), va_arg(*args, double));
      } else {
        return VI_ERROR_INV_FMT;
      }
    } else if (c == 'c') {
      append_printf(out, c_format(conv, width, -1, ""), va_arg(*args, int));
    } else if (c == 's') {
      const char* text = va_arg(*args, const char*);
      append_printf(out, c_format(conv, width, precision, ""), text ? text : "");
    } else {
      return VI_ERROR_NSUP_FMT;
    }
  }
  return VI_SUCCESS;
}

namespace {

class Scanner {
 public:
  Scanner(ScanSource& in, ViByte termchar) : in_(in), termchar_(termchar) {}

  int next() {
    int c = in_.next();
    if (c >= 0) ++consumed_;
    return c;
  }
  void back() {
    in_.back();
    --consumed_;
  }
  void skip_blanks() {
    for (int c; (c = next()) >= 0;) {
      if (!std::isspace(c)) {
        back();
        return;
      }
    }
  }
  // Characters for a number: those `accept` takes, at most `width`.
  template <typename Accept>
  std::string token(int width, Accept&& accept) {
    std::string text;
    for (int c; (width < 0 || static_cast<int>(text.size()) < width) && (c = next()) >= 0;) {
      if (!accept(text, static_cast<char>(c))) {
        back();
        break;
      }
      text += static_cast<char>(c);
    }
    return text;
  }
  bool integer(int width, int base, long long& out, unsigned long long& uout) {
    skip_blanks();
    std::string text = token(width, [&](const std::string& so_far, char c) {
      if ((c == '+' || c == '-') && so_far.empty()) return true;
      if (std::isdigit(static_cast<unsigned char>(c))) return base != 8 || c < '8';
      if ((base == 16 || base == 0) && (c == 'x' || c == 'X'))
        return so_far == "0" || so_far == "+0" || so_far == "-0";
      return (base == 16 || (base == 0 && so_far.find_first_of("xX") != std::string::npos)) &&
             std::isxdigit(static_cast<unsigned char>(c));
    });
    if (text.empty() || text == "+" || text == "-") return false;
    errno = 0;
    char* end = nullptr;
    if (text[0] == '-') {
      out = std::strtoll(text.c_str(), &end, base);
      uout = static_cast<unsigned long long>(out);
    } else {
      uout = std::strtoull(text.c_str(), &end, base);
      out = static_cast<long long>(uout);
    }
    return end && *end == '\0';
  }
  bool real(int width, long double& out) {
    skip_blanks();
    std::string text = token(width, [](const std::string& so_far, char c) {
      if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') return true;
      if (c == '+' || c == '-') return so_far.empty() || so_far.back() == 'e' || so_far.back() == 'E';
      if (c == 'e' || c == 'E') return !so_far.empty() && so_far.find_first_of("eE") == std::string::npos;
      return std::isalpha(static_cast<unsigned char>(c)) &&  // inf, nan
             (so_far.empty() || std::isalpha(static_cast<unsigned char>(so_far.back())));
    });
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtold(text.c_str(), &end);
    return end && *end == '\0' && end != text.c_str();
  }
  std::size_t consumed() const { return consumed_; }
  ScanSource& source() { return in_; }
  ViByte termchar() const { return termchar_; }

 private:
  ScanSource& in_;
  ViByte termchar_;
  std::size_t consumed_ = 0;
};

template <typename T>
void store(void* to, std::size_t index, T value) {
  static_cast<T*>(to)[index] = value;
}

void store_integer(void* to, std::size_t index, std::string_view size, long long value, bool array) {
  if (size == "hh") {
    store<signed char>(to, index, static_cast<signed char>(value));
  } else if (size == "h") {
    store<short>(to, index, static_cast<short>(value));
  } else if (size == "ll") {
    store<long long>(to, index, value);
  } else if (size == "l" && !array) {
    store<long>(to, index, static_cast<long>(value));
  } else {
    store<std::int32_t>(to, index, static_cast<std::int32_t>(value));
  }
}

void store_real(void* to, std::size_t index, std::string_view size, long double value) {
  if (size == "L") {
    store<long double>(to, index, value);
  } else if (size == "l") {
    store<double>(to, index, static_cast<double>(value));
  } else {
    store<float>(to, index, static_cast<float>(value));
  }
}

// A failure of the source, or the data not fitting the format.
ViStatus mismatch(Scanner& in) {
  ViStatus status = in.source().status();
  return status < VI_SUCCESS ? status : VI_ERROR_INV_FMT;
}

}  // namespace

ViStatus scan_text(const char* format, va_list* args, ScanSource& source, ViByte termchar) {
  if (!format) return VI_ERROR_INV_FMT;
  Scanner in(source, termchar);
  for (const char* p = format; *p;) {
    if (std::isspace(static_cast<unsigned char>(*p))) {
      in.skip_blanks();
      ++p;
      continue;
    }
    if (*p != '%' || p[1] == '%') {  // an ordinary character matches itself
      int c = in.next();
      if (c != static_cast<unsigned char>(*p)) return mismatch(in);
      p += *p == '%' ? 2 : 1;
      continue;
    }
    ++p;
    Conversion conv;
    if (!parse_conversion(p, conv, true)) return VI_ERROR_INV_FMT;
    const char c = conv.conversion;
    int* count_in_out = nullptr;
    int count = -1;
    if (conv.count == Conversion::Count::kHash) {
      count_in_out = conv.suppress ? nullptr : va_arg(*args, int*);
      count = count_in_out ? *count_in_out : -1;
    } else if (conv.count == Conversion::Count::kStar) {
      count = va_arg(*args, int);
    } else if (conv.count == Conversion::Count::kNumber) {
      count = conv.count_value;
    }
    void* to = conv.suppress || c == '%' ? nullptr : va_arg(*args, void*);

    if (conv.array || c == 'b' || c == 'y') {
      if (count < 0) return VI_ERROR_INV_FMT;
      std::size_t stored = 0;
      if (conv.array) {
        if (!integer_conversion(c) && !float_conversion(c)) return VI_ERROR_NSUP_FMT;
        for (; stored < static_cast<std::size_t>(count); ++stored) {
          if (stored > 0) {
            in.skip_blanks();
            int comma = in.next();
            if (comma != ',') {
              if (comma >= 0) in.back();
              break;
            }
          }
          long long value = 0;
          unsigned long long unsigned_value = 0;
          long double real = 0;
          if (integer_conversion(c)) {
            int base = c == 'o' ? 8 : (c == 'x' || c == 'X') ? 16 : c == 'i' ? 0 : 10;
            if (!in.integer(-1, base, value, unsigned_value)) return mismatch(in);
            if (to) store_integer(to, stored, conv.size, value, true);
          } else {
            if (!in.real(-1, real)) return mismatch(in);
            if (to) store_real(to, stored, conv.size, real);
          }
        }
      } else {
        std::size_t bytes = conv.size == "z" ? 4 : conv.size == "Z" ? 8 : element_bytes(conv, true);
        if (bytes == 0) return VI_ERROR_NSUP_FMT;
        std::size_t length = static_cast<std::size_t>(count) * bytes;  // what %y reads
        bool indefinite = false;
        if (c == 'b') {
          // "#<digits><length><data>", or "#0<data>" up to END.
          in.skip_blanks();
          if (in.next() != '#') return mismatch(in);
          int digits = in.next();
          if (digits < '0' || digits > '9') return mismatch(in);
          indefinite = digits == '0';
          length = 0;
          for (int i = 0; i < digits - '0'; ++i) {
            int d = in.next();
            if (d < '0' || d > '9') return mismatch(in);
            length = length * 10 + static_cast<std::size_t>(d - '0');
          }
        }
        std::vector<ViByte> element(bytes);
        std::size_t taken = 0;
        while (indefinite || taken < length) {
          int byte = in.next();
          if (byte < 0) {
            if (!indefinite) return mismatch(in);
            break;
          }
          element[taken % bytes] = static_cast<ViByte>(byte);
          ++taken;
          if (taken % bytes == 0) {
            if (to && stored < static_cast<std::size_t>(count)) {
              auto* slot = static_cast<ViByte*>(to) + stored * bytes;
              for (std::size_t i = 0; i < bytes; ++i)
                slot[i] = element[conv.little_endian ? i : bytes - 1 - i];
            }
            ++stored;  // elements beyond the count are read and dropped
          }
          if (indefinite && in.source().ended()) break;
        }
        stored = std::min(stored, static_cast<std::size_t>(count));
      }
      if (count_in_out) *count_in_out = static_cast<int>(stored);
      continue;
    }

    const int width = conv.width >= 0 ? conv.width : -1;
    if (integer_conversion(c)) {
      int base = c == 'o' ? 8 : (c == 'x' || c == 'X') ? 16 : c == 'i' ? 0 : 10;
      long long value = 0;
      unsigned long long unsigned_value = 0;
      if (!in.integer(width, base, value, unsigned_value)) return mismatch(in);
      if (to) store_integer(to, 0, conv.size, value, false);
    } else if (float_conversion(c)) {
      long double value = 0;
      if (!in.real(width, value)) return mismatch(in);
      if (to) store_real(to, 0, conv.size, value);
    } else if (c == 'c') {
      for (int i = 0; i < (width < 0 ? 1 : width); ++i) {
        int ch = in.next();
        if (ch < 0) return mismatch(in);
        if (to) static_cast<char*>(to)[i] = static_cast<char>(ch);
      }
    } else if (c == 's' || c == '[' || c == 't' || c == 'T') {
      // Text, stored with its NUL: at most `count` bytes with it when "#" gave the size of the buffer.
      if (c == 's') in.skip_blanks();
      std::string text;
      auto in_set = [&](char ch) {
        bool negated = !conv.set.empty() && conv.set[0] == '^';
        std::string_view set = std::string_view(conv.set).substr(negated ? 1 : 0);
        bool found = false;
        for (std::size_t i = 0; i < set.size(); ++i) {
          if (i + 2 < set.size() && set[i + 1] == '-' && i > 0) {
            found = found || (ch >= set[i] && ch <= set[i + 2]);
            i += 2;
          } else {
            found = found || ch == set[i];
          }
        }
        return found != negated;
      };
      for (int ch; (width < 0 || static_cast<int>(text.size()) < width) && (ch = in.next()) >= 0;) {
        if (c == 's' && std::isspace(ch)) {
          in.back();
          break;
        }
        if (c == '[' && !in_set(static_cast<char>(ch))) {
          in.back();
          break;
        }
        text += static_cast<char>(ch);
        if (c == 't' && in.source().ended()) break;
        if (c == 'T' && (static_cast<ViByte>(ch) == in.termchar() || in.source().ended())) break;
      }
      if (text.empty() && c != 't' && c != 'T') return mismatch(in);
      if (in.source().status() < VI_SUCCESS && text.empty()) return in.source().status();
      if (to) {
        std::size_t room =
            count_in_out ? static_cast<std::size_t>(std::max(*count_in_out, 0)) : text.size() + 1;
        if (room == 0) return VI_ERROR_USER_BUF;
        std::size_t n = std::min(text.size(), room - 1);
        std::memcpy(to, text.data(), n);
        static_cast<char*>(to)[n] = '\0';
        if (count_in_out) *count_in_out = static_cast<int>(n);
      }
    } else if (c == 'n') {
      if (to) *static_cast<int*>(to) = static_cast<int>(in.consumed());
    } else {
      return VI_ERROR_NSUP_FMT;
    }
  }
  return VI_SUCCESS;
}

}  // namespace pgx::visa
