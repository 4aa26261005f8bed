// What pgx reads before anything is typed: literals, member paths and script lines, including the mistakes
// a user makes, each answered by an InputError that says where.
#include "apps/pgx/syntax.h"

#include <gtest/gtest.h>

namespace pgx::cli {
namespace {

using K = Literal::Kind;

TEST(Literals, EachKindIsRecognisedWithItsValue) {
  struct Case {
    const char* text;
    K kind;
    std::int64_t integer;
    double real;
    const char* content;
  } cases[] = {
      {"42", K::kInteger, 42, 0, ""},
      {"-7", K::kInteger, -7, 0, ""},
      {"+3", K::kInteger, 3, 0, ""},
      {"0x8004046C", K::kInteger, 0x8004046C, 0, ""},
      {"0XfF", K::kInteger, 255, 0, ""},
      {"2.5e-9", K::kReal, 0, 2.5e-9, ""},
      {"1e6", K::kReal, 0, 1e6, ""},
      {"1E+3", K::kReal, 0, 1000, ""},
      {".5", K::kReal, 0, 0.5, ""},
      {"-.25", K::kReal, 0, -0.25, ""},
      {"99999999999999999999", K::kReal, 0, 1e20, ""},
      {"True", K::kBoolean, 0, 0, ""},
      {"false", K::kBoolean, 0, 0, ""},
      {"\"GPIB0::10::INSTR\"", K::kText, 0, 0, "GPIB0::10::INSTR"},
      {"\"a \\\"b\\\" \\\\ \\n\"", K::kText, 0, 0, "a \"b\" \\ \n"},
      {"\"\"", K::kText, 0, 0, ""},
      {"PgxArmSourceExternal", K::kName, 0, 0, "PgxArmSourceExternal"},
      {"  _x1  ", K::kName, 0, 0, "_x1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Literal literal = ParseLiteral(c.text);
    EXPECT_EQ(literal.kind, c.kind);
    if (c.kind == K::kInteger) {
      EXPECT_EQ(literal.integer, c.integer);
    } else if (c.kind == K::kReal) {
      EXPECT_DOUBLE_EQ(literal.real, c.real);
    } else if (c.kind == K::kText || c.kind == K::kName) {
      EXPECT_EQ(literal.text, c.content);
    }
  }
  EXPECT_TRUE(ParseLiteral("TRUE").boolean);
  EXPECT_FALSE(ParseLiteral("False").boolean);
  EXPECT_TRUE(ParseLiteral("0x10").hex);
  EXPECT_FALSE(ParseLiteral("16").hex);
  EXPECT_EQ(ParseLiteral("[1, 2,255]").bytes, (std::vector<std::uint8_t>{1, 2, 255}));
  EXPECT_EQ(ParseLiteral("[ 0x7F ]").bytes, (std::vector<std::uint8_t>{127}));
  EXPECT_TRUE(ParseLiteral("[]").bytes.empty());
}

TEST(Literals, MistakesAreRefusedWithTheirColumn) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "at column 1"},
      {"\"open", "no closing quote"},
      {"\"bad \\q\"", "unknown escape"},
      {"[256]", "0 to 255"},
      {"[-1]", "expected a byte"},
      {"[1, 2", "expected ',' or ']'"},
      {"[1.5]", "0 to 255"},
      {"0x", "expected hex digits"},
      {"0xFFFFFFFFFFFFFFFFFF", "too large"},
      {"12abc", "at column 3"},
      {"1.2.3", "expected the end of the value"},
      {"@", "expected a value"},
      {"True False", "at column 6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseLiteral(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(Paths, SegmentsCarryTheirArgumentsPositionalMissingAndNamed) {
  const Path path = ParsePath("Channels.Item(2).Voltage.High");
  ASSERT_EQ(path.segments.size(), 4u);
  EXPECT_EQ(path.segments[1].name, "Item");
  ASSERT_EQ(path.segments[1].arguments.size(), 1u);
  EXPECT_EQ(path.segments[1].arguments[0].value.integer, 2);
  EXPECT_FALSE(path.segments[0].parenthesised);
  EXPECT_EQ(path.Prefix(1), "Channels.Item(2)");

  const Path open = ParsePath("Open( , True, AutoDetectErrors:=False )");
  ASSERT_EQ(open.segments[0].arguments.size(), 3u);
  EXPECT_EQ(open.segments[0].arguments[0].value.kind, K::kMissing);
  EXPECT_TRUE(open.segments[0].arguments[1].value.boolean);
  EXPECT_EQ(open.segments[0].arguments[2].name, "AutoDetectErrors");
  EXPECT_EQ(open.segments[0].arguments[2].value.kind, K::kBoolean);

  // A name as a value is not taken for a named argument.
  const Path source = ParsePath("Item(PgxArmSourceExternal, Index := \"x\")");
  EXPECT_EQ(source.segments[0].arguments[0].name, "");
  EXPECT_EQ(source.segments[0].arguments[0].value.text, "PgxArmSourceExternal");
  EXPECT_EQ(source.segments[0].arguments[1].name, "Index");
  EXPECT_EQ(source.segments[0].arguments[1].value.text, "x");

  const Path refresh = ParsePath(" Channels . Refresh ( ) ");
  ASSERT_EQ(refresh.segments.size(), 2u);
  EXPECT_TRUE(refresh.segments[1].parenthesised);
  EXPECT_TRUE(refresh.segments[1].arguments.empty());
}

TEST(Paths, MalformedPathsAreRefused) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "expected a name"},
      {".Frequency", "expected a name"},
      {"Frequency.", "expected a name, found the end"},
      {"Item(1", "expected ',' or ')'"},
      {"Item(1))", "expected '.', '(' or the end"},
      {"Item(x:=)", "expected a value"},
      {"1Frequency", "expected a name"},
      {"Frequency Frequency", "at column 11"},
      {"Channels..Count", "expected a name"},
      {"Err.Text(\"x)", "no closing quote"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParsePath(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(Statements, EachLineKind) {
  using S = Statement::Kind;
  struct Case {
    const char* line;
    S kind;
    const char* path;
    const char* value;
  } cases[] = {
      {"", S::kNone, "", ""},
      {"   ", S::kNone, "", ""},
      {"# set Frequency 1", S::kNone, "", ""},
      {"  # indented comment", S::kNone, "", ""},
      {"get Frequency", S::kGet, "Frequency", ""},
      {"GET  Channels.Item(1).Number ", S::kGet, "Channels.Item(1).Number", ""},
      {"call Channels.Refresh", S::kCall, "Channels.Refresh", ""},
      {"set Frequency 2e6", S::kSet, "Frequency", "2e6"},
      {"set Frequency = 2e6", S::kSet, "Frequency", "2e6"},
      {"set Frequency=2e6", S::kSet, "Frequency", "2e6"},
      {"set PulseMode(5) PgxPulseModeBurst", S::kSet, "PulseMode(5)", "PgxPulseModeBurst"},
      {"set Caption hello  world ", S::kSet, "Caption", "hello  world"},
      {"set Caption \"a # b\"", S::kSet, "Caption", "\"a # b\""},
      {"errors", S::kErrors, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Statement statement = ParseStatement(c.line);
    EXPECT_EQ(statement.kind, c.kind);
    EXPECT_EQ(statement.path.source, c.path);
    EXPECT_EQ(statement.value, c.value);
  }
  EXPECT_EQ(ParseStatement("Frequency", /*bare_path_is_get=*/true).kind, S::kGet);
}

TEST(Statements, MistakesNameTheLinesProblem) {
  struct Case {
    const char* line;
    const char* message;
  } cases[] = {
      {"Frequency", "unknown statement \"Frequency\""},
      {"sett Frequency 1", "unknown statement \"sett\""},
      {"get", "get needs a member path"},
      {"call   ", "call needs a member path"},
      {"set", "set needs a member path and a value"},
      {"set Frequency", "needs a value after the path"},
      {"set Frequency   ", "needs a value after the path"},
      {"set Item(1)x", "expected a blank between the path and the value"},
      {"errors now", "errors takes nothing after it"},
      {"get Item(", "at column 10 of \"get Item(\""},
      {"get Frequency extra", "at column 15"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    try {
      ParseStatement(c.line);
      ADD_FAILURE() << "accepted";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace pgx::cli
