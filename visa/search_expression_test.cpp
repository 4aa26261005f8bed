#include "visa/search_expression.h"

#include <gtest/gtest.h>

namespace pgx::visa {
namespace {

struct Match {
  const char* expression;
  const char* name;
  bool matches;
};

TEST(VisaSearchExpression, MatchesWholeNamesCaseInsensitively) {
  const Match cases[] = {
      {"?*INSTR", "GPIB0::10::INSTR", true},
      {"?*INSTR", "TCPIP0::h::5025::SOCKET", false},
      {"?*instr", "VXI0::8::INSTR", true},
      {"?*", "anything", true},
      {"?*INSTR", "INSTR", true},  // "?*" is any character, zero or more times
      {"GPIB?*INSTR", "GPIB0::10::INSTR", true},
      {"GPIB?*INSTR", "GPIB-VXI0::8::INSTR", true},
      {"GPIB?*INSTR", "VXI0::8::INSTR", false},
      {"(GPIB|VXI)?*INSTR", "VXI0::8::INSTR", true},
      {"(GPIB|VXI)?*INSTR", "GPIB0::10::INSTR", true},
      {"(GPIB|VXI)?*INSTR", "ASRL1::INSTR", false},
      {"GPIB0::1[0-2]::INSTR", "GPIB0::11::INSTR", true},
      {"GPIB0::1[0-2]::INSTR", "GPIB0::13::INSTR", false},
      {"GPIB0::1[^0-2]::INSTR", "GPIB0::13::INSTR", true},
      {"GPIB0::1[^0-2]::INSTR", "GPIB0::10::INSTR", false},
      {"GPIB0::[0-9]+::INSTR", "GPIB0::22::INSTR", true},
      {"GPIB0::[0-9]+::INSTR", "GPIB0::::INSTR", false},
      {"GPIB0::[0-9]*::INSTR", "GPIB0::::INSTR", true},
      {"VXI0::8::INSTR", "VXI0::8::INSTR", true},
      {"VXI0::8::INSTR", "VXI0::8::INSTRX", false},  // whole name only
      {"VXI0::8", "VXI0::8::INSTR", false},
      {"GPIB0::1?::INSTR", "GPIB0::1::INSTR", false},
      {"a|b|c", "c", true},
      {"(ab)+", "ababab", true},
      {"(ab)+", "ababa", false},
      {"\\?*", "?", true},  // escaped: a literal question mark, repeated
      {"\\?*", "x", false},
      {"((a*)*)*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac", false},  // no exponential backtracking
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.expression) + " ~ " + c.name);
    auto expression = SearchExpression::compile(c.expression);
    ASSERT_TRUE(expression.has_value());
    EXPECT_EQ(expression->matches(c.name), c.matches);
  }
}

TEST(VisaSearchExpression, MalformedExpressionsAreRefused) {
  const char* cases[] = {"",   "*",    "+GPIB", "(GPIB", "GPIB)",  "GPIB|", "|GPIB",
                         "()", "[abc", "[]",    "[z-a]", "GPIB\\", "a||b",  "?*INSTR{VI_ATTR_SLOT==2}"};
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(SearchExpression::compile(text).has_value());
  }
}

TEST(VisaSearchExpression, DeepNestingIsRefusedRatherThanOverflowingTheStack) {
  std::string deep = std::string(500, '(') + "a" + std::string(500, ')');
  EXPECT_FALSE(SearchExpression::compile(deep).has_value());
  std::string fine = std::string(20, '(') + "a" + std::string(20, ')');
  EXPECT_TRUE(SearchExpression::compile(fine).has_value());
}

}  // namespace
}  // namespace pgx::visa
