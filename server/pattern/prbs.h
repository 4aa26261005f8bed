// The pseudo-random binary sequences that Pattern.CalcPRBS computes for a client, so that it can show or edit
// one: maximal-length sequences of order 7 to 14.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pgx::server {

// A 32-bit shift register with feedback taps for one order (polynomial exponent). Its first `order` bits are
// ones (the preload); from then on the register is all ones and the feedback gives a sequence that repeats
// every 2^order - 1 bits. Each generator keeps its own state, so that generators on several threads never
// disturb one another.
class PrbsGenerator {
 public:
  static constexpr int kMinOrder = 7;
  static constexpr int kMaxOrder = 14;

  // `order` must be kMinOrder .. kMaxOrder.
  explicit PrbsGenerator(int order) noexcept;

  // The next bit of the sequence.
  bool Next() noexcept;

 private:
  std::uint32_t mask_;
  std::uint32_t state_;
  std::uint32_t preload_;
  int preload_left_;
};

// Writes the sequence of `order` into bit positions `first` .. `last` (0-based, inclusive; position 0 is the
// most significant bit of bytes[0]) and leaves every other bit as it is; nothing when first > last. The
// caller has checked that both positions lie within the bytes.
void WritePrbs(unsigned char* bytes, std::size_t first, std::size_t last, int order) noexcept;

}  // namespace pgx::server
