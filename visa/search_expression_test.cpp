#include "visa/search_expression.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

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

// The expression of the form "(?|(?|...?*...Z)*Z)*" nested `depth` times: every name matches it, and a
// matcher that tries the ways to split a name one by one takes time exponential in the depth.
std::string nested(int depth) {
  std::string expression;
  for (int i = 0; i < depth; ++i) expression += "(?|";
  expression += "?*";
  for (int i = 0; i < depth; ++i) expression += "Z)*";
  return expression;
}

TEST(VisaSearchExpression, DeeplyNestedRepetitionsMatchInBoundedWork) {
  const std::string names[] = {"GPIB0::10::INSTR", "TCPIP0::" + std::string(200, 'z') + "::5025::SOCKET", ""};
  for (int depth : {9, 12, 40}) {
    SCOPED_TRACE(depth);
    auto any = SearchExpression::compile(nested(depth));
    auto none = SearchExpression::compile(nested(depth) + "#");  // needs a '#' at the end: never there
    auto repeated = SearchExpression::compile("(" + nested(depth) + ")*(Z*)*+#");
    ASSERT_TRUE(any && none && repeated);
    for (const auto& name : names) {
      EXPECT_TRUE(any->matches(name)) << name;
      EXPECT_FALSE(none->matches(name)) << name;
      EXPECT_FALSE(repeated->matches(name)) << name;
      EXPECT_TRUE(repeated->matches(name + "#")) << name;
    }
  }
  auto stars = SearchExpression::compile("a" + std::string(500, '*') + "b");
  ASSERT_TRUE(stars);
  EXPECT_TRUE(stars->matches(std::string(300, 'a') + "b"));
  EXPECT_FALSE(stars->matches(std::string(300, 'a') + "c"));
}

// A random expression over the alphabet "ab:", as a tree that writes itself in the search syntax and has
// a plain reference matcher: the set of positions in the name that each part can reach from a set of
// starting positions (fine for short names, however the parts nest).
struct Expr {
  enum class Kind { kChars, kSequence, kAlternatives } kind = Kind::kChars;
  std::string text;     // kChars: as written ("?", "[a-b]", "[^:]", "a")
  std::string accepts;  // kChars: the characters of the alphabet it takes
  char quantifier = 0;  // '*', '+' or none
  std::vector<Expr> parts;

  std::string written(bool top = true) const {
    std::string out;
    if (kind == Kind::kChars) {
      out = text;
    } else {
      for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0 && kind == Kind::kAlternatives) out += '|';
        out += parts[i].written(false);
      }
      if (kind == Kind::kAlternatives && !top) out = "(" + out + ")";
    }
    return quantifier ? out + quantifier : out;
  }

  using Reach = std::vector<bool>;
  Reach reach(const Reach& from, const std::string& name) const {
    const std::size_t n = name.size();
    auto once = [&](const Reach& start) {
      Reach to(n + 1, false);
      if (kind == Kind::kChars) {
        for (std::size_t i = 0; i < n; ++i)
          if (start[i] && accepts.find(name[i]) != std::string::npos) to[i + 1] = true;
      } else if (kind == Kind::kSequence) {
        to = start;
        for (const auto& part : parts) to = part.reach(to, name);
      } else {
        for (const auto& part : parts) {
          Reach branch = part.reach(start, name);
          for (std::size_t i = 0; i <= n; ++i) to[i] = to[i] || branch[i];
        }
      }
      return to;
    };
    if (!quantifier) return once(from);
    Reach reached = quantifier == '*' ? from : Reach(n + 1, false);
    for (Reach frontier = once(from);;) {
      Reach fresh(n + 1, false);
      bool grew = false;
      for (std::size_t i = 0; i <= n; ++i)
        if (frontier[i] && !reached[i]) reached[i] = fresh[i] = grew = true;
      if (!grew) return reached;
      frontier = once(fresh);
    }
  }

  bool matches(const std::string& name) const {
    Reach start(name.size() + 1, false);
    start[0] = true;
    return reach(start, name)[name.size()];
  }
};

class RandomExpressions {
 public:
  explicit RandomExpressions(unsigned seed) : random_(seed) {}

  Expr alternatives(int depth = 0) {
    Expr e;
    e.kind = Expr::Kind::kAlternatives;
    for (int b = pick(depth < 3 ? 3 : 1); b >= 0; --b) {
      Expr sequence;
      sequence.kind = Expr::Kind::kSequence;
      for (int i = pick(3); i >= 0; --i) sequence.parts.push_back(item(depth));
      e.parts.push_back(std::move(sequence));
    }
    return e;
  }
  std::string name() {
    std::string text;
    for (int i = pick(9); i > 0; --i) text += "ab:"[pick(3)];
    return text;
  }

 private:
  Expr item(int depth) {
    Expr e;
    switch (pick(depth < 3 ? 6 : 5)) {
      case 0:
        e.text = "?", e.accepts = "ab:";
        break;
      case 1:
        e.text = "[a-b]", e.accepts = "ab";
        break;
      case 2:
        e.text = "[^:]", e.accepts = "ab";
        break;
      case 5:
        e = alternatives(depth + 1);
        break;
      default:
        e.text = e.accepts = std::string(1, "ab:"[pick(3)]);
    }
    if (int q = pick(4); q < 2) e.quantifier = "*+"[q];
    return e;
  }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  std::mt19937 random_;
};

TEST(VisaSearchExpression, AgreesWithAReferenceMatcherOnRandomExpressions) {
  RandomExpressions random(20261208);
  for (int i = 0; i < 500; ++i) {
    Expr reference = random.alternatives();
    std::string text = reference.written();
    auto expression = SearchExpression::compile(text);
    ASSERT_TRUE(expression) << text;
    for (int n = 0; n < 40; ++n) {
      std::string name = random.name();
      ASSERT_EQ(expression->matches(name), reference.matches(name)) << text << " ~ \"" << name << "\"";
    }
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
