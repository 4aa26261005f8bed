#pragma once
// What a backend provides for one open session: message-based I/O with an instrument.

#include <chrono>

#include "visa/attributes.h"
#include "visa/visa.h"

namespace pgx::visa {

// The I/O attributes of the session at the time of the call.
struct IoSettings {
  ViUInt32 timeout_ms = 2000;  // VI_TMO_IMMEDIATE, VI_TMO_INFINITE or milliseconds
  bool termchar_enabled = false;
  ViByte termchar = '\n';
  bool send_end = true;
  bool suppress_end = false;
  ViUInt16 io_protocol = VI_PROT_NORMAL;

  static IoSettings from(const AttributeSet& attributes);
};

// A deadline from a VISA time-out value.
class Deadline {
 public:
  explicit Deadline(ViUInt32 timeout_ms);
  bool infinite() const { return infinite_; }
  bool expired() const;
  // Time left (zero when expired; a day when infinite).
  std::chrono::milliseconds remaining() const;

 private:
  bool infinite_;
  std::chrono::steady_clock::time_point end_;
};

class Connection {
 public:
  virtual ~Connection() = default;
  // Both report in `count` how many bytes moved, also when they fail.
  virtual ViStatus write(const ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) = 0;
  virtual ViStatus read(ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) = 0;
  virtual ViStatus clear(const IoSettings& io) = 0;
  virtual ViStatus read_stb(ViUInt16& status, const IoSettings& io) = 0;
};

}  // namespace pgx::visa
