// What pgx reads: literals (numbers, booleans, texts, names, byte arrays), member paths with their
// arguments (Channels.Item(2).Voltage.High), and script statements (get PATH, set PATH VALUE, call PATH,
// errors). Parsing knows nothing of types; a literal is typed later by the parameter it is given to.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pgx::cli {

// Bad input, with what is wrong in words a user understands.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Literal {
  enum class Kind {
    kMissing,  // an empty argument: Open(, True)
    kInteger,  // 42, -7, 0x8004046C
    kReal,     // 2.5e-9, 1e6, .5
    kBoolean,  // True, False
    kText,     // "GPIB0::10::INSTR"
    kName,     // PgxArmSourceExternal
    kBytes,    // [1, 2, 255]
  };
  Kind kind = Kind::kMissing;
  std::string source;  // as written
  std::int64_t integer = 0;
  bool hex = false;  // written as 0x...: a bit pattern, which may fill a signed type's sign bit
  double real = 0;
  bool boolean = false;
  std::string text;  // kText: the text without quotes and escapes; kName: the name
  std::vector<std::uint8_t> bytes;
};

struct Argument {
  std::string name;  // Name:=value gives the parameter by name; empty for a positional argument
  Literal value;
};

struct Segment {
  std::string name;
  std::vector<Argument> arguments;
  bool parenthesised = false;  // Refresh() as against Refresh
  std::string source;          // the segment as written, for messages
};

struct Path {
  std::vector<Segment> segments;
  std::string source;

  // The path up to and including segment `index`, as written.
  std::string Prefix(std::size_t index) const;
};

// Each throws InputError that names the column of the mistake.
Literal ParseLiteral(std::string_view text);
Path ParsePath(std::string_view text);

struct Statement {
  enum class Kind { kNone, kGet, kSet, kCall, kErrors };
  Kind kind = Kind::kNone;  // kNone: a blank line or a comment
  Path path;
  std::string value;  // set: the value as written (typed later by the property)
};

// One script line: "get PATH", "set PATH VALUE", "call PATH", "errors", blank or "# comment". A line that
// starts with a path is a get when `bare_path_is_get` (the shell), a mistake otherwise.
Statement ParseStatement(std::string_view line, bool bare_path_is_get = false);

// The statement keywords, for help and completion.
const std::vector<std::string>& StatementKeywords();

}  // namespace pgx::cli
