#pragma once
// Pattern data of the generator: one byte (0 or 1) per position.

#include <cstddef>
#include <string>
#include <string_view>

namespace pgx::sim {

// Turns block bytes ('0'/'1' or 0/1, mixed as they come) into positions. Returns 0, -224 for any other
// byte or -223 for more than `max_positions`.
int decode_pattern(std::string_view bytes, std::size_t max_positions, std::string& out);

// A maximal-length pseudo-random binary sequence of 2^order - 1 positions (order 7..14), repeated or cut to
// `length`. The register starts with all ones.
std::string prbs_pattern(int order, std::size_t length);

// A clock: `divider` ones, then `divider` zeros, repeated to `length` positions.
std::string clock_pattern(std::size_t divider, std::size_t length);

}  // namespace pgx::sim
