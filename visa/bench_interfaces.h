#pragma once
// The bench's interface resources: a GPIB board itself (GPIBn::INTFC), a VXI mainframe's backplane
// (VXIn::0::BACKPLANE) and its A16 address space (VXIn::MEMACC).

#include <map>
#include <memory>

#include "visa/bench.h"

namespace pgx::visa {

// A session on a GPIB board: bus commands (viGpibCommand: addressing, GET, SDC, DCL, GTL, LLO), REN, ATN
// and IFC, passing control, and data to the instruments addressed to listen or from the one addressed to
// talk.
class GpibInterfaceConnection : public Connection {
 public:
  explicit GpibInterfaceConnection(std::shared_ptr<GpibBoard> board);
  ViStatus write(const ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) override;
  ViStatus read(ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) override;
  ViStatus clear(const IoSettings& io) override;  // Device Clear (DCL) to every instrument
  ViStatus read_stb(ViUInt16& status, const IoSettings& io) override;

  std::vector<ViEventType> event_types() const override { return {VI_EVENT_SERVICE_REQ, VI_EVENT_GPIB_CIC}; }
  void attach(std::shared_ptr<EventHub> events) override;
  bool service_requested() override { return board_->service_requested(); }
  void refresh(AttributeSet& attributes) override;

  ViStatus assert_trigger(ViUInt16 protocol, ViInt16 trigger_id, const IoSettings& io) override;
  ViStatus gpib_control_ren(ViUInt16 mode) override;
  ViStatus gpib_control_atn(ViUInt16 mode) override;
  ViStatus gpib_send_ifc() override;
  ViStatus gpib_command(const ViByte* bytes, ViUInt32 size, ViUInt32& count) override;
  ViStatus gpib_pass_control(ViUInt16 primary, ViUInt16 secondary) override;

 private:
  // The session's connection to the instrument at an address (made on first use).
  BenchConnection* instrument_at(unsigned address);
  // Runs `action` on the device of every instrument addressed to listen.
  template <typename Action>
  void for_listeners(Action&& action);

  std::shared_ptr<GpibBoard> board_;
  // Addresses as primary * 32 + secondary (secondary 31 stands for none).
  std::set<unsigned> listeners_;
  int talker_ = -1;
  int last_primary_ = -1;  // the primary address of the last talk or listen address, for a secondary one
  bool last_was_talk_ = false;
  std::map<unsigned, std::unique_ptr<BenchConnection>> connections_;
};

// A session on a resource without message-based I/O: reads, writes, clears and status bytes are not
// supported.
class NonMessageConnection : public Connection {
 public:
  ViStatus write(const ViByte*, ViUInt32, ViUInt32& count, const IoSettings&) override {
    count = 0;
    return VI_ERROR_NSUP_OPER;
  }
  ViStatus read(ViByte*, ViUInt32, ViUInt32& count, const IoSettings&) override {
    count = 0;
    return VI_ERROR_NSUP_OPER;
  }
  ViStatus clear(const IoSettings&) override { return VI_ERROR_NSUP_OPER; }
  ViStatus read_stb(ViUInt16&, const IoSettings&) override { return VI_ERROR_NSUP_OPER; }
};

// A session on a VXI mainframe's backplane: utility signals (SYSRESET, SYSFAIL) and trigger lines.
class VxiBackplaneConnection : public NonMessageConnection {
 public:
  explicit VxiBackplaneConnection(std::shared_ptr<VxiMainframe> mainframe)
      : mainframe_(std::move(mainframe)) {}
  void refresh(AttributeSet& attributes) override;

  ViStatus assert_trigger(ViUInt16 protocol, ViInt16 trigger_id, const IoSettings& io) override;
  ViStatus assert_util_signal(ViUInt16 line) override;
  ViStatus map_trigger(ViInt16 source, ViInt16 destination, ViUInt16 mode) override;
  ViStatus unmap_trigger(ViInt16 source, ViInt16 destination) override;

 private:
  std::shared_ptr<VxiMainframe> mainframe_;
};

// A session on the address spaces of a VXI mainframe: every module's configuration registers at
// 0xC000 + 64 * logical address in A16; anything else there, and all of A24 and A32, is a bus error.
class VxiMemoryConnection : public NonMessageConnection {
 public:
  explicit VxiMemoryConnection(std::shared_ptr<VxiMainframe> mainframe) : mainframe_(std::move(mainframe)) {}

  ViStatus register_read(ViUInt16 space, ViBusAddress64 offset, unsigned width, ViUInt64& value) override;
  ViStatus register_write(ViUInt16 space, ViBusAddress64 offset, unsigned width, ViUInt64 value) override;
  ViBusSize register_space_size(ViUInt16 space) const override;

 private:
  // The module whose registers hold A16 `offset`, and the offset within them; null for a bus error.
  std::shared_ptr<BenchInstrument> module_at(ViUInt16 space, ViBusAddress64 offset,
                                             ViBusAddress64& within) const;

  std::shared_ptr<VxiMainframe> mainframe_;
};

// Drives trigger line `line` (TTL0-7, ECL0-1) of a mainframe's backplane with `protocol`.
ViStatus assert_backplane_trigger(VxiMainframe& mainframe, ViUInt16 protocol, ViInt16 line);

}  // namespace pgx::visa
