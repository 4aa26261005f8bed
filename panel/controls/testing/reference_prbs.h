// ReferencePrbs: a stand-in for the adapter's CalcPRBS, for tests and the controls' demonstration: the
// automation server's PRBS generator, computed in place. Fills bit positions start ... last (1-based, the
// first position in the most significant bit of byte 0) of `bytes` with a PRBS 2^base - 1; false (nothing
// changed) for a base outside 7 ... 14 or positions beyond the array.
#pragma once

#include <cstdint>
#include <vector>

namespace pgx::panel::testing {

bool ReferencePrbs(std::int32_t start, std::int32_t last, std::int32_t base,
                   std::vector<std::uint8_t>& bytes);

}  // namespace pgx::panel::testing
