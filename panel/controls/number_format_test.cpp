#include "panel/controls/number_format.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pgx::panel {
namespace {

struct FormatCase {
  const char* format;
  double value;
  const char* text;
};

TEST(NumberFormatTest, PlaceholdersPointExponentAndLiterals) {
  const FormatCase cases[] = {
      {"##0.0##", 0, "0.0"},
      {"##0.0##", 1.5, "1.5"},
      {"##0.0##", 1.23456, "1.235"},
      {"##0.0##", 1234.56789, "1234.568"},
      {"##0.0##", -0.25, "-0.25"},
      {"##0.0##", 1e-5, "0.0"},
      {"0.00", 0.125, "0.13"},  // half away from zero on the decimal form
      {"0.00", -0.125, "-0.13"},
      {"0.00", 1.005, "1.01"},   // the double nearest 1.005 is a little less; its decimal form is not
      {"0.00", 9.995, "10.00"},  // the carry adds an integer digit
      {"0.0", -0.001, "0.0"},    // no sign on a written zero
      {"0.0", 0.06, "0.1"},
      {"00.0", 5, "05.0"},
      {"0", 1234.5, "1235"},
      {"0", 2.5, "3"},
      {"#.##", 0.5, ".5"},
      {"#.##", 1, "1."},
      {"0.00E+00", 1234.5, "1.23E+03"},
      {"0.00E+00", 0, "0.00E+00"},
      {"0.00E+00", 9.999, "1.00E+01"},
      {"0.0E-00", 0.00012, "1.2E-04"},
      {"0.0E-0", 12345, "1.2E4"},
      {"0.000000000E+00", 1e-100, "1.000000000E-100"},
      {"00.0e+0", 12345, "12.3e+3"},
      {"0.0 V", 2, "2.0 V"},
      {"~0", 7, "~7"},
      {"", 0.1, "0.1"},
      {"", 1e21, "1e+21"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(NumberFormat(c.format).Format(c.value).value_or("<none>"), c.text)
        << c.format << " " << c.value;
  }
}

TEST(NumberFormatTest, LocaleSeparatorAndValuesItCannotWrite) {
  EXPECT_EQ(NumberFormat("##0.0##").Format(1234.5, ",").value(), "1234,5");
  EXPECT_EQ(NumberFormat("0.00E+00").Format(0.5, ",").value(), "5,00E-01");
  EXPECT_EQ(NumberFormat().Format(INFINITY), std::nullopt);
  EXPECT_EQ(NumberFormat().Format(NAN), std::nullopt);
}

}  // namespace
}  // namespace pgx::panel
