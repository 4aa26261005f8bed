#include "panel/controls/engr_spin_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "automation/bstr.h"
#include "automation/com_error.h"

namespace pgx::panel {
namespace {

std::string Utf8(const std::u16string& s) {
  return std::string(s.begin(), s.end());
}

struct DisplayCase {
  double value;
  int significant_digits;
  const char* text;
  int exponent;
  const char* units;
};

TEST(EngrSpinModelTest, ValueToTextRoundsToTenDigitsThenCuts) {
  const DisplayCase cases[] = {
      {1234.5678, 4, "1.234", 3, "ks"},
      {0.00012345, 4, "123.4", -6, "us"},
      {-0.5, 4, "-500.0", -3, "ms"},
      {999.96, 4, "999.9", 0, "s"},            // cut, not rounded up to 1.000 k
      {999.99999999995, 4, "1.000", 3, "ks"},  // ...but the ten-digit rounding comes first
      {1, 4, "1.000", 0, "s"},
      {12, 4, "12.00", 0, "s"},
      {100, 4, "100.0", 0, "s"},
      {1e12, 4, "1.000", 12, "Ts"},
      {1e-12, 4, "1.000", -12, "ps"},
      {1e15, 4, "1.000", 15, "*s"},
      {2.5e-14, 4, "25.00", -15, "*s"},
      {1234.5678, 10, "1.234567800", 3, "ks"},
      {-1234.5678, 6, "-1.23456", 3, "ks"},
      {-999.96, 5, "-999.96", 0, "s"},
      {0.1, 4, "100.0", -3, "ms"},
  };
  for (const DisplayCase& c : cases) {
    EngrSpinModel m;
    m.SetBaseUnit("s");
    m.SetMax(1e300);
    m.SetSignificantDigits(c.significant_digits);
    m.SetValue(c.value);
    EXPECT_EQ(m.Text(), c.text) << c.value;
    EXPECT_EQ(m.Exponent(), c.exponent) << c.value;
    EXPECT_EQ(m.UnitsCaption(), c.units) << c.value;
  }
}

TEST(EngrSpinModelTest, ZeroKeepsThePrefixShownBefore) {
  EngrSpinModel m;
  m.SetBaseUnit("V");
  m.SetValue(0.005);
  m.SetValue(0);
  EXPECT_EQ(m.Text(), "0.000");
  EXPECT_EQ(m.UnitsCaption(), "mV");
}

TEST(EngrSpinModelTest, LocaleSeparatorIsWrittenAndRead) {
  EngrSpinModel m;
  m.SetDecimalSep(",");
  m.SetValue(1234.5678);
  EXPECT_EQ(m.Text(), "1,234");
  EXPECT_EQ(m.TextToValue("1,5"), 1500);
  EXPECT_EQ(m.TextToValue("1.5"), std::nullopt);  // "." is not this locale's separator
  EXPECT_EQ(m.TextToValue("2,5m"), 0.0025);
}

TEST(EngrSpinModelTest, PlainDisplayUsesTheNumberFormat) {
  EngrSpinModel m;
  m.SetBaseUnit("V");
  m.SetMinExponent(0);
  m.SetMaxExponent(0);
  EXPECT_FALSE(m.EngMode());
  m.SetValue(1234.56789);
  EXPECT_EQ(m.Text(), "1234.568");
  EXPECT_EQ(m.UnitsCaption(), "V");
  EXPECT_EQ(m.TextToValue("5"), 5);  // no prefix is in force
  EXPECT_EQ(m.TextToValue("5 V"), 5);
  EXPECT_EQ(m.TextToValue("5 kV"), std::nullopt);
  m.SetNumberFormat("0.00E+00");
  EXPECT_EQ(m.Text(), "1.23E+03");

  // Hidden units also turn the engineering display off, and with it the prefix a typed number is read in.
  EngrSpinModel hidden;
  hidden.SetValue(0.005);
  EXPECT_EQ(hidden.Exponent(), -3);
  hidden.SetUnitsVisible(false);
  EXPECT_FALSE(hidden.EngMode());
  EXPECT_EQ(hidden.Text(), "0.005");
  EXPECT_EQ(hidden.TextToValue("5"), 5);
}

struct EntryCase {
  const char* text;
  std::optional<double> value;
};

TEST(EngrSpinModelTest, TypedTextWithPrefixesUnitsAndExponents) {
  EngrSpinModel m;
  m.SetBaseUnit("Hz");
  m.SetDefaultValue(42);
  m.SetMinExponent(-9);
  m.SetValue(0.001);  // the label shows mHz
  ASSERT_EQ(m.UnitsCaption(), "mHz");
  const EntryCase cases[] = {
      {"5", 0.005},  // read in the displayed prefix
      {" 5 ", 0.005},
      {"-2.5", -0.0025},
      {"5k", 5000},
      {"5kHz", 5000},
      {"5 kHz", 5000},
      {"5 k", 5000},
      {"5Hz", 5},
      {"5 Hz", 5},
      {"5M", 5e6},
      {"5m", 0.005},
      {"1.5n", 1.5e-9},
      {"5E3", 5000},  // an exponent replaces the displayed prefix
      {"5e-3", 0.005},
      {"", 42},              // DefaultValue
      {"5p", std::nullopt},  // below MinExponent
      {"5xyz", std::nullopt},
      {"5 mhz", std::nullopt},  // case-sensitive
      {"5kV", std::nullopt},
      {"5*", std::nullopt},  // the out-of-range marker is not a prefix
      {"1e3k", std::nullopt},
      {"5E", std::nullopt},
      {"abc", std::nullopt},
      {"k", std::nullopt},
      {"1e999", std::nullopt},
      {"--5", std::nullopt},
  };
  for (const EntryCase& c : cases) {
    const std::optional<double> v = m.TextToValue(c.text);
    ASSERT_EQ(v.has_value(), c.value.has_value()) << '"' << c.text << '"';
    if (v) {
      EXPECT_DOUBLE_EQ(*v, *c.value) << '"' << c.text << '"';
    }
  }
}

TEST(EngrSpinModelTest, ClampingAndTheGapAroundZero) {
  struct Case {
    double min, max, min_magnitude, from, to, result;
  };
  const Case cases[] = {
      {-1, 1, 0, 0, 2, 1},
      {-1, 1, 0, 0, -2, -1},
      {-1, 1, 0, 0, 1e-300, 1e-300},
      {0, 1, 1e-12, 1e-12, 1e-12 - 1e-11, 0},  // below Min
      {0, 1, 1e-12, 1e-12, 5e-13, 0},          // down into the gap: 0
      {0, 1, 1e-12, 0, 5e-13, 1e-12},          // up into the gap: MinMagnitude
      {0, 1, 1e-12, 0.5, 0, 0},
      // With Min far below zero, moving down into the gap lands on 0, not on Min.
      {-1, 1, 1e-3, 1, 1e-4, 0},
      {-1, 1, 1e-3, -1, -1e-4, 0},
      {-1, 1, 1e-3, 0, -1e-4, -1e-3},
      {-1, 1, 1e-3, 0, 1e-4, 1e-3},
      {-1, 1e-4, 1e-3, 0, 1e-5, 1e-4},  // and the gap's edge stays within Max
  };
  for (const Case& c : cases) {
    EngrSpinModel m;
    m.SetMin(c.min);
    m.SetMax(c.max);
    m.SetMinMagnitude(c.min_magnitude);
    m.SetValue(c.from);
    m.SetValue(c.to);
    EXPECT_EQ(m.Value(), c.result) << c.from << " -> " << c.to;
    EXPECT_EQ(m.OldValue(), c.from);
  }
  EngrSpinModel m;
  m.SetValue(3);
  m.SetValue(NAN);
  EXPECT_EQ(m.Value(), 3);
  m.SetValue(INFINITY);
  EXPECT_EQ(m.Value(), EngrSpinModel::kDefaultMax);
}

TEST(EngrSpinModelTest, ValueThatCannotBeShownIsReportedAndLeavesTheTextEmpty) {
  EngrSpinModel m;
  std::vector<std::string> failures;
  m.SetHooks({.conversion_failed = [&](std::int32_t n, const std::string& d) {
    failures.push_back(std::to_string(n) + " " + d);
  }});
  m.SetMax(INFINITY);
  m.SetValue(INFINITY);
  EXPECT_EQ(m.Text(), "");
  EXPECT_EQ(failures, std::vector<std::string>{"6 Overflow"});
}

struct SpinCase {
  double value;
  int cursor;
  int spin;
  double result;
  const char* text;
  int cursor_after;
};

TEST(EngrSpinModelTest, SpinStepsTheDigitRightOfTheCursor) {
  const SpinCase cases[] = {
      {1234, 0, 1, 2234, "2.234", 0},    // "|1.234": units digit of the mantissa, in kHz
      {1234, 1, 1, 2234, "2.234", 0},    // "1|.234": just before the separator, still the units digit
      {1234, 2, 1, 1334, "1.334", 2},    // "1.|234": tenths
      {1234, 4, -1, 1233, "1.233", 4},   // "1.23|4": thousandths go down
      {1234, 5, 1, 1234.1, "1.234", 5},  // past the last shown digit
      {123.4, 0, 1, 223.4, "223.4", 0},  // hundreds
      {999.9, 4, 1, 1000, "1.000", 2},   // the prefix changes; the cursor stays on the tenths
      {-500, 1, 1, -400, "-400.0", 1},  {1.234, 3, 1, 1.244, "1.244", 3},
  };
  for (const SpinCase& c : cases) {
    EngrSpinModel m;
    int updates = 0;
    m.SetHooks({.after_update = [&] { ++updates; }});
    m.SetValue(c.value);
    const std::optional<int> cursor = m.Spin(c.spin, c.cursor);
    ASSERT_TRUE(cursor) << c.value;
    EXPECT_DOUBLE_EQ(m.Value(), c.result) << c.value << " at " << c.cursor;
    EXPECT_EQ(m.Text(), c.text) << c.value << " at " << c.cursor;
    EXPECT_EQ(*cursor, c.cursor_after) << c.value << " at " << c.cursor;
    EXPECT_EQ(updates, 1);
  }
}

TEST(EngrSpinModelTest, SpinStepIsNeverBelowMinMagnitude) {
  EngrSpinModel m;
  m.SetMin(0);
  m.SetMinMagnitude(1e-12);
  m.SetValue(1e-12);
  m.SetValue(0);  // shows 0.000 p
  ASSERT_EQ(m.UnitsCaption(), "p");
  m.Spin(1, 5);  // the step there would be 1e-16
  EXPECT_EQ(m.Value(), 1e-12);
  m.SetValue(2e-12);
  m.Spin(-1, 0);
  m.Spin(-1, 0);
  EXPECT_EQ(m.Value(), 0);
  m.Spin(-1, 0);
  EXPECT_EQ(m.Value(), 0);  // Min
}

TEST(EngrSpinModelTest, CaretDigitWithoutSeparator) {
  EngrSpinModel m;
  EXPECT_EQ(m.CaretDigit("123", 3), 0);
  EXPECT_EQ(m.CaretDigit("123", 2), 0);
  EXPECT_EQ(m.CaretDigit("123", 0), 2);
  EXPECT_EQ(m.CursorForDigit("123", 0), 2);
  EXPECT_EQ(m.CursorForDigit("123", 5), 0);
  // A separator of more than one byte counts as one place.
  m.SetDecimalSep("\xd9\xab");
  EXPECT_EQ(m.CaretDigit("1\xd9\xab"
                         "23",
                         3),
            -1);
  EXPECT_EQ(m.CursorForDigit("1\xd9\xab"
                             "23",
                             -2),
            4);
}

TEST(EngrSpinModelTest, ValueArrayIsSteppedThroughAndSnappedTo) {
  EngrSpinModel m;
  m.SetBaseUnit("s");
  m.SetValueArray("1.6E-9; 0.8E-9;junk;1.6E-9");
  EXPECT_TRUE(m.ArrayMode());
  EXPECT_EQ(m.ArrayValues(), (std::vector<double>{0.8e-9, 1.6e-9}));
  EXPECT_EQ(m.Value(), 0.8e-9);
  m.Spin(1, 0);
  EXPECT_EQ(m.Value(), 1.6e-9);
  m.Spin(1, 0);
  EXPECT_EQ(m.Value(), 1.6e-9);
  m.Spin(-1, 0);
  EXPECT_EQ(m.Value(), 0.8e-9);
  EXPECT_TRUE(m.EnterText("1n"));
  EXPECT_EQ(m.Value(), 0.8e-9);
  EXPECT_TRUE(m.EnterText("5n"));
  EXPECT_EQ(m.Value(), 1.6e-9);
  EXPECT_FALSE(m.SetDataParameters(0, 1, 0, 0));  // the range comes from the array
  EXPECT_EQ(m.Min(), EngrSpinModel::kDefaultMin);
  m.SetValueArray("");
  EXPECT_FALSE(m.ArrayMode());
  EXPECT_TRUE(m.SetDataParameters(0, 1e-9, 0.5e-9, 1e-12));
  EXPECT_EQ(m.Value(), 1e-9);  // the value is let again into the new range
  EXPECT_TRUE(m.SetDataParameters(0, 0.5e-9, 0, 1e-12));
  EXPECT_EQ(m.Value(), 0.5e-9);
}

struct LetCase {
  const char* property;
  int value;
  bool user_mode;
  const char* error;  // description, or nullptr when accepted
  int stored;
};

void Let(EngrSpinModel& m, const std::string& property, int v) {
  if (property == "MaxExponent") m.SetMaxExponent(v);
  if (property == "MinExponent") m.SetMinExponent(v);
  if (property == "SignificantDigits") m.SetSignificantDigits(v);
}

int Get(const EngrSpinModel& m, const std::string& property) {
  if (property == "MaxExponent") return m.MaxExponent();
  if (property == "MinExponent") return m.MinExponent();
  return m.SignificantDigits();
}

TEST(EngrSpinModelTest, ValidatedLetsRaiseAtDesignTimeAndCutAtRunTime) {
  const LetCase cases[] = {
      {"MaxExponent", 7, false, "Exponent must be a multiple of 3", 12},
      {"MaxExponent", 15, false, "Exponent too large [>12]", 12},
      {"MaxExponent", 14, false, "Exponent must be a multiple of 3", 12},
      {"MaxExponent", 6, false, nullptr, 6},
      {"MaxExponent", -15, false, nullptr, -15},
      {"MinExponent", -7, false, "Exponent must be a multiple of 3", -12},
      {"MinExponent", -15, false, "Exponent too small [<-12]", -12},
      {"MinExponent", -3, false, nullptr, -3},
      {"SignificantDigits", 3, false, "Significant Digits must be between 4 and 10", 4},
      {"SignificantDigits", 11, false, "Significant Digits must be between 4 and 10", 4},
      {"SignificantDigits", 11, true, "Significant Digits must be between 4 and 10", 4},
      {"SignificantDigits", 10, true, nullptr, 10},
      {"MaxExponent", 7, true, nullptr, 6},
      {"MaxExponent", 14, true, nullptr, 12},
      {"MaxExponent", 100, true, nullptr, 12},
      {"MaxExponent", -7, true, nullptr, -6},
      {"MinExponent", -7, true, nullptr, -6},
      {"MinExponent", -14, true, nullptr, -12},
      {"MinExponent", 5, true, nullptr, 3},
  };
  for (const LetCase& c : cases) {
    EngrSpinModel m;
    m.SetUserMode(c.user_mode);
    std::vector<std::string> changed;
    m.SetHooks({.property_changed = [&](std::string_view p) { changed.emplace_back(p); }});
    const std::string where = std::string(c.property) + "=" + std::to_string(c.value);
    if (c.error) {
      try {
        Let(m, c.property, c.value);
        ADD_FAILURE() << where << " did not raise";
      } catch (const pgx::auto_::com_error& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Error()), 0x800401F5u) << where;
        EXPECT_EQ(Utf8(e.Source()), "EngrSpin") << where;
        EXPECT_EQ(Utf8(e.Description()), c.error) << where;
      }
      EXPECT_TRUE(changed.empty()) << where;
    } else {
      Let(m, c.property, c.value);
      EXPECT_EQ(changed, std::vector<std::string>{c.property}) << where;
    }
    EXPECT_EQ(Get(m, c.property), c.stored) << where;
  }
}

