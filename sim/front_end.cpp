#include "sim/front_end.h"

#include <array>

namespace pgx::sim {
namespace {

constexpr std::array<FrontEndModel, 8> kModels{{
    {"Q510A", false, 0x07C0, 50e6, 10e-9, 5e-9, 0.2, 10.0, -10.0, 0.1, 20.0},
    {"Q520A", false, 0x07F3, 100e6, 5e-9, 2e-9, 2e-9, 5.0, -5.0, 0.1, 10.0},
    {"Q530A", false, 0x8200, 165e6, 3e-9, 1e-9, 0.2, 5.0, -5.0, 0.05, 10.0},
    {"Q540A", false, 0xC1C6, 330e6, 1.5e-9, 0.5e-9, 0.1, 3.8, -3.8, 0.1, 7.6},
    {"M4010A", true, 0xBE08, 20e6, 25e-9, 8e-9, 0.2, 16.0, -16.0, 0.1, 32.0},
    {"M4020A", true, 0xBE00, 50e6, 10e-9, 5e-9, 0.2, 10.0, -10.0, 0.1, 20.0},
    {"M4030A", true, 0x9E00, 165e6, 3e-9, 1e-9, 0.2, 5.0, -5.0, 0.05, 10.0},
    {"M4040A", true, 0xDDC6, 330e6, 1.5e-9, 0.5e-9, 0.1, 3.8, -3.8, 0.1, 7.6},
}};

}  // namespace

const FrontEndModel* find_front_end(std::string_view name) {
  for (const FrontEndModel& m : kModels) {
    if (name == m.name || name == m.name.substr(0, m.name.size() - 1)) return &m;
  }
  return nullptr;
}

}  // namespace pgx::sim
