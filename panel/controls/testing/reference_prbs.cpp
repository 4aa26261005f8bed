#include "panel/controls/testing/reference_prbs.h"

#include <cstddef>

namespace pgx::panel::testing {

namespace {

// Tap masks by polynomial exponent 7 ... 14.
constexpr std::uint32_t kTapMasks[] = {0x7FFFFF9F, 0x7FFFFF39, 0x7FFFFE67, 0x7FFFFDBF,
                                       0x7FFFFB6D, 0x7FFFF66F, 0x7FFFE4FF, 0x7FFFCCFF};

}  // namespace

bool ReferencePrbs(std::int32_t start, std::int32_t last, std::int32_t base,
                   std::vector<std::uint8_t>& bytes) {
  const std::int64_t s = static_cast<std::int64_t>(start) - 1;
  const std::int64_t e = static_cast<std::int64_t>(last) - 1;
  const auto n = static_cast<std::int64_t>(bytes.size());
  if (s / 8 >= n || e / 8 >= n) return false;
  if (s < 0 || e < 0 || base < 7 || base > 14) return false;
  const std::uint32_t mask = kTapMasks[base - 7] | 0x80000000u;
  int preload = base;
  std::uint32_t state = 0xFFFFFFFFu << base;
  std::uint32_t aux = state;
  auto bit_mask = static_cast<std::uint8_t>(0x80 >> (s % 8));
  auto index = static_cast<std::size_t>(s / 8);
  for (std::int64_t i = s; i <= e; ++i) {
    const std::uint32_t shifted = (state >> 1) | (state & 0x80000000u);
    std::uint32_t f = state & 1;
    if (preload > 0) {
      f = aux & 1;
      --preload;
      aux >>= 1;
    }
    state = (shifted & mask) | ((shifted ^ (f ? 0xFFFFFFFFu : 0u)) & ~mask);
    if (f == 0) {
      bytes[index] |= bit_mask;
    } else {
      bytes[index] &= static_cast<std::uint8_t>(~bit_mask);
    }
    bit_mask >>= 1;
    if (bit_mask == 0) {
      bit_mask = 0x80;
      ++index;
    }
  }
  return true;
}

}  // namespace pgx::panel::testing
