#pragma once
// The seam between a bus and a simulated instrument.
//
// A bus is whatever carries bytes to and from an instrument: the VISA layer's built-in bench (in process)
// or pgxsim's TCP server. It creates a Device from a DeviceConfig, feeds it the bytes the controller
// writes and hands back the bytes the instrument answers. Everything else (SCPI parsing, instrument state,
// status registers, fault behaviour) lives behind this interface.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/remote_local.h"
#include "sim/vxi_registers.h"

namespace pgx::sim {

// Faults a test (or a bench file) can inject into one instrument.
struct FaultConfig {
  // Query header exactly as the controller sends it (e.g. "*OPT?") -> the reply text sent instead of the
  // real answer (without terminator; the device appends LF).
  std::map<std::string, std::string> scripted_replies;
  // Errors pushed on the error queue when the device is created: (code, text).
  std::vector<std::pair<int, std::string>> queued_errors;
  // Every reply becomes readable only this long after the query was received.
  std::chrono::milliseconds reply_delay{0};
  // Bytes that are sent in place of the next reply (then the fault is spent).
  std::string garbage_reply;
  // The connection drops after this many program messages have been received (negative: never).
  int drop_after_messages = -1;
  // *TST? answers this bit mask of failed boards (0: self-test passes).
  int self_test_result = 0;
  // Calibration (*CAL?, :CALibration:ALL?) reports a failure.
  bool calibration_fails = false;
};

struct DeviceConfig {
  // "pulse-generator" for the family; any other kind is an instrument that is not one of ours
  // (it answers *IDN? as its own kind and knows only the IEEE 488.2 common commands).
  std::string kind = "pulse-generator";
  // Mainframe model; empty picks the family's default for the front-ends (benchtop or VXI).
  std::string model;
  // Installed output front-ends, slot 1 first, e.g. {"M4030A", "M4040A"} or {"Q510A"}.
  std::vector<std::string> front_ends;
  std::string serial;
  std::string firmware;
  FaultConfig faults;
  // A program message longer than this is discarded with -363 "Input buffer overrun".
  std::size_t max_message_bytes = 4u << 20;
  // Responses a controller has not read yet are kept up to this many bytes (at least 1 KiB). A message
  // that arrives while this much is unread discards it with -410 "Query INTERRUPTED"; a message whose own
  // response grows beyond it answers nothing and gives -430 "Query DEADLOCKED".
  std::size_t max_output_bytes = 1u << 20;
  // Frequency of the signal at CLK IN that the clock-input measurements see (0: no signal).
  double clock_in_frequency = 10e6;
  // A VXI module: what its configuration registers report. None for an instrument on another bus.
  std::optional<VxiIdentity> vxi;
};

// One simulated instrument as seen from its bus. Not thread-safe: a bus serialises access to a device.
class Device {
 public:
  virtual ~Device() = default;

  // Bytes as they arrive from the controller, split or merged arbitrarily. Each complete program message
  // (terminated by LF, or CR LF) is executed as soon as its terminator arrives.
  virtual void write(std::string_view bytes) = 0;

  // The same in turns, for a bus that serves several controllers: receive() only takes the bytes, and the
  // complete messages wait; execute() then executes at most `max_units` of their message units and returns
  // true while more wait. Output becomes readable as each message finishes.
  virtual void receive(std::string_view bytes) = 0;
  virtual bool execute(std::size_t max_units) = 0;

  // Moves at most `max` bytes of pending output into `out` and returns how many were moved. `end` is set
  // when the last byte moved completes a response message (its LF). Returns 0 when nothing is readable yet.
  virtual std::size_t read(char* out, std::size_t max, bool& end) = 0;

  // True when output is pending (possibly not yet readable because of a reply delay).
  virtual bool output_pending() const = 0;

  // How long until pending output becomes readable (zero when it is readable now or none is pending).
  virtual std::chrono::milliseconds time_until_readable() const = 0;

  // True once the device has dropped its connection; later writes and reads do nothing.
  virtual bool connection_dropped() const = 0;

  // IEEE 488.2 device clear: discards unread input and output and resets the parser; settings stay.
  virtual void device_clear() = 0;

  // Serial poll: the status byte with the request for service (RQS) in bit 6; the poll clears RQS.
  virtual std::uint8_t serial_poll() = 0;

  // The service request of IEEE 488.2: the instrument asserts SRQ when a bit of its status byte that the
  // service request enable (*SRE) selects becomes true, and keeps it asserted until a serial poll.
  virtual bool requesting_service() const = 0;
  // How many times the instrument has begun to request service; a bus notices a new request by it.
  virtual std::uint64_t service_requests() const = 0;

  // Group Execute Trigger (GET), the bus trigger: the instrument treats it as a *TRG that arrives after
  // the messages already received. An instrument that *TRG does not trigger ignores it.
  virtual void group_execute_trigger() = 0;
  // How many triggers (*TRG or bus triggers) the instrument has taken.
  virtual std::uint64_t triggers_received() const = 0;

  // A VXI module's configuration registers (see VxiRegisters): a 16-bit register at an even offset below
  // 64. False, with nothing read or written, when the instrument is no VXI module or the offset lies
  // outside them. Releasing the Reset bit of the control register restarts the module: its settings
  // return to their reset values and its input, output and status are cleared.
  virtual bool read_register(std::uint32_t offset, std::uint16_t& value) = 0;
  virtual bool write_register(std::uint32_t offset, std::uint16_t value) = 0;

  // The remote/local state the bus keeps the instrument in (GPIB).
  virtual RemoteLocal& remote_local() = 0;

  // The faults currently in force; tests may change them while the device is in use.
  virtual FaultConfig& faults() = 0;
};

// Creates a simulated instrument. Throws std::invalid_argument naming what is wrong with the config
// (an unknown front-end model, more than two front-ends, ...).
std::unique_ptr<Device> make_device(const DeviceConfig& config);

}  // namespace pgx::sim