TEST(EngrSpinModelTest, ReadingDefersEverythingAndLoadsBadStoredValues) {
  EngrSpinModel m;
  m.SetUserMode(false);
  std::vector<std::string> changed;
  m.SetHooks({.property_changed = [&](std::string_view p) { changed.emplace_back(p); }});
  m.SetValue(5);
  const std::string before = m.Text();
  m.BeginReading();
  m.SetMaxExponent(7);  // a stored form with a bad value still loads
  m.SetMinExponent(0);
  m.SetSignificantDigits(20);
  m.SetMin(10);
  EXPECT_EQ(m.Text(), before);
  m.SetValue(1);  // no clamping while reading
  EXPECT_EQ(m.Value(), 1);
  m.EndReading();
  EXPECT_TRUE(changed.empty());
  EXPECT_EQ(m.MaxExponent(), 6);
  EXPECT_EQ(m.SignificantDigits(), 10);
  EXPECT_EQ(m.Text(), "1.000000000");
}

TEST(EngrSpinModelTest, CommitRaisesAfterUpdateOnceAndOnlyForTheUser) {
  EngrSpinModel m;
  int updates = 0;
  m.SetHooks({.after_update = [&] { ++updates; }});
  m.SetValue(2);
  EXPECT_EQ(updates, 0);
  EXPECT_EQ(m.CommitText("7"), EngrSpinModel::CommitResult::kNotRun);  // not edited

  ASSERT_TRUE(m.BeginEdit());
  EXPECT_EQ(m.CommitText("7k"), EngrSpinModel::CommitResult::kCommitted);
  EXPECT_EQ(m.Value(), 7000);
  EXPECT_EQ(updates, 1);
  EXPECT_FALSE(m.Dirty());

  ASSERT_TRUE(m.BeginEdit());
  EXPECT_EQ(m.CommitText("7 furlongs"), EngrSpinModel::CommitResult::kRejected);
  EXPECT_EQ(m.Value(), 7000);
  EXPECT_EQ(updates, 1);
  EXPECT_TRUE(m.Dirty());
  EXPECT_FALSE(m.Spin(1, 0));  // a pending edit is committed before any step

  m.SetLocked(true);
  m.CancelEdit();
  EXPECT_FALSE(m.BeginEdit());
  EXPECT_FALSE(m.Dirty());
}

