#include "sim/scpi_number.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/scpi_error.h"

namespace pgx::sim {
namespace {

constexpr unsigned kAll = unit_bit(Unit::kVolt) | unit_bit(Unit::kAmpere) | unit_bit(Unit::kSecond) |
                          unit_bit(Unit::kHertz) | unit_bit(Unit::kOhm) | unit_bit(Unit::kPercent) |
                          unit_bit(Unit::kDegree) | unit_bit(Unit::kRadian);

TEST(ScpiNumberTest, ValuesUnitsAndMultipliers) {
  struct Case {
    const char* text;
    double value;
    Unit unit;
  };
  const Case cases[] = {
      {"2.5", 2.5, Unit::kNone},      {"+.5", 0.5, Unit::kNone},     {"-1E-3", -1e-3, Unit::kNone},
      {"1e+3", 1000, Unit::kNone},    {"2.5V", 2.5, Unit::kVolt},    {"2.5 v", 2.5, Unit::kVolt},
      {"100MV", 0.1, Unit::kVolt},    {"100mv", 0.1, Unit::kVolt},   {"5NS", 5e-9, Unit::kSecond},
      {"10US", 10e-6, Unit::kSecond}, {"10MHZ", 10e6, Unit::kHertz}, {"10MAHZ", 10e6, Unit::kHertz},
      {"10mhz", 10e6, Unit::kHertz},  {"1KOHM", 1000, Unit::kOhm},   {"1MOHM", 1e6, Unit::kOhm},
      {"20MA", 0.02, Unit::kAmpere},  {"1A", 1, Unit::kAmpere},      {"3MAV", 3e6, Unit::kVolt},
      {"50PCT", 50, Unit::kPercent},  {"90DEG", 90, Unit::kDegree},  {"1.5RAD", 1.5, Unit::kRadian},
      {"#HFF", 255, Unit::kNone},     {"#q17", 15, Unit::kNone},     {"#B101", 5, Unit::kNone},
      {"1E-400", 0, Unit::kNone},     {"2GHZ", 2e9, Unit::kHertz},   {"1.5E3 MS", 1.5, Unit::kSecond},
  };
  for (const Case& c : cases) {
    Numeric n;
    ASSERT_EQ(parse_numeric(c.text, kAll, n), 0) << c.text;
    EXPECT_EQ(n.kind, Numeric::Kind::kValue) << c.text;
    EXPECT_DOUBLE_EQ(n.value, c.value) << c.text;
    EXPECT_EQ(n.unit, c.unit) << c.text;
  }
}

TEST(ScpiNumberTest, MultipliersAreExactPowersOfTen) {
  // 10US must be the same double as 1E-05 (no rounding from a multiplication).
  Numeric n;
  ASSERT_EQ(parse_numeric("10US", kAll, n), 0);
  EXPECT_EQ(n.value, 1e-05);
  ASSERT_EQ(parse_numeric("3NS", kAll, n), 0);
  EXPECT_EQ(n.value, 3e-09);
}

// Every multiplier reads the same written against the number as after a blank; EX (exa) begins like an
// exponent and must still be a multiplier.
TEST(ScpiNumberTest, MultipliersWithAndWithoutABlank) {
  struct Case {
    const char* multiplier;
    int exponent;
  };
  const Case multipliers[] = {{"EX", 18}, {"PE", 15}, {"T", 12}, {"G", 9},   {"MA", 6},  {"K", 3},
                              {"M", -3},  {"U", -6},  {"N", -9}, {"P", -12}, {"F", -15}, {"A", -18}};
  for (const Case& m : multipliers) {
    for (const char* unit : {"S", "V", "A", "RAD"}) {
      for (const char* gap : {"", " "}) {
        const std::string text = std::string("1.5") + gap + m.multiplier + unit;
        Numeric n;
        ASSERT_EQ(parse_numeric(text, kAll, n), 0) << text;
        EXPECT_EQ(n.value, std::stod("1.5e" + std::to_string(m.exponent))) << text;
      }
    }
  }
  // Lower case, with an exponent before it, and a real exponent that is no multiplier.
  struct Written {
    const char* text;
    double value;
    Unit unit;
  };
  const Written written[] = {{"1exs", 1e18, Unit::kSecond},
                             {"2E3EXV", 2e21, Unit::kVolt},
                             {"1E3S", 1e3, Unit::kSecond},
                             {"1EXHZ", 1e18, Unit::kHertz},
                             {"1e-3EXOHM", 1e15, Unit::kOhm}};
  for (const Written& w : written) {
    Numeric n;
    ASSERT_EQ(parse_numeric(w.text, kAll, n), 0) << w.text;
    EXPECT_EQ(n.value, w.value) << w.text;
    EXPECT_EQ(n.unit, w.unit) << w.text;
  }
}

TEST(ScpiNumberTest, SpecialValues) {
  struct Case {
    const char* text;
    Numeric::Kind kind;
  };
  const Case cases[] = {{"MIN", Numeric::Kind::kMinimum}, {"minimum", Numeric::Kind::kMinimum},
                        {"MAX", Numeric::Kind::kMaximum}, {"Maximum", Numeric::Kind::kMaximum},
                        {"DEF", Numeric::Kind::kDefault}, {"DEFAULT", Numeric::Kind::kDefault}};
  for (const Case& c : cases) {
    Numeric n;
    ASSERT_EQ(parse_numeric(c.text, kAll, n), 0) << c.text;
    EXPECT_EQ(n.kind, c.kind) << c.text;
  }
}

TEST(ScpiNumberTest, Errors) {
  struct Case {
    const char* text;
    unsigned units;
    int error;
  };
  const Case cases[] = {
      {"1KV", unit_bit(Unit::kHertz), err::kInvalidSuffix},
      {"5XS", unit_bit(Unit::kSecond), err::kInvalidSuffix},
      {"1PCTX", unit_bit(Unit::kPercent), err::kInvalidSuffix},
      {"1MPCT", unit_bit(Unit::kPercent), err::kInvalidSuffix},
      {"5V", 0, err::kSuffixNotAllowed},
      {"1E400", kAll, err::kExponentTooLarge},
      {"1.2.3", kAll, err::kInvalidCharacterInNumber},
      {"-", kAll, err::kNumericData},
      {"E5", kAll, err::kDataType},
      {"MINI", kAll, err::kDataType},
      {"\"1\"", kAll, err::kDataType},
      {"#HFG", kAll, err::kInvalidCharacterInNumber},
      {"#X12", kAll, err::kNumericData},
      {"1E", kAll, err::kNumericData},
      {"1E+", kAll, err::kNumericData},
      {"1E S", kAll, err::kNumericData},
      {"1ES", kAll, err::kInvalidSuffix},
      {"1EXS", unit_bit(Unit::kVolt), err::kInvalidSuffix},
  };
  for (const Case& c : cases) {
    Numeric n;
    EXPECT_EQ(parse_numeric(c.text, c.units, n), c.error) << c.text;
  }
}

TEST(ScpiNumberTest, MnemonicsMatchExactlyShortOrLongForm) {
  struct Case {
    const char* token;
    const char* long_form;
    bool match;
  };
  const Case cases[] = {
      {"FREQ", "FREQuency", true}, {"frequency", "FREQuency", true}, {"FREQU", "FREQuency", false},
      {"FRE", "FREQuency", false}, {"INT2", "INTernal2", true},      {"internal2", "INTernal2", true},
      {"INT", "INTernal2", false}, {"ECLT0", "ECLTrg0", true},       {"EITH", "EITHer", true},
  };
  for (const Case& c : cases) EXPECT_EQ(matches_mnemonic(c.token, c.long_form), c.match) << c.token;
}

TEST(ScpiNumberTest, RepliesAreShortAndStable) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {{2.5, "2.5"},
                        {1e-8, "1E-08"},
                        {1e6, "1000000"},
                        {0.015, "0.015"},
                        {0.75 / 50, "0.015"},
                        {-3.25e-12, "-3.25E-12"},
                        {1.0 / 3, "0.333333333333333"},
                        {-0.0, "0"},
                        {1e21, "1E+21"}};
  for (const Case& c : cases) {
    char buf[40];
    std::string text(buf, format_real(c.value, buf));
    EXPECT_EQ(text, c.text);
    // Reading the reply back and answering again gives the same text.
    Numeric n;
    ASSERT_EQ(parse_numeric(text, 0, n), 0) << text;
    EXPECT_EQ(std::string(buf, format_real(n.value, buf)), text);
  }
}

}  // namespace
}  // namespace pgx::sim
