#pragma once
// The output front-ends of the family and what each one lacks.

#include <cstdint>
#include <string_view>

namespace pgx::sim {

// Functions a front-end may lack (the same bit values the automation server uses for its restriction mask).
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

struct FrontEndModel {
  std::string_view name;  // "M4030A"
  bool vxi;               // an M40xx module for a VXI mainframe (else a Q5xx benchtop front-end)
  std::uint32_t lacks;
  double max_frequency;   // Hz
  double min_width;       // s
  double min_transition;  // s (leading and trailing edges)
  double max_transition;  // s
  double max_high;        // V into 50 ohm
  double min_low;         // V into 50 ohm
  double min_amplitude;   // V
  double max_amplitude;   // V into 50 ohm
};

// The model with this exact name ("Q510A"; the name without the final letter is accepted too), or nullptr.
const FrontEndModel* find_front_end(std::string_view name);

}  // namespace pgx::sim
