#include "visa/connection.h"

namespace pgx::visa {

IoSettings IoSettings::from(const AttributeSet& attributes) {
  IoSettings io;
  io.timeout_ms = static_cast<ViUInt32>(attributes.number(VI_ATTR_TMO_VALUE));
  io.termchar_enabled = attributes.number(VI_ATTR_TERMCHAR_EN) != 0;
  io.termchar = static_cast<ViByte>(attributes.number(VI_ATTR_TERMCHAR));
  io.send_end = attributes.number(VI_ATTR_SEND_END_EN) != 0;
  io.suppress_end = attributes.number(VI_ATTR_SUPPRESS_END_EN) != 0;
  io.io_protocol = static_cast<ViUInt16>(attributes.number(VI_ATTR_IO_PROT));
  return io;
}

Deadline::Deadline(ViUInt32 timeout_ms)
    : infinite_(timeout_ms == VI_TMO_INFINITE),
      end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite_ ? 0 : timeout_ms)) {}

bool Deadline::expired() const {
  return !infinite_ && std::chrono::steady_clock::now() >= end_;
}

std::chrono::milliseconds Deadline::remaining() const {
  using namespace std::chrono;
  if (infinite_) return hours(24);
  auto left = duration_cast<milliseconds>(end_ - steady_clock::now() + microseconds(999));
  return left.count() > 0 ? left : milliseconds(0);
}

}  // namespace pgx::visa
