#include "driver/front_ends.h"

namespace pgx::driver {

namespace {

constexpr FrontEnd kFrontEnds[] = {
    {"Q510A", 0x07C0},  {"Q520A", 0x07F3},  {"Q530A", 0x8200},  {"Q540A", 0xC1C6},
    {"M4010A", 0xBE08}, {"M4020A", 0xBE00}, {"M4030A", 0x9E00}, {"M4040A", 0xDDC6},
};

}  // namespace

std::span<const FrontEnd> known_front_ends() {
  return kFrontEnds;
}

std::uint32_t front_end_lacks(std::string_view model) {
  for (const FrontEnd& front_end : kFrontEnds) {
    if (model == front_end.name || model == front_end.name.substr(0, front_end.name.size() - 1)) {
      return front_end.lacks;
    }
  }
  return kUnknownFrontEnd;
}

}  // namespace pgx::driver
