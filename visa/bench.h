#pragma once
// The built-in simulated bench: live simulated instruments behind bench resource names, the GPIB boards
// and VXI mainframes they sit in, and the sessions' connections to them.
//
// Locks, in the order they are taken: a session's, a board's or mainframe's, an instrument's, an event
// hub's.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/device.h"
#include "visa/bench_config.h"
#include "visa/connection.h"

namespace pgx::visa {

class EventHub;
class GpibBoard;

// One instrument of the bench. Its state outlives the sessions that use it, as a real instrument's does.
class BenchInstrument {
 public:
  // `board`: the GPIB board it is on (null when it is not on GPIB).
  BenchInstrument(BenchResource resource, std::shared_ptr<GpibBoard> board);
  const BenchResource& resource() const { return resource_; }
  const std::shared_ptr<GpibBoard>& gpib_board() const { return board_; }

  // Reaches the instrument for a new session. A device that dropped its connection is replaced by a fresh
  // one (the instrument came back freshly started). Returns the connection the session uses.
  std::uint64_t connect();

  // Runs `action` (returning a status) on the device with exclusive access for a session on `connection`.
  // A connection that dropped stays lost for its sessions, also once a new session reached the instrument
  // again: they get VI_ERROR_CONN_LOST, as a TCP session would. A service request the action caused goes
  // to the sessions that listen for it.
  template <typename Action>
  ViStatus on_connection(std::uint64_t connection, Action&& action) {
    std::lock_guard lock(mutex_);
    if (!device_ || connection != connection_ || device_->connection_dropped()) return VI_ERROR_CONN_LOST;
    ViStatus status = action(*device_);
    notice_service_requests();
    return status;
  }

  // Runs `action` on the device with exclusive access, whatever its connection (for tests and the bus).
  template <typename Action>
  auto with_device(Action&& action) {
    std::lock_guard lock(mutex_);
    if (!device_) make_device();
    struct Notice {  // also after an action that returns a value
      BenchInstrument& instrument;
      ~Notice() { instrument.notice_service_requests(); }
    } notice{*this};
    return action(*device_);
  }

  // A session that wants the instrument's service requests (held weakly: a closed session drops out).
  void listen(const std::shared_ptr<EventHub>& events);
  // Whether the instrument asserts SRQ now.
  bool requesting_service();

 private:
  void make_device();              // with `mutex_` held
  void notice_service_requests();  // with `mutex_` held

  BenchResource resource_;
  std::shared_ptr<GpibBoard> board_;
  std::mutex mutex_;
  std::unique_ptr<sim::Device> device_;
  std::uint64_t connection_ = 0;  // counts the devices made: one per connection to the instrument
  std::uint64_t requests_seen_ = 0;
  std::vector<std::weak_ptr<EventHub>> listeners_;
};

// A GPIB board of the bench, the system controller of its bus: the REN, ATN and IFC lines it drives,
// whether it is controller in charge, and the instruments on the bus.
class GpibBoard {
 public:
  explicit GpibBoard(ViUInt16 number) : number_(number) {}
  ViUInt16 number() const { return number_; }

  void add(const std::shared_ptr<BenchInstrument>& instrument);  // while the bench is built
  // The instruments on the bus (held weakly: each holds its board).
  std::vector<std::shared_ptr<BenchInstrument>> instruments() const;
  // The instrument at an address (VI_NO_SEC_ADDR: none), or null.
  std::shared_ptr<BenchInstrument> at(ViUInt16 primary, ViUInt16 secondary) const;

  // REN: asserted from the start, as a VISA controller does; releasing it sends every instrument to local.
  bool remote_enabled() const { return ren_.load(); }
  void set_remote_enable(bool asserted);
  bool attention() const { return atn_.load(); }
  void set_attention(bool asserted) { atn_.store(asserted); }
  // Controller in charge: given away with viGpibPassControl, taken back with IFC.
  bool controller_in_charge() const { return cic_.load(); }
  void set_controller_in_charge(bool cic);
  // Whether an instrument asserts SRQ.
  bool service_requested() const;

  // Interface sessions that want the bus's service requests and changes of controller in charge.
  void listen(const std::shared_ptr<EventHub>& events);
  // An instrument on the bus began to request service (called with the instrument's lock held).
  void raise_service_request();

 private:
  void raise(ViEventType type, bool cic);

  const ViUInt16 number_;
  std::vector<std::weak_ptr<BenchInstrument>> instruments_;
  std::atomic<bool> ren_{true};
  std::atomic<bool> atn_{false};
  std::atomic<bool> cic_{true};
  std::mutex listeners_mutex_;  // taken last; guards only the list
  std::vector<std::weak_ptr<EventHub>> listeners_;
};

// A VXI mainframe of the bench (or the VXI side of a GPIB-VXI interface): the modules by logical address,
// the utility signals and the TTL and ECL trigger lines of its backplane.
class VxiMainframe {
 public:
  void add(const std::shared_ptr<BenchInstrument>& module) { modules_.push_back(module); }  // while built
  const std::vector<std::shared_ptr<BenchInstrument>>& modules() const { return modules_; }
  std::shared_ptr<BenchInstrument> at(ViInt16 logical_address) const;

