#pragma once
// Numeric program data: decimal numbers (NRf), #H/#Q/#B integers, MINimum/MAXimum/DEFault, and suffix
// units with multipliers ("2.5V", "100MV", "5NS", "10MHZ", "1KOHM"); and the formatting of numbers in
// replies.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pgx::sim {

enum class Unit : std::uint8_t { kNone, kVolt, kAmpere, kSecond, kHertz, kOhm, kPercent, kDegree, kRadian };

// A set of units a parameter accepts.
constexpr unsigned unit_bit(Unit u) {
  return 1u << static_cast<unsigned>(u);
}

struct Numeric {
  enum class Kind : std::uint8_t { kValue, kMinimum, kMaximum, kDefault };
  Kind kind = Kind::kValue;
  double value = 0;         // scaled by the multiplier (100MV -> 0.1)
  Unit unit = Unit::kNone;  // kNone when the number carried no suffix
};

// Parses one numeric parameter. `units` is the set of units the parameter accepts (0: none, then any
// suffix is refused). Returns 0 or the SCPI error number (-104, -120, -121, -123, -131, -138).
int parse_numeric(std::string_view token, unsigned units, Numeric& out);

// A number in at most 15 significant digits, trailing zeros dropped, upper-case exponent ("2.5", "1E-08",
// "1000000").
// Writes at most 32 characters into `out` and returns how many.
std::size_t format_real(double value, char* out);
std::size_t format_integer(long long value, char* out);

// True when `token` is `long_form` written in full or as its short form (its upper-case leading
// letters and any digits), ignoring case: matches_mnemonic("freq", "FREQuency").
bool matches_mnemonic(std::string_view token, std::string_view long_form);

}  // namespace pgx::sim
