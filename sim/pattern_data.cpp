#include "sim/pattern_data.h"

#include <array>
#include <cstdint>

#include "sim/scpi_error.h"

namespace pgx::sim {

int decode_pattern(std::string_view bytes, std::size_t max_positions, std::string& out) {
  if (bytes.size() > max_positions) return err::kTooMuchData;
  out.assign(bytes.size(), '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    switch (bytes[i]) {
      case '1':
      case '\1':
        out[i] = 1;
        break;
      case '0':
      case '\0':
        break;
      default:
        return err::kIllegalParameterValue;
    }
  }
  return 0;
}

std::string prbs_pattern(int order, std::size_t length) {
  // Maximal-length feedback polynomials; bit k of a mask is the register stage that tap (order - k) reads
  // in a register shifting towards bit 0.
  static constexpr std::array<std::uint32_t, 15> kTaps{
      0,
      0,
      0,
      0,
      0,
      0,
      0,
      0b11,             // 7: x^7 + x^6 + 1
      0b11101,          // 8: x^8 + x^6 + x^5 + x^4 + 1
      0b10001,          // 9: x^9 + x^5 + 1
      0b1001,           // 10: x^10 + x^7 + 1
      0b101,            // 11: x^11 + x^9 + 1
      0b100000111,      // 12: x^12 + x^11 + x^10 + x^4 + 1
      0b100111,         // 13: x^13 + x^12 + x^11 + x^8 + 1
      0b1000000000111,  // 14: x^14 + x^13 + x^12 + x^2 + 1
  };
  std::string out(length, '\0');
  if (order < 7 || order > 14) return out;
  const std::uint32_t mask = (1u << order) - 1;
  std::uint32_t reg = mask;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint32_t bit =
        static_cast<std::uint32_t>(__builtin_parity(reg & kTaps[static_cast<std::size_t>(order)]));
    out[i] = static_cast<char>(reg & 1u);
    reg = ((reg >> 1) | (bit << (order - 1))) & mask;
  }
  return out;
}

std::string clock_pattern(std::size_t divider, std::size_t length) {
  std::string out(length, '\0');
  if (divider == 0) return out;
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char>((i / divider) % 2 == 0 ? 1 : 0);
  return out;
}

}  // namespace pgx::sim