  std::mutex mutex;  // guards the rest
  bool sysfail = false;
  ViUInt16 trigger_lines = 0;                    // asserted lines: TTL0-7 in bits 0-7, ECL0-1 in bits 8-9
  std::set<std::pair<ViInt16, ViInt16>> mapped;  // trigger line mappings (source, destination)

 private:
  std::vector<std::shared_ptr<BenchInstrument>> modules_;
};

class Bench {
 public:
  explicit Bench(BenchConfig config);
  const std::string& source() const { return source_; }
  // Canonical resource names in bench order: the instruments, then the interfaces, backplanes and memory
  // access resources that come with them.
  const std::vector<std::string>& names() const { return names_; }
  // The instrument behind a canonical name, or null.
  std::shared_ptr<BenchInstrument> find(const std::string& canonical_name) const;
  // The canonical name under which the bench offers the resource `name` means, in whichever spelling a
  // client wrote it (see ResourceName::other_spellings); empty when the bench does not offer it.
  std::string offered_name(const ResourceName& name) const;
  // The resource name an alias stands for (an alias is found whatever its case), or empty.
  std::string unaliased(std::string_view alias) const;
  // The alias of a resource by its canonical name, or empty.
  std::string alias_of(const std::string& canonical_name) const;
  // A connection to a resource the bench offers, by its canonical name.
  std::unique_ptr<Connection> connect(const std::string& canonical_name) const;

  std::shared_ptr<GpibBoard> gpib_board(ViUInt16 number) const;
  std::shared_ptr<VxiMainframe> vxi_mainframe(ViUInt16 interface_type, ViUInt16 board) const;

 private:
  std::string source_;
  std::vector<std::string> names_;
  std::map<std::string, std::shared_ptr<BenchInstrument>> instruments_;
  std::set<std::string> interfaces_;            // INTFC, BACKPLANE and MEMACC resources
  std::map<std::string, std::string> aliases_;  // alias in lower case -> canonical name
  std::map<ViUInt16, std::shared_ptr<GpibBoard>> gpib_boards_;
  std::map<std::pair<ViUInt16, ViUInt16>, std::shared_ptr<VxiMainframe>> mainframes_;
};

// A session's connection to a bench instrument: message exchange with END on the last byte, as on GPIB;
// service requests, triggers, remote/local control on GPIB and the configuration registers of a VXI
// module.
class BenchConnection : public Connection {
 public:
  BenchConnection(std::shared_ptr<BenchInstrument> instrument, std::shared_ptr<VxiMainframe> mainframe);
  ViStatus write(const ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) override;
  ViStatus read(ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) override;
  ViStatus clear(const IoSettings& io) override;
  ViStatus read_stb(ViUInt16& status, const IoSettings& io) override;

  std::vector<ViEventType> event_types() const override { return {VI_EVENT_SERVICE_REQ}; }
  void attach(std::shared_ptr<EventHub> events) override;
  bool service_requested() override { return instrument_->requesting_service(); }
  void refresh(AttributeSet& attributes) override;

  ViStatus assert_trigger(ViUInt16 protocol, ViInt16 trigger_id, const IoSettings& io) override;
  ViStatus gpib_control_ren(ViUInt16 mode) override;
  ViStatus register_read(ViUInt16 space, ViBusAddress64 offset, unsigned width, ViUInt64& value) override;
  ViStatus register_write(ViUInt16 space, ViBusAddress64 offset, unsigned width, ViUInt64 value) override;
  ViBusSize register_space_size(ViUInt16 space) const override;
  ViStatus vxi_command_query(ViUInt16 mode, ViUInt32 command, ViUInt32& response) override;

  BenchInstrument& instrument() { return *instrument_; }

 private:
  // VI_ERROR_NCIC when the instrument is on a GPIB bus whose board gave control away.
  ViStatus bus_available() const;

  std::shared_ptr<BenchInstrument> instrument_;
  std::shared_ptr<VxiMainframe> mainframe_;  // null unless a VXI module
  std::uint64_t connection_;
  // Bytes already taken from the device but not yet returned (after a termination character).
  std::string carry_;
  bool carry_ends_message_ = false;
};

// Reads and writes the 16-bit configuration registers of a VXI module as `width` bytes at `offset`, big
// endian as VXI is: VI_ERROR_INV_OFFSET beyond the 64 bytes, VI_ERROR_NSUP_ALIGN_OFFSET when not aligned
// to the width.
ViStatus read_module_registers(BenchInstrument& module, ViBusAddress64 offset, unsigned width,
                               ViUInt64& value);
ViStatus write_module_registers(BenchInstrument& module, ViBusAddress64 offset, unsigned width,
                                ViUInt64 value);

}  // namespace pgx::visa
