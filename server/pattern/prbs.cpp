#include "server/pattern/prbs.h"

namespace pgx::server {

namespace {

// The feedback taps of each order: the bits that are clear in the mask take the feedback bit. Each gives a
// maximal-length sequence. Order 14 uses x^14 + x^13 + x^12 + x^2 + 1 (stages 13, 12, 11 and 1); beware of
// the taps 0x7FFFCCFF (stages 13, 12, 9 and 8), which look alike but repeat after 5461 bits, a third of the
// period of a PRBS of that order.
constexpr std::uint32_t kTapMasks[] = {
    0x7FFFFF9F,  // 7
    0x7FFFFF39,  // 8
    0x7FFFFE67,  // 9
    0x7FFFFDBF,  // 10
    0x7FFFFB6D,  // 11
    0x7FFFF66F,  // 12
    0x7FFFE4FF,  // 13
    0x7FFFC7FD,  // 14
};

// Every generator starts from the same seed: its sequences are the instrument's.
constexpr std::uint32_t kSeed = 0;

}  // namespace

PrbsGenerator::PrbsGenerator(int order) noexcept
    : mask_(kTapMasks[order - kMinOrder] | 0x80000000u),
      state_((0xFFFFFFFFu << order) | kSeed),
      preload_(state_),
      preload_left_(order) {}

bool PrbsGenerator::Next() noexcept {
  const std::uint32_t shifted = (state_ >> 1) | (state_ & 0x80000000u);
  std::uint32_t feedback = state_ & 1u;
  if (preload_left_ > 0) {
    feedback = preload_ & 1u;
    --preload_left_;
    preload_ >>= 1;
  }
  state_ = (shifted & mask_) | ((shifted ^ (feedback ? 0xFFFFFFFFu : 0u)) & ~mask_);
  return feedback == 0;
}

void WritePrbs(unsigned char* bytes, std::size_t first, std::size_t last, int order) noexcept {
  if (first > last) return;
  PrbsGenerator generator(order);
  std::size_t index = first / 8;
  unsigned bit = 0x80u >> (first % 8);
  for (std::size_t n = last - first + 1; n > 0; --n) {
    if (generator.Next()) {
      bytes[index] = static_cast<unsigned char>(bytes[index] | bit);
    } else {
      bytes[index] = static_cast<unsigned char>(bytes[index] & ~bit);
    }
    bit >>= 1;
    if (bit == 0) {
      bit = 0x80u;
      ++index;
    }
  }
}

}  // namespace pgx::server