TEST(EngrSpinModelTest, CommitAndSpinAreNotReentered) {
  EngrSpinModel m;
  EngrSpinModel::CommitResult inner = EngrSpinModel::CommitResult::kCommitted;
  std::optional<int> inner_spin = 0;
  m.SetHooks({.after_update = [&] {
    inner = m.CommitText("9");
    inner_spin = m.Spin(1, 0);
  }});
  ASSERT_TRUE(m.BeginEdit());
  EXPECT_EQ(m.CommitText("3"), EngrSpinModel::CommitResult::kCommitted);
  EXPECT_EQ(inner, EngrSpinModel::CommitResult::kNotRun);
  EXPECT_TRUE(inner_spin);  // a spin is another operation: it runs (and its own handler's spin does not)
  EXPECT_EQ(m.Value(), 4);
  m.Spin(1, 0);
  EXPECT_EQ(inner_spin, std::nullopt);
  EXPECT_EQ(m.Value(), 5);
}

TEST(EngrSpinModelTest, AuxValueIsTheReciprocalWhenAsked) {
  EngrSpinModel m;
  m.SetValue(1e-6);
  EXPECT_EQ(m.AuxValue(), 1e-6);
  m.SetReciprocal(true);
  EXPECT_DOUBLE_EQ(m.AuxValue(), 1e6);
  m.SetAuxValue(2e3);
  EXPECT_DOUBLE_EQ(m.Value(), 0.5e-3);
  m.SetAuxValue(0);
  EXPECT_EQ(m.Value(), EngrSpinModel::kDefaultMax);
}

}  // namespace
}  // namespace pgx::panel
