#pragma once
// The configuration registers of a VXI module (VXI-1): 64 bytes of A16 space at 0xC000 + 64 * logical
// address. Our modules are message-based devices that use A16 space only.
//
//   0x00  ID           device class (message-based), address space (A16 only), manufacturer id
//   0x02  Device Type  model code
//   0x04  Status (read): A24/A32 active (15), MODID* (14), Ready (3), Passed (2); other bits read as 1
//         Control (write): A24/A32 enable (15), Sysfail Inhibit (1), Reset (0)
//   0x06  Offset       A24/A32 base (none: reads 0)
//   0x08  Protocol     message-based capabilities (read only)
// The rest of the 64 bytes is device dependent and reads 0; writes there are ignored.

#include <cstdint>

namespace pgx::sim {

struct VxiIdentity {
  std::uint16_t manufacturer_id = 0x0FFF;  // 12 bits
  std::uint16_t model_code = 0;
};

class VxiRegisters {
 public:
  static constexpr std::uint32_t kSize = 0x40;
  static constexpr std::uint16_t kReady = 1u << 3, kPassed = 1u << 2, kReset = 1u << 0,
                                 kSysfailInhibit = 1u << 1;

  explicit VxiRegisters(VxiIdentity identity) : identity_(identity) {}

  // The 16-bit register at an even `offset` below kSize.
  std::uint16_t read(std::uint32_t offset) const;
  // Writes the register; returns true when the write ends a reset (the Reset bit goes from 1 to 0), after
  // which the module starts afresh.
  bool write(std::uint32_t offset, std::uint16_t value);

  bool in_reset() const { return (control_ & kReset) != 0; }

 private:
  VxiIdentity identity_;
  std::uint16_t control_ = 0;
};

}  // namespace pgx::sim
