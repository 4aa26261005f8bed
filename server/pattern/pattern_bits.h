// The Bits array format of pattern data: eight pattern positions per byte, the first position in the most
// significant bit. The driver takes and gives one byte per position.
#pragma once

#include <cstddef>

namespace pgx::server {

// Positions 0 .. count - 1 of `packed` as one byte each (0 or 1) into `positions`. `packed` holds at least
// (count + 7) / 8 bytes.
void ExpandBits(const unsigned char* packed, std::size_t count, unsigned char* positions) noexcept;

// `count` positions (set where bit 0 of the byte is set) packed into the first (count + 7) / 8 bytes of
// `packed`. Each byte that receives a position is cleared first, so the unused low bits of the last byte
// are 0; bytes beyond stay as they are.
void PackPositions(const unsigned char* positions, std::size_t count, unsigned char* packed) noexcept;

}  // namespace pgx::server
