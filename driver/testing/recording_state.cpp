// The recording driver's shared state, its texts and the logging and reply lookup of one call.

#include "driver/testing/recording_state.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace pgx::driver::testing::recording {

Function function_named(std::string_view name) {
  for (std::size_t i = 0; i < kFunctionCount; ++i) {
    if (name == kFunctionNames[i]) return static_cast<Function>(i);
  }
  throw std::invalid_argument("the recording driver has no function named \"" + std::string(name) + "\"");
}

void State::reset() {
  quiet = false;
  for (Script& script : functions) script = Script{};
  commands.clear();
  counts.fill(0);
  log.clear();
  log.shrink_to_fit();
  instrument_errors.clear();
  messages.clear();
}

State& shared_state() {
  // Never destroyed, so that calls made while static objects are destroyed still find it.
  static State* const the_state = new State;
  return *the_state;
}

// ---- Texts ----

ShortText format_real(double value) {
  ShortText out;
  char* const end = out.text + sizeof out.text;
  if (!std::isfinite(value) || value == 0) {
    out.size = static_cast<std::size_t>(std::to_chars(out.text, end, value).ptr - out.text);
    return out;
  }
  // The shortest round-trip digits, as d.ddde±XX.
  char scientific[32];
  const char* const scientific_end =
      std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific).ptr;
  const std::string_view text(scientific, static_cast<std::size_t>(scientific_end - scientific));
  const std::size_t e = text.find('e');
  int exponent = 0;
  const char* exponent_begin = text.data() + e + 1;
  if (*exponent_begin == '+') ++exponent_begin;
  std::from_chars(exponent_begin, scientific_end, exponent);
  if (exponent < -4 || exponent > 16) {
    std::memcpy(out.text, scientific, text.size());
    out.size = text.size();
    return out;
  }
  const bool negative = text[0] == '-';
  char digits[24];
  std::size_t count = 0;
  for (std::size_t i = negative ? 1 : 0; i < e; ++i) {
    if (text[i] != '.') digits[count++] = text[i];
  }
  char* p = out.text;
  if (negative) *p++ = '-';
  if (exponent < 0) {
    *p++ = '0';
    *p++ = '.';
    for (int i = -1; i > exponent; --i) *p++ = '0';
    std::memcpy(p, digits, count);
    p += count;
  } else {
    const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
    for (std::size_t i = 0; i < whole; ++i) *p++ = i < count ? digits[i] : '0';
    if (count > whole) {
      *p++ = '.';
      std::memcpy(p, digits + whole, count - whole);
      p += count - whole;
    }
  }
  out.size = static_cast<std::size_t>(p - out.text);
  return out;
}

ShortText format_status(ViStatus status) {
  ShortText out;
  const int n = std::snprintf(out.text, sizeof out.text, "0x%08X", static_cast<unsigned>(status));
  out.size = static_cast<std::size_t>(n);
  return out;
}

ShortText default_message(ViStatus status) {
  ShortText out;
  const int n = std::snprintf(out.text, sizeof out.text, "Status 0x%08X", static_cast<unsigned>(status));
  out.size = static_cast<std::size_t>(n);
  return out;
}

std::string quote(const char* text) {
  if (text == nullptr) return "NULL";
  std::string out = "\"";
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string hex_bytes(const unsigned char* data, std::size_t count) {
  constexpr std::size_t kShown = 32;
  std::string out = "[";
  for (std::size_t i = 0; i < count && i < kShown; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02X", data[i]);
    if (i > 0) out += ' ';
    out += byte;
  }
  if (count > kShown) out += " ...";
  out += ']';
  return out;
}

void copy_text(char* buffer, std::size_t size, std::string_view text) {
  if (buffer == nullptr || size < 1) return;
  const std::size_t n = std::min(text.size(), size - 1);
  if (n > 0) std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Drops a leading '+', which from_chars does not take; a sign after it leaves nothing to parse.
std::string_view without_plus(std::string_view text) {
  if (text.empty() || text.front() != '+') return text;
  text.remove_prefix(1);
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) return {};
  return text;
}

}  // namespace

std::optional<long long> parse_integer(std::string_view text) {
  text = without_plus(trim(text));
  if (text.empty()) return std::nullopt;
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> parse_real(std::string_view text) {
  text = without_plus(trim(text));
  if (text.empty()) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

ViStatus parameter_error(int position) {
  return static_cast<ViStatus>(static_cast<unsigned>(PGXGEN_ERROR_PARAMETER1) +
                               static_cast<unsigned>(std::clamp(position, 1, 8) - 1));
}

// ---- One call ----

Invocation::Invocation(Function function, const ViSession* vi)
    : state_(shared_state()), lock_(state_.mutex), function_(function) {
  ++state_.counts[static_cast<std::size_t>(function)];
  if (state_.quiet) return;
  record_ = &state_.log.emplace_back();
  record_->function = name_of(function);
  if (vi != nullptr) describe_unsigned(*vi);
}

void Invocation::add(std::string text) {
  record_->args.push_back(std::move(text));
}

void Invocation::describe_number(long long value) {
  if (record_ != nullptr) add(std::to_string(value));
}

void Invocation::describe_unsigned(unsigned long long value) {
  if (record_ != nullptr) add(std::to_string(value));
}

void Invocation::describe_real(double value) {
  if (record_ != nullptr) add(std::string(format_real(value).view()));
}

void Invocation::describe_text(const char* text) {
  if (record_ != nullptr) add(quote(text));
}

void Invocation::describe_status(ViStatus status) {
  if (record_ != nullptr) add(std::string(format_status(status).view()));
}

void Invocation::describe_bytes(const void* data, ViInt32 count) {
  if (record_ == nullptr) return;
  if (data == nullptr) {
    add("NULL");
    return;
  }
  const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
  const auto* bytes = static_cast<const unsigned char*>(data);
  add(hex_bytes(bytes, n));
  record_->bytes.assign(reinterpret_cast<const char*>(bytes), n);
}

const Reply& Invocation::reply(const char* command) {
  static const Reply kDefault;
  Script* by_command = nullptr;
  if (command != nullptr && !state_.commands.empty()) {
    const auto found = state_.commands.find(std::string_view(command));
    if (found != state_.commands.end()) by_command = &found->second;
  }
  Script& by_function = state_.functions[static_cast<std::size_t>(function_)];
  for (Script* script : {by_command, &by_function}) {
    if (script != nullptr && !script->once.empty()) {
      taken_.emplace(std::move(script->once.front()));
      script->once.pop_front();
      return *taken_;
    }
  }
  if (by_command != nullptr && by_command->standing) return *by_command->standing;
  if (by_function.standing) return *by_function.standing;
  return kDefault;
}

}  // namespace pgx::driver::testing::recording
