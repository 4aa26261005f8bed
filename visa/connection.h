#pragma once
// What a backend provides for one open session: message-based I/O with an instrument.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include <vector>

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
  // Set by viTerminate for an asynchronous transfer: a read or write that sees it ends with VI_ERROR_ABORT.
  const std::atomic<bool>* abort = nullptr;

  static IoSettings from(const AttributeSet& attributes);
  bool aborted() const { return abort && abort->load(std::memory_order_relaxed); }
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

class EventHub;

// What a backend provides for one open session. Message-based I/O is what every session has; the other
// operations answer VI_ERROR_NSUP_OPER unless the resource has them.
class Connection {
 public:
  virtual ~Connection() = default;
  // Both report in `count` how many bytes moved, also when they fail.
  virtual ViStatus write(const ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) = 0;
  virtual ViStatus read(ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) = 0;
  virtual ViStatus clear(const IoSettings& io) = 0;
  virtual ViStatus read_stb(ViUInt16& status, const IoSettings& io) = 0;

  // The event types the session can have besides exceptions and I/O completions, and where they come
  // from: the connection raises them on `events` from then on (from any thread).
  virtual std::vector<ViEventType> event_types() const { return {}; }
  virtual void attach(std::shared_ptr<EventHub> events) { (void)events; }
  // Whether the instrument requests service now (SRQ asserted), for a session that begins to listen.
  virtual bool service_requested() { return false; }
  // Brings the attributes that follow the resource's state up to date (REN state, controller in charge).
  virtual void refresh(AttributeSet& attributes) { (void)attributes; }

  // A trigger: with VI_TRIG_SW, a bus trigger to the instrument (GPIB's GET, VXI's word serial Trigger,
  // "*TRG" over a socket that speaks IEEE 488.2); `trigger_id` is VI_ATTR_TRIG_ID.
  virtual ViStatus assert_trigger(ViUInt16 protocol, ViInt16 trigger_id, const IoSettings& io) {
    (void)protocol, (void)trigger_id, (void)io;
    return VI_ERROR_NSUP_OPER;
  }

  // GPIB (viGpibControlREN, ...).
  virtual ViStatus gpib_control_ren(ViUInt16 mode) {
    (void)mode;
    return VI_ERROR_NSUP_OPER;
  }
  virtual ViStatus gpib_control_atn(ViUInt16 mode) {
    (void)mode;
    return VI_ERROR_NSUP_OPER;
  }
  virtual ViStatus gpib_send_ifc() { return VI_ERROR_NSUP_OPER; }
  virtual ViStatus gpib_command(const ViByte* bytes, ViUInt32 size, ViUInt32& count) {
    (void)bytes, (void)size;
    count = 0;
    return VI_ERROR_NSUP_OPER;
  }
  virtual ViStatus gpib_pass_control(ViUInt16 primary, ViUInt16 secondary) {
    (void)primary, (void)secondary;
    return VI_ERROR_NSUP_OPER;
  }

  // Register access: `width` bytes (1, 2, 4 or 8) at `offset` in `space`, the value in the bus's order
  // turned into a number. The offset is relative to the session's window on the space: an instrument's
  // registers for INSTR, the whole space for MEMACC.
  virtual ViStatus register_read(ViUInt16 space, ViBusAddress64 offset, unsigned width, ViUInt64& value) {
    (void)space, (void)offset, (void)width, (void)value;
    return VI_ERROR_NSUP_OPER;
  }
  virtual ViStatus register_write(ViUInt16 space, ViBusAddress64 offset, unsigned width, ViUInt64 value) {
    (void)space, (void)offset, (void)width, (void)value;
    return VI_ERROR_NSUP_OPER;
  }
  // The size of the window of `space` that register access may reach (0: the session has no such space).
  virtual ViBusSize register_space_size(ViUInt16 space) const {
    (void)space;
    return 0;
  }

  // VXI.
  virtual ViStatus vxi_command_query(ViUInt16 mode, ViUInt32 command, ViUInt32& response) {
    (void)mode, (void)command, (void)response;
    return VI_ERROR_NSUP_OPER;
  }
  virtual ViStatus assert_util_signal(ViUInt16 line) {
    (void)line;
    return VI_ERROR_NSUP_OPER;
  }
  virtual ViStatus map_trigger(ViInt16 source, ViInt16 destination, ViUInt16 mode) {
    (void)source, (void)destination, (void)mode;
    return VI_ERROR_NSUP_OPER;
  }
  virtual ViStatus unmap_trigger(ViInt16 source, ViInt16 destination) {
    (void)source, (void)destination;
    return VI_ERROR_NSUP_OPER;
  }
};

}  // namespace pgx::visa
