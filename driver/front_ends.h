#pragma once
// What each output front-end of the family lacks, so that the driver refuses a function the connected
// front-end cannot do before anything is sent (also inside a transaction, where the instrument's own
// refusal would only show when the transaction finishes).

#include <cstdint>
#include <span>
#include <string_view>

namespace pgx::driver {

enum Lack : std::uint32_t {
  kLackTransTime = 1,
  kLackTransHold = 2,
  kLackLeTeCouple = 4,
  kLackPattern = 8,
  kLackLevel = 16,
  kLackLimit = 32,
  kLackOutImpedance = 64,
  kLackLoadComp = 128,
  kLackOutputMath = 256,
  kLackOutStateCompl = 512,
  kLackVxiTrigSource = 1024,
  kLackVxiTrigEnable = 2048,
  kLackArmSourceVxi = 4096,
  kLackAutoCalibrate = 8192,
  kLackLeTeAbs = 16384,
  kLackTrgOutSrc = 32768,
};

// The lacks of a front-end model ("M4030A"; the name without its final letter too), or kUnknownFrontEnd
// for a model the driver does not know (then nothing is refused).
inline constexpr std::uint32_t kUnknownFrontEnd = 0xFFFFFFFFu;
std::uint32_t front_end_lacks(std::string_view model);

// Every front-end model the driver knows, with what it lacks.
struct FrontEnd {
  std::string_view name;
  std::uint32_t lacks;
};
std::span<const FrontEnd> known_front_ends();

}  // namespace pgx::driver
