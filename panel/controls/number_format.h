// NumberFormat: the subset of the custom number-format syntax that the controls use.
//
//   0      digit placeholder: a digit, or 0 where the number has none
//   #      digit placeholder: a digit, or nothing where the number has none
//   .      decimal point (written as the separator the caller gives: the locale's)
//   E+00   exponent, sign always written (E-00: sign only when negative; e+00 and e-00 write "e");
//          the 0s after the sign are the fewest exponent digits
//
// All integer digits of the number are written whatever the count of integer placeholders; the 0s of the
// integer part are the fewest written ("00.0" writes 5 as "05.0"). The fraction is rounded (half away from
// zero, on the shortest decimal form of the double) to the count of fraction placeholders; its trailing
// zeros are dropped down to the last 0 placeholder. With an exponent the mantissa gets one integer digit, or
// as many as the integer part has 0s. Any other character is literal text, written before the number when
// it stands before the first placeholder and after it otherwise. A minus sign leads a negative number
// unless every written digit is 0. An empty format writes the shortest form that reads back as the same
// double.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pgx::panel {

class NumberFormat {
 public:
  explicit NumberFormat(std::string_view format = "##0.0##");

  // The formatted number, or nothing for infinity and NaN.
  std::optional<std::string> Format(double value, std::string_view decimal_sep = ".") const;
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  std::string prefix_, suffix_;
  bool general_ = false;
  int int_zeros_ = 0;  // 0 placeholders before the point
  bool has_point_ = false;
  int frac_max_ = 0;  // placeholders after the point
  int frac_min_ = 0;  // through the last 0 after the point
  bool has_exp_ = false;
  char exp_char_ = 'E';
  bool exp_plus_ = true;  // E+ (always a sign) or E- (only '-')
  int exp_digits_ = 1;
};

// The decimal digits of a double in their shortest form that reads back as the same double:
// value = (negative ? -1 : 1) * 0.d1d2d3... * 10^(point), digits without leading zeros ("" for zero).
struct DecimalDigits {
  bool negative = false;
  std::string digits;
  int point = 0;
};
DecimalDigits ShortestDigits(double finite_value);
// Rounds to `keep` digits (half away from zero); keep <= 0 keeps none (the result may carry to one digit).
void RoundDigits(DecimalDigits& d, int keep);

}  // namespace pgx::panel
