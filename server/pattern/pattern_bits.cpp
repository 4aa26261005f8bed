#include "server/pattern/pattern_bits.h"

namespace pgx::server {

void ExpandBits(const unsigned char* packed, std::size_t count, unsigned char* positions) noexcept {
  const std::size_t whole = count / 8;
  for (std::size_t i = 0; i < whole; ++i) {
    const unsigned byte = packed[i];
    unsigned char* out = positions + 8 * i;
    for (int bit = 0; bit < 8; ++bit) out[bit] = static_cast<unsigned char>((byte >> (7 - bit)) & 1u);
  }
  for (std::size_t p = 8 * whole; p < count; ++p)
    positions[p] = static_cast<unsigned char>((packed[p / 8] >> (7 - p % 8)) & 1u);
}

void PackPositions(const unsigned char* positions, std::size_t count, unsigned char* packed) noexcept {
  for (std::size_t i = 0; 8 * i < count; ++i) {
    const unsigned char* in = positions + 8 * i;
    const std::size_t n = count - 8 * i < 8 ? count - 8 * i : 8;
    unsigned byte = 0;
    for (std::size_t bit = 0; bit < n; ++bit) byte |= (in[bit] & 1u) << (7 - bit);
    packed[i] = static_cast<unsigned char>(byte);
  }
}

}  // namespace pgx::server
