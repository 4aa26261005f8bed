#include "sim/vxi_registers.h"

namespace pgx::sim {
namespace {

constexpr std::uint16_t kMessageBasedClass = 0b10u << 14;
constexpr std::uint16_t kA16Only = 0b11u << 12;
constexpr std::uint16_t kModIdNotAsserted = 1u << 14;
constexpr std::uint16_t kStatusOnes = 0x3FF3;  // the bits of the status register that carry no news
// No commander, signal register, bus master, interrupter, fast handshake or shared memory.
constexpr std::uint16_t kProtocol = 0x03FF;

}  // namespace

std::uint16_t VxiRegisters::read(std::uint32_t offset) const {
  switch (offset) {
    case 0x00:
      return kMessageBasedClass | kA16Only | (identity_.manufacturer_id & 0x0FFF);
    case 0x02:
      return identity_.model_code;
    case 0x04: {
      std::uint16_t status = kModIdNotAsserted | kStatusOnes;
      if (!in_reset()) status |= kReady | kPassed;
      return status;
    }
    case 0x08:
      return kProtocol;
    default:
      return 0;
  }
}

bool VxiRegisters::write(std::uint32_t offset, std::uint16_t value) {
  if (offset != 0x04) return false;
  const bool was_reset = in_reset();
  control_ = value & (kReset | kSysfailInhibit);  // A16 only: the A24/A32 enable has nothing to enable
  return was_reset && !in_reset();
}

}  // namespace pgx::sim
