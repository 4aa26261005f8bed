// Fuzz target: the search expressions of viFindRsrc, compiled and matched against resource names.
//
// Input: the expression, a NUL, then resource names separated by line feeds.
//
// Beyond the sanitizers (and libFuzzer's time-out, which catches matching whose work grows faster than the
// expression's length times the name's): matching ignores the case of the name, and the expression that
// escapes every character of a name matches that name.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "visa/search_expression.h"

namespace {

using pgx::visa::SearchExpression;

[[noreturn]] void fail(const char* what, std::string_view expression, std::string_view name) {
  std::fprintf(stderr, "search_expression_fuzzer: %s\nexpression: \"%.*s\"\nname: \"%.*s\"\n", what,
               static_cast<int>(expression.size()), expression.data(), static_cast<int>(name.size()),
               name.data());
  std::abort();
}

std::string with_case(std::string_view text, int (*change)(int)) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(change(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view expression = input.substr(0, nul);
  std::string_view names = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  const auto compiled = SearchExpression::compile(expression);
  while (!names.empty() || nul != std::string_view::npos) {
    const std::size_t end = names.find('\n');
    const std::string_view name = names.substr(0, end);
    if (compiled) {
      const bool matches = compiled->matches(name);
      if (compiled->matches(with_case(name, std::toupper)) != matches ||
          compiled->matches(with_case(name, std::tolower)) != matches)
        fail("the case of the name decides the match", expression, name);
    }
    // Resource names are C strings of at most 256 characters (VI_FIND_BUFLEN): a NUL is never part of one,
    // and their escaped spelling stays within the 1024 characters an expression may have.
    if (!name.empty() && name.size() <= 256 && name.find('\0') == std::string_view::npos) {
      std::string literal;
      for (char c : name) {
        literal += '\\';
        literal += c;
      }
      const auto exact = SearchExpression::compile(literal);
      if (!exact) fail("an expression of escaped characters does not compile", literal, name);
      if (!exact->matches(name)) fail("an expression of escaped characters misses its name", literal, name);
    }
    if (end == std::string_view::npos) break;
    names.remove_prefix(end + 1);
  }
  return 0;
}
