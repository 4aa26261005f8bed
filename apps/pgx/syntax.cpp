#include "apps/pgx/syntax.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

namespace pgx::cli {
namespace {

bool IsIdentifierStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsIdentifierChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Reads a text from left to right; every mistake names its column (1-based).
class Reader {
 public:
  explicit Reader(std::string_view text, std::size_t start = 0) : text_(text), pos_(start) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek(std::size_t ahead = 0) const { return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0'; }
  std::size_t Position() const { return pos_; }
  std::string_view Rest() const { return text_.substr(pos_); }
  std::string_view Between(std::size_t from, std::size_t to) const { return text_.substr(from, to - from); }
  void Restore(std::size_t pos) { pos_ = pos; }

  void SkipSpaces() {
    while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  // Takes `c` after any blanks; leaves the blanks when `c` does not follow.
  bool Take(char c) {
    const std::size_t start = pos_;
    SkipSpaces();
    if (Peek() == c) {
      ++pos_;
      return true;
    }
    pos_ = start;
    return false;
  }
  bool TakeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  [[noreturn]] void Fail(const std::string& what) const { FailAt(pos_, what); }
  [[noreturn]] void FailAt(std::size_t pos, const std::string& what) const {
    std::string found = pos < text_.size() ? "'" + std::string(1, text_[pos]) + "'" : "the end";
    throw InputError("at column " + std::to_string(pos + 1) + " of \"" + std::string(text_) + "\": " + what +
                     ", found " + found);
  }

  std::string Identifier() {
    SkipSpaces();
    if (!IsIdentifierStart(Peek())) Fail("expected a name");
    std::size_t start = pos_;
    while (IsIdentifierChar(Peek())) ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  Literal ReadLiteral(bool allow_missing) {
    SkipSpaces();
    const std::size_t start = pos_;
    Literal literal;
    const char c = Peek();
    if (c == '"') {
      literal = Quoted();
    } else if (c == '[') {
      literal = Bytes();
    } else if (IsDigit(c) || ((c == '-' || c == '+' || c == '.') && (IsDigit(Peek(1)) || Peek(1) == '.'))) {
      literal = Number();
    } else if (IsIdentifierStart(c)) {
      literal.text = Identifier();
      if (SameWord(literal.text, "True") || SameWord(literal.text, "False")) {
        literal.kind = Literal::Kind::kBoolean;
        literal.boolean = SameWord(literal.text, "True");
      } else {
        literal.kind = Literal::Kind::kName;
      }
    } else if (allow_missing) {
      return literal;  // kMissing
    } else {
      Fail("expected a value (a number, True or False, a \"text\", a name or [bytes])");
    }
    literal.source = std::string(text_.substr(start, pos_ - start));
    return literal;
  }

 private:
  Literal Quoted() {
    Literal literal;
    literal.kind = Literal::Kind::kText;
    const std::size_t start = pos_++;
    while (true) {
      if (AtEnd()) FailAt(start, "this text has no closing quote");
      char c = text_[pos_++];
      if (c == '"') break;
      if (c != '\\') {
        literal.text += c;
        continue;
      }
      if (AtEnd()) FailAt(start, "this text has no closing quote");
      switch (char e = text_[pos_++]) {
        case 'n':
          literal.text += '\n';
          break;
        case 't':
          literal.text += '\t';
          break;
        case 'r':
          literal.text += '\r';
          break;
        case '"':
        case '\\':
          literal.text += e;
          break;
        default:
          FailAt(pos_ - 1, "unknown escape (use \\\", \\\\, \\n, \\t or \\r)");
      }
    }
    return literal;
  }

  Literal Number() {
    Literal literal;
    const std::size_t start = pos_;
    bool negative = false;
    if (Peek() == '+' || Peek() == '-') negative = text_[pos_++] == '-';
    if (Peek() == '0' && (Peek(1) == 'x' || Peek(1) == 'X')) {
      pos_ += 2;
      const std::size_t digits = pos_;
      while (std::isxdigit(static_cast<unsigned char>(Peek()))) ++pos_;
      std::uint64_t value = 0;
      auto [end, ec] = std::from_chars(text_.data() + digits, text_.data() + pos_, value, 16);
      if (pos_ == digits) FailAt(start, "expected hex digits");
      if (ec != std::errc() || end != text_.data() + pos_ ||
          value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        FailAt(start, "this number is too large");
      literal.kind = Literal::Kind::kInteger;
      literal.hex = true;
      literal.integer = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
      return literal;
    }
    bool real = false;
    while (IsDigit(Peek())) ++pos_;
    if (Peek() == '.') {
      real = true;
      ++pos_;
      while (IsDigit(Peek())) ++pos_;
    }
    if ((Peek() == 'e' || Peek() == 'E') &&
        (IsDigit(Peek(1)) || ((Peek(1) == '+' || Peek(1) == '-') && IsDigit(Peek(2))))) {
      real = true;
      pos_ += 2;
      while (IsDigit(Peek())) ++pos_;
    }
    if (IsIdentifierChar(Peek())) Fail("expected the end of the number");
    std::string_view number = text_.substr(start, pos_ - start);
    if (number.front() == '+') number.remove_prefix(1);
    const char* first = number.data();
    const char* last = number.data() + number.size();
    if (!real) {
      auto [end, ec] = std::from_chars(first, last, literal.integer);
      if (ec == std::errc() && end == last) {
        literal.kind = Literal::Kind::kInteger;
        return literal;
      }
    }
    // A leading dot (".5") is a number for people, not for from_chars.
    std::string copy;
    const std::size_t dot = number.find('.');
    if (dot == 0 || (dot == 1 && number[0] == '-')) {
      copy.append(number.substr(0, dot)).push_back('0');
      copy.append(number.substr(dot));
    } else {
      copy.assign(number);
    }
    auto [end, ec] = std::from_chars(copy.data(), copy.data() + copy.size(), literal.real);
    if (ec != std::errc() || end != copy.data() + copy.size()) FailAt(start, "this number is out of range");
    literal.kind = Literal::Kind::kReal;
    return literal;
  }

  Literal Bytes() {
    Literal literal;
    literal.kind = Literal::Kind::kBytes;
    ++pos_;  // '['
    if (Take(']')) return literal;
    do {
      SkipSpaces();
      const std::size_t at = pos_;
      if (!IsDigit(Peek())) Fail("expected a byte (0 to 255)");
      Literal byte = Number();
      if (byte.kind != Literal::Kind::kInteger || byte.integer < 0 || byte.integer > 255)
        FailAt(at, "a byte is a whole number from 0 to 255");
      literal.bytes.push_back(static_cast<std::uint8_t>(byte.integer));
    } while (Take(','));
    if (!Take(']')) Fail("expected ',' or ']'");
    return literal;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// Reads segments up to the first character that cannot continue the path.
Path ReadPath(Reader& reader) {
  Path path;
  reader.SkipSpaces();
  const std::size_t start = reader.Position();
  do {
    reader.SkipSpaces();
    const std::size_t segment_start = reader.Position();
    Segment segment;
    segment.name = reader.Identifier();
    if (reader.Take('(')) {
      segment.parenthesised = true;
      if (!reader.Take(')')) {
        do {
          Argument argument;
          reader.SkipSpaces();
          const std::size_t at = reader.Position();
          if (IsIdentifierStart(reader.Peek())) {  // Name:=value, or a value that is a name
            std::string name = reader.Identifier();
            reader.SkipSpaces();
            if (reader.TakeWord(":=")) {
              argument.name = std::move(name);
            } else {
              reader.Restore(at);
            }
          }
          argument.value = reader.ReadLiteral(/*allow_missing=*/argument.name.empty());
          segment.arguments.push_back(std::move(argument));
        } while (reader.Take(','));
        if (!reader.Take(')')) reader.Fail("expected ',' or ')'");
      }
    }
    segment.source = std::string(reader.Between(segment_start, reader.Position()));
    path.segments.push_back(std::move(segment));
  } while (reader.Take('.'));
  path.source = std::string(reader.Between(start, reader.Position()));
  return path;
}

std::string Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string Path::Prefix(std::size_t index) const {
  std::string out;
  for (std::size_t i = 0; i <= index && i < segments.size(); ++i) {
    if (i) out += '.';
    out += segments[i].source;
  }
  return out;
}

Literal ParseLiteral(std::string_view text) {
  Reader reader(text);
  Literal literal = reader.ReadLiteral(/*allow_missing=*/false);
  reader.SkipSpaces();
  if (!reader.AtEnd()) reader.Fail("expected the end of the value");
  return literal;
}

Path ParsePath(std::string_view text) {
  Reader reader(text);
  Path path = ReadPath(reader);
  reader.SkipSpaces();
  if (!reader.AtEnd()) reader.Fail("expected '.', '(' or the end of the path");
  return path;
}

const std::vector<std::string>& StatementKeywords() {
  static const std::vector<std::string> keywords = {"get", "set", "call", "errors"};
  return keywords;
}

Statement ParseStatement(std::string_view line, bool bare_path_is_get) {
  Statement statement;
  const std::string text = Trim(line);
  if (text.empty() || text[0] == '#') return statement;
  const std::size_t word_end = std::min(text.find_first_of(" \t"), text.size());
  const std::string_view word(text.data(), word_end);
  const std::string_view rest(text.data() + word_end, text.size() - word_end);
  if (SameWord(word, "errors")) {
    if (!Trim(rest).empty()) throw InputError("errors takes nothing after it");
    statement.kind = Statement::Kind::kErrors;
    return statement;
  }
  if (SameWord(word, "get") || SameWord(word, "call")) {
    statement.kind = SameWord(word, "get") ? Statement::Kind::kGet : Statement::Kind::kCall;
    if (Trim(rest).empty()) throw InputError(std::string(word) + " needs a member path");
    Reader reader(text, word_end);
    statement.path = ReadPath(reader);
    reader.SkipSpaces();
    if (!reader.AtEnd()) reader.Fail("expected '.', '(' or the end of the path");
    return statement;
  }
  if (SameWord(word, "set")) {
    statement.kind = Statement::Kind::kSet;
    Reader reader(text, word_end);
    reader.SkipSpaces();
    if (reader.AtEnd()) throw InputError("set needs a member path and a value");
    statement.path = ReadPath(reader);
    const std::size_t path_end = reader.Position();
    std::string value = Trim(reader.Rest());
    if (!value.empty() && value[0] == '=') value = Trim(std::string_view(value).substr(1));  // set X = 1
    if (value.empty()) throw InputError("set " + statement.path.source + " needs a value after the path");
    if (text[path_end] != ' ' && text[path_end] != '\t' && text[path_end] != '=')
      reader.Fail("expected a blank between the path and the value");
    statement.value = std::move(value);
    return statement;
  }
  if (bare_path_is_get && IsIdentifierStart(text[0])) {
    statement.kind = Statement::Kind::kGet;
    statement.path = ParsePath(text);
    return statement;
  }
  throw InputError("unknown statement \"" + std::string(word) +
                   "\": a line is get PATH, set PATH VALUE, call PATH, errors, blank or a # comment");
}

}  // namespace pgx::cli
