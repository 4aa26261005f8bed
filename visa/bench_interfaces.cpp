#include "visa/bench_interfaces.h"

#include "visa/events.h"

namespace pgx::visa {
namespace {

constexpr unsigned kNoSecondary = 31;

unsigned address_of(unsigned primary, unsigned secondary) {
  return primary * 32 + secondary;
}

// GPIB interface messages sent with ATN (IEEE 488.1 multiline messages).
constexpr ViByte kGtl = 0x01, kSdc = 0x04, kGet = 0x08, kTct = 0x09, kLlo = 0x11, kDcl = 0x14;
constexpr ViByte kListen = 0x20, kUnlisten = 0x3F, kTalk = 0x40, kUntalk = 0x5F, kSecondary = 0x60;

// The trigger lines of a VXI backplane: TTL0-7 and ECL0-1 (bits 0-9 of VI_ATTR_VXI_TRIG_STATUS), and the
// front panel's connectors for mapping.
bool backplane_line(ViInt16 line) {
  return (line >= VI_TRIG_TTL0 && line <= VI_TRIG_TTL7) || line == VI_TRIG_ECL0 || line == VI_TRIG_ECL1;
}
bool mappable(ViInt16 line) {
  return backplane_line(line) || line == VI_TRIG_PANEL_IN || line == VI_TRIG_PANEL_OUT;
}
// Any trigger id VISA defines (the star lines and the rest of ECL and TTL included).
bool known_trigger_id(ViInt16 line) {
  return line >= VI_TRIG_TTL0 && line <= 35;
}

}  // namespace

// ---- GPIB board
// --------------------------------------------------------------------------------------------

GpibInterfaceConnection::GpibInterfaceConnection(std::shared_ptr<GpibBoard> board)
    : board_(std::move(board)) {}

void GpibInterfaceConnection::attach(std::shared_ptr<EventHub> events) {
  board_->listen(events);
}

BenchConnection* GpibInterfaceConnection::instrument_at(unsigned address) {
  auto& connection = connections_[address];
  if (!connection) {
    unsigned secondary = address % 32;
    auto instrument =
        board_->at(static_cast<ViUInt16>(address / 32),
                   secondary == kNoSecondary ? ViUInt16{VI_NO_SEC_ADDR} : static_cast<ViUInt16>(secondary));
    if (!instrument) {
      connections_.erase(address);
      return nullptr;
    }
    connection = std::make_unique<BenchConnection>(std::move(instrument), nullptr);
  }
  return connection.get();
}

template <typename Action>
void GpibInterfaceConnection::for_listeners(Action&& action) {
  for (unsigned address : listeners_)
    if (BenchConnection* listener = instrument_at(address)) listener->instrument().with_device(action);
}

ViStatus GpibInterfaceConnection::write(const ViByte* buf, ViUInt32 size, ViUInt32& count,
                                        const IoSettings& io) {
  count = 0;
  if (!board_->controller_in_charge()) return VI_ERROR_NCIC;
  ViStatus status = VI_ERROR_NLISTENERS;
  for (unsigned address : listeners_) {
    BenchConnection* listener = instrument_at(address);
    if (!listener) continue;
    status = listener->write(buf, size, count, io);
    if (status < VI_SUCCESS) return status;
  }
  return status;
}

ViStatus GpibInterfaceConnection::read(ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) {
  count = 0;
  if (!board_->controller_in_charge()) return VI_ERROR_NCIC;
  BenchConnection* talker = talker_ < 0 ? nullptr : instrument_at(static_cast<unsigned>(talker_));
  if (!talker) return VI_ERROR_TMO;  // nobody is addressed to talk
  return talker->read(buf, size, count, io);
}

ViStatus GpibInterfaceConnection::clear(const IoSettings&) {
  if (!board_->controller_in_charge()) return VI_ERROR_NCIC;
  for (const auto& instrument : board_->instruments())
    instrument->with_device([](sim::Device& device) { device.device_clear(); });
  return VI_SUCCESS;
}

ViStatus GpibInterfaceConnection::read_stb(ViUInt16&, const IoSettings&) {
  return VI_ERROR_NSUP_OPER;
}

void GpibInterfaceConnection::refresh(AttributeSet& attributes) {
  auto state = [](bool asserted) {
    return static_cast<ViAttrState>(asserted ? VI_STATE_ASSERTED : VI_STATE_UNASSERTED);
  };
  attributes.update(VI_ATTR_GPIB_REN_STATE, state(board_->remote_enabled()));
  attributes.update(VI_ATTR_GPIB_ATN_STATE, state(board_->attention()));
  attributes.update(VI_ATTR_GPIB_SRQ_STATE, state(board_->service_requested()));
  attributes.update(VI_ATTR_GPIB_CIC_STATE, board_->controller_in_charge() ? VI_TRUE : VI_FALSE);
}

ViStatus GpibInterfaceConnection::assert_trigger(ViUInt16 protocol, ViInt16 trigger_id, const IoSettings&) {
  if (trigger_id != VI_TRIG_SW) return VI_ERROR_INV_SETUP;
  if (protocol != VI_TRIG_PROT_DEFAULT) return VI_ERROR_INV_PROT;
  if (!board_->controller_in_charge()) return VI_ERROR_NCIC;
  if (listeners_.empty()) return VI_ERROR_NLISTENERS;
  for_listeners([](sim::Device& device) { device.group_execute_trigger(); });
  return VI_SUCCESS;
}

ViStatus GpibInterfaceConnection::gpib_control_ren(ViUInt16 mode) {
  switch (mode) {
    case VI_GPIB_REN_DEASSERT:
    case VI_GPIB_REN_DEASSERT_GTL:
      board_->set_remote_enable(false);
      return VI_SUCCESS;
    case VI_GPIB_REN_ASSERT:
      board_->set_remote_enable(true);
      return VI_SUCCESS;
    case VI_GPIB_REN_ASSERT_LLO:
      if (!board_->controller_in_charge()) return VI_ERROR_NCIC;
      board_->set_remote_enable(true);
      for (const auto& instrument : board_->instruments())
        instrument->with_device([](sim::Device& device) { device.remote_local().local_lockout(); });
      return VI_SUCCESS;
    default:  // the modes that address one instrument belong to its INSTR session
      return VI_ERROR_INV_MODE;
  }
}

ViStatus GpibInterfaceConnection::gpib_control_atn(ViUInt16 mode) {
  if (mode > VI_GPIB_ATN_ASSERT_IMMEDIATE) return VI_ERROR_INV_MODE;
  if (!board_->controller_in_charge()) return VI_ERROR_NCIC;
  board_->set_attention(mode == VI_GPIB_ATN_ASSERT || mode == VI_GPIB_ATN_ASSERT_IMMEDIATE);
  return VI_SUCCESS;
}

ViStatus GpibInterfaceConnection::gpib_send_ifc() {
  // The system controller clears the interface and takes control back.
  listeners_.clear();
  talker_ = -1;
  last_primary_ = -1;
  board_->set_attention(false);
  board_->set_controller_in_charge(true);
  return VI_SUCCESS;
}

ViStatus GpibInterfaceConnection::gpib_command(const ViByte* bytes, ViUInt32 size, ViUInt32& count) {
  count = 0;
  if (!board_->controller_in_charge()) return VI_ERROR_NCIC;
  for (; count < size; ++count) {
    const ViByte command = bytes[count] & 0x7F;  // the eighth bit carries no meaning (parity)
    if (command == kUnlisten) {
      listeners_.clear();
    } else if (command == kUntalk) {
      talker_ = -1;
    } else if (command >= kListen && command < kUnlisten) {
      last_primary_ = command - kListen;
      last_was_talk_ = false;
      listeners_.insert(address_of(static_cast<unsigned>(last_primary_), kNoSecondary));
    } else if (command >= kTalk && command < kUntalk) {
      last_primary_ = command - kTalk;
      last_was_talk_ = true;
      talker_ = static_cast<int>(address_of(static_cast<unsigned>(last_primary_), kNoSecondary));
    } else if (command >= kSecondary && command < 0x7F && last_primary_ >= 0) {
      // A secondary address completes the last talk or listen address.
      unsigned addressed = address_of(static_cast<unsigned>(last_primary_), command - kSecondary);
      if (last_was_talk_) {
        talker_ = static_cast<int>(addressed);
      } else {
        listeners_.erase(address_of(static_cast<unsigned>(last_primary_), kNoSecondary));
        listeners_.insert(addressed);
      }
    } else if (command == kGet) {
      for_listeners([](sim::Device& device) { device.group_execute_trigger(); });
    } else if (command == kSdc) {
      for_listeners([](sim::Device& device) { device.device_clear(); });
    } else if (command == kGtl) {
      for_listeners([](sim::Device& device) { device.remote_local().go_to_local(); });
    } else if (command == kDcl || command == kLlo) {
      for (const auto& instrument : board_->instruments()) {
        instrument->with_device([&](sim::Device& device) {
          if (command == kDcl) {
            device.device_clear();
          } else {
            device.remote_local().local_lockout();
          }
        });
      }
    } else if (command == kTct) {
      if (talker_ >= 0 && instrument_at(static_cast<unsigned>(talker_)))
        board_->set_controller_in_charge(false);
    }
    // Addressed to listen with REN asserted, an instrument goes remote.
    if (command >= kListen && command < kUnlisten) {
      if (BenchConnection* listener =
              instrument_at(address_of(static_cast<unsigned>(last_primary_), kNoSecondary)))
        listener->instrument().with_device(
            [](sim::Device& device) { device.remote_local().addressed_to_listen(); });
    } else if (command >= kSecondary && command < 0x7F && !last_was_talk_ && last_primary_ >= 0) {
      if (BenchConnection* listener =
              instrument_at(address_of(static_cast<unsigned>(last_primary_), command - kSecondary)))
        listener->instrument().with_device(
            [](sim::Device& device) { device.remote_local().addressed_to_listen(); });
    }
  }
  return VI_SUCCESS;
}

ViStatus GpibInterfaceConnection::gpib_pass_control(ViUInt16 primary, ViUInt16 secondary) {
  if (primary > 30 || (secondary != VI_NO_SEC_ADDR && secondary > 30)) return VI_ERROR_INV_PARAMETER;
  if (!board_->controller_in_charge()) return VI_ERROR_NCIC;
  if (!board_->at(primary, secondary)) return VI_ERROR_NLISTENERS;  // nobody there to take control
  board_->set_controller_in_charge(false);
  return VI_SUCCESS;
}

// ---- VXI backplane
// -------------------------------------------------------------------------------------------

void VxiBackplaneConnection::refresh(AttributeSet& attributes) {
  std::lock_guard lock(mainframe_->mutex);
  attributes.update(VI_ATTR_VXI_VME_SYSFAIL_STATE,
                    static_cast<ViAttrState>(mainframe_->sysfail ? VI_STATE_ASSERTED : VI_STATE_UNASSERTED));
  attributes.update(VI_ATTR_VXI_TRIG_STATUS, mainframe_->trigger_lines);
}

ViStatus VxiBackplaneConnection::assert_trigger(ViUInt16 protocol, ViInt16 trigger_id, const IoSettings&) {
  return assert_backplane_trigger(*mainframe_, protocol, trigger_id);
}

ViStatus VxiBackplaneConnection::assert_util_signal(ViUInt16 line) {
  switch (line) {
    case VI_UTIL_ASSERT_SYSRESET:
      // Every module goes through reset and starts afresh, as its control register's reset bit does.
      for (const auto& module : mainframe_->modules()) {
        module->with_device([](sim::Device& device) {
          device.write_register(0x04, sim::VxiRegisters::kReset);
          device.write_register(0x04, 0);
        });
      }
      return VI_SUCCESS;
    case VI_UTIL_ASSERT_SYSFAIL:
    case VI_UTIL_DEASSERT_SYSFAIL: {
      std::lock_guard lock(mainframe_->mutex);
      mainframe_->sysfail = line == VI_UTIL_ASSERT_SYSFAIL;
      return VI_SUCCESS;
    }
    default:
      return VI_ERROR_INV_LINE;
  }
}

ViStatus VxiBackplaneConnection::map_trigger(ViInt16 source, ViInt16 destination, ViUInt16 mode) {
  if (mode != VI_NULL) return VI_ERROR_INV_MODE;
  if (!known_trigger_id(source) || !known_trigger_id(destination) || source == destination)
    return VI_ERROR_INV_LINE;
  if (!mappable(source) || !mappable(destination)) return VI_ERROR_NSUP_LINE;
  std::lock_guard lock(mainframe_->mutex);
  return mainframe_->mapped.insert({source, destination}).second ? VI_SUCCESS : VI_SUCCESS_TRIG_MAPPED;
}

ViStatus VxiBackplaneConnection::unmap_trigger(ViInt16 source, ViInt16 destination) {
  if (!known_trigger_id(source) || (destination != VI_TRIG_ALL && !known_trigger_id(destination)))
    return VI_ERROR_INV_LINE;
  std::lock_guard lock(mainframe_->mutex);
  std::size_t removed = 0;
  for (auto it = mainframe_->mapped.begin(); it != mainframe_->mapped.end();) {
    if (it->first == source && (destination == VI_TRIG_ALL || it->second == destination)) {
      it = mainframe_->mapped.erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  return removed ? VI_SUCCESS : VI_ERROR_TRIG_NMAPPED;
}

ViStatus assert_backplane_trigger(VxiMainframe& mainframe, ViUInt16 protocol, ViInt16 line) {
  if (!backplane_line(line)) return VI_ERROR_INV_SETUP;  // VI_ATTR_TRIG_ID names no line of the backplane
  const auto bit = static_cast<ViUInt16>(1u << (line <= VI_TRIG_TTL7 ? line : 8 + (line - VI_TRIG_ECL0)));
  std::lock_guard lock(mainframe.mutex);
  switch (protocol) {
    case VI_TRIG_PROT_DEFAULT:
    case VI_TRIG_PROT_SYNC:  // a pulse: asserted and released again
    case VI_TRIG_PROT_RESERVE:
    case VI_TRIG_PROT_UNRESERVE:
      return VI_SUCCESS;
    case VI_TRIG_PROT_ON:
      mainframe.trigger_lines |= bit;
      return VI_SUCCESS;
    case VI_TRIG_PROT_OFF:
      mainframe.trigger_lines &= static_cast<ViUInt16>(~bit);
      return VI_SUCCESS;
    default:
      return VI_ERROR_INV_PROT;
  }
}

// ---- VXI address spaces
// ---------------------------------------------------------------------------------------

ViBusSize VxiMemoryConnection::register_space_size(ViUInt16 space) const {
  switch (space) {
    case VI_A16_SPACE:
      return ViBusSize{1} << 16;
    case VI_A24_SPACE:
      return ViBusSize{1} << 24;
    case VI_A32_SPACE:
      return ViBusSize{1} << 32;
    default:
      return 0;
  }
}

std::shared_ptr<BenchInstrument> VxiMemoryConnection::module_at(ViUInt16 space, ViBusAddress64 offset,
                                                                ViBusAddress64& within) const {
  constexpr ViBusAddress64 kConfigurationArea = 0xC000;
  if (space != VI_A16_SPACE || offset < kConfigurationArea) return nullptr;
  within = offset % sim::VxiRegisters::kSize;
  return mainframe_->at(static_cast<ViInt16>((offset - kConfigurationArea) / sim::VxiRegisters::kSize));
}

ViStatus VxiMemoryConnection::register_read(ViUInt16 space, ViBusAddress64 offset, unsigned width,
                                            ViUInt64& value) {
  ViBusSize size = register_space_size(space);
  if (size == 0) return VI_ERROR_INV_SPACE;
  if (offset >= size || width > size - offset) return VI_ERROR_INV_OFFSET;
  if (offset % width != 0) return VI_ERROR_NSUP_ALIGN_OFFSET;
  ViBusAddress64 within = 0;
  auto module = module_at(space, offset, within);
  if (!module) return VI_ERROR_BERR;  // nothing answers at that address
  return read_module_registers(*module, within, width, value);
}

ViStatus VxiMemoryConnection::register_write(ViUInt16 space, ViBusAddress64 offset, unsigned width,
                                             ViUInt64 value) {
  ViBusSize size = register_space_size(space);
  if (size == 0) return VI_ERROR_INV_SPACE;
  if (offset >= size || width > size - offset) return VI_ERROR_INV_OFFSET;
  if (offset % width != 0) return VI_ERROR_NSUP_ALIGN_OFFSET;
  ViBusAddress64 within = 0;
  auto module = module_at(space, offset, within);
  if (!module) return VI_ERROR_BERR;
  return write_module_registers(*module, within, width, value);
}

}  // namespace pgx::visa
