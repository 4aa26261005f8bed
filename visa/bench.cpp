#include "visa/bench.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <thread>

#include "visa/bench_interfaces.h"
#include "visa/events.h"

namespace pgx::visa {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool is_vxi(ViUInt16 interface_type) {
  return interface_type == VI_INTF_VXI || interface_type == VI_INTF_GPIB_VXI;
}

// Raises `event` on every hub still alive in `listeners` and forgets the ones that are gone.
void raise_on(std::vector<std::weak_ptr<EventHub>>& listeners,
              const std::shared_ptr<const EventData>& event) {
  for (auto it = listeners.begin(); it != listeners.end();) {
    if (auto hub = it->lock()) {
      hub->raise(event);
      ++it;
    } else {
      it = listeners.erase(it);
    }
  }
}

// Between polls of an instrument that has nothing to answer yet; short, so that viTerminate is prompt.
constexpr std::chrono::milliseconds kPollInterval{2};
constexpr std::chrono::milliseconds kLongestSleep{20};

}  // namespace

// ---- Instruments ---------------------------------------------------------------------------------------

BenchInstrument::BenchInstrument(BenchResource resource, std::shared_ptr<GpibBoard> board)
    : resource_(std::move(resource)), board_(std::move(board)) {}

void BenchInstrument::make_device() {
  device_ = sim::make_device(resource_.device);
  ++connection_;
  requests_seen_ = 0;
  if (board_) device_->remote_local().remote_enable(board_->remote_enabled());
}

std::uint64_t BenchInstrument::connect() {
  std::lock_guard lock(mutex_);
  if (!device_ || device_->connection_dropped()) make_device();
  return connection_;
}

void BenchInstrument::listen(const std::shared_ptr<EventHub>& events) {
  std::lock_guard lock(mutex_);
  listeners_.push_back(events);
}

bool BenchInstrument::requesting_service() {
  std::lock_guard lock(mutex_);
  return device_ && !device_->connection_dropped() && device_->requesting_service();
}

void BenchInstrument::notice_service_requests() {
  if (!device_) return;
  const std::uint64_t requests = device_->service_requests();
  if (requests == requests_seen_) return;
  requests_seen_ = requests;
  static const auto kServiceRequest = std::make_shared<const EventData>(VI_EVENT_SERVICE_REQ);
  raise_on(listeners_, kServiceRequest);
  if (board_) board_->raise_service_request();
}

// ---- GPIB boards and VXI mainframes ----------------------------------------------------------------------

void GpibBoard::add(const std::shared_ptr<BenchInstrument>& instrument) {
  instruments_.push_back(instrument);
}

std::vector<std::shared_ptr<BenchInstrument>> GpibBoard::instruments() const {
  std::vector<std::shared_ptr<BenchInstrument>> alive;
  for (const auto& instrument : instruments_)
    if (auto held = instrument.lock()) alive.push_back(std::move(held));
  return alive;
}

std::shared_ptr<BenchInstrument> GpibBoard::at(ViUInt16 primary, ViUInt16 secondary) const {
  for (const auto& instrument : instruments()) {
    const ResourceName& name = instrument->resource().name;
    if (name.primary_address == primary && name.secondary_address == secondary) return instrument;
  }
  return nullptr;
}

void GpibBoard::set_remote_enable(bool asserted) {
  ren_.store(asserted);
  for (const auto& instrument : instruments())
    instrument->with_device([&](sim::Device& device) { device.remote_local().remote_enable(asserted); });
}

void GpibBoard::set_controller_in_charge(bool cic) {
  if (cic_.exchange(cic) != cic) raise(VI_EVENT_GPIB_CIC, cic);
}

bool GpibBoard::service_requested() const {
  auto all = instruments();
  return std::any_of(all.begin(), all.end(),
                     [](const auto& instrument) { return instrument->requesting_service(); });
}

void GpibBoard::listen(const std::shared_ptr<EventHub>& events) {
  std::lock_guard lock(listeners_mutex_);
  listeners_.push_back(events);
}

void GpibBoard::raise_service_request() {
  raise(VI_EVENT_SERVICE_REQ, false);
}

void GpibBoard::raise(ViEventType type, bool cic) {
  auto event = std::make_shared<EventData>(type);
  if (type == VI_EVENT_GPIB_CIC) event->attributes.add(VI_ATTR_GPIB_RECV_CIC_STATE, AttrType::kBoolean, cic);
  std::lock_guard lock(listeners_mutex_);
  raise_on(listeners_, event);
}

std::shared_ptr<BenchInstrument> VxiMainframe::at(ViInt16 logical_address) const {
  for (const auto& module : modules_)
    if (module->resource().name.logical_address == logical_address) return module;
  return nullptr;
}

// ---- The bench -------------------------------------------------------------------------------------------

Bench::Bench(BenchConfig config) : source_(std::move(config.source)) {
  std::set<std::string> interface_names;
  for (auto& resource : config.resources) {
    const ResourceName& name = resource.name;
    std::string canonical = name.canonical();
    names_.push_back(canonical);
    if (!resource.alias.empty()) aliases_.emplace(lower(resource.alias), canonical);
    std::shared_ptr<GpibBoard> board;
    if (name.interface_type == VI_INTF_GPIB) {
      auto& slot = gpib_boards_[name.board];
      if (!slot) slot = std::make_shared<GpibBoard>(name.board);
      board = slot;
      interface_names.insert("GPIB" + std::to_string(name.board) + "::INTFC");
    }
    auto instrument = std::make_shared<BenchInstrument>(std::move(resource), board);
    if (board) board->add(instrument);
    if (is_vxi(name.interface_type)) {
      auto& mainframe = mainframes_[{name.interface_type, name.board}];
      if (!mainframe) mainframe = std::make_shared<VxiMainframe>();
      mainframe->add(instrument);
      interface_names.insert(name.interface_name() + "::0::BACKPLANE");
      interface_names.insert(name.interface_name() + "::MEMACC");
    }
    instruments_.emplace(std::move(canonical), std::move(instrument));
  }
  for (const auto& name : interface_names) names_.push_back(name);
  interfaces_ = std::move(interface_names);
}

std::shared_ptr<BenchInstrument> Bench::find(const std::string& canonical_name) const {
  auto it = instruments_.find(canonical_name);
  return it == instruments_.end() ? nullptr : it->second;
}

std::string Bench::offered_name(const ResourceName& name) const {
  std::string canonical = name.canonical();
  if (instruments_.count(canonical) || interfaces_.count(canonical)) return canonical;
  for (std::string& other : name.other_spellings())
    if (instruments_.count(other)) return other;
  return {};
}

std::string Bench::unaliased(std::string_view alias) const {
  auto it = aliases_.find(lower(alias));
  return it == aliases_.end() ? std::string() : it->second;
}

std::string Bench::alias_of(const std::string& canonical_name) const {
  auto it = instruments_.find(canonical_name);
  return it == instruments_.end() ? std::string() : it->second->resource().alias;
}

std::shared_ptr<GpibBoard> Bench::gpib_board(ViUInt16 number) const {
  auto it = gpib_boards_.find(number);
  return it == gpib_boards_.end() ? nullptr : it->second;
}

std::shared_ptr<VxiMainframe> Bench::vxi_mainframe(ViUInt16 interface_type, ViUInt16 board) const {
  auto it = mainframes_.find({interface_type, board});
  return it == mainframes_.end() ? nullptr : it->second;
}

std::unique_ptr<Connection> Bench::connect(const std::string& canonical_name) const {
  if (auto instrument = find(canonical_name)) {
    const ResourceName& name = instrument->resource().name;
    auto mainframe = is_vxi(name.interface_type) ? vxi_mainframe(name.interface_type, name.board) : nullptr;
    return std::make_unique<BenchConnection>(std::move(instrument), std::move(mainframe));
  }
  auto name = parse_resource_name(canonical_name);
  if (!name || !interfaces_.count(canonical_name)) return nullptr;
  if (name->resource_class == "INTFC")
    return std::make_unique<GpibInterfaceConnection>(gpib_board(name->board));
  auto mainframe = vxi_mainframe(name->interface_type, name->board);
  if (name->resource_class == "BACKPLANE")
    return std::make_unique<VxiBackplaneConnection>(std::move(mainframe));
  return std::make_unique<VxiMemoryConnection>(std::move(mainframe));
}

// ---- A session's connection to an instrument
// ---------------------------------------------------------------

BenchConnection::BenchConnection(std::shared_ptr<BenchInstrument> instrument,
                                 std::shared_ptr<VxiMainframe> mainframe)
    : instrument_(std::move(instrument)),
      mainframe_(std::move(mainframe)),
      connection_(instrument_->connect()) {}

ViStatus BenchConnection::bus_available() const {
  const auto& board = instrument_->gpib_board();
  return board && !board->controller_in_charge() ? VI_ERROR_NCIC : VI_SUCCESS;
}

ViStatus BenchConnection::write(const ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) {
  count = 0;
  if (ViStatus bus = bus_available(); bus != VI_SUCCESS) return bus;
  if (io.aborted()) return VI_ERROR_ABORT;
  const bool gpib = instrument_->gpib_board() != nullptr;
  return instrument_->on_connection(connection_, [&](sim::Device& device) {
    if (gpib) device.remote_local().addressed_to_listen();  // with REN asserted, it goes remote
    std::string_view bytes(reinterpret_cast<const char*>(buf), size);
    device.write(bytes);
    // END on the last byte terminates the program message even without a newline.
    if (io.send_end && size > 0 && bytes.back() != '\n') device.write("\n");
    if (device.connection_dropped()) return VI_ERROR_CONN_LOST;  // the message went nowhere
    count = size;
    return VI_SUCCESS;
  });
}

ViStatus BenchConnection::read(ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) {
  count = 0;
  if (ViStatus bus = bus_available(); bus != VI_SUCCESS) return bus;
  Deadline deadline(io.timeout_ms);
  bool end = false;
  for (;;) {
    if (io.aborted()) return VI_ERROR_ABORT;
    // Take bytes: first what an earlier read left behind, then from the device.
    std::size_t got = 0;
    ViStatus failure = VI_SUCCESS;
    std::chrono::milliseconds wait{0};
    const bool from_carry = !carry_.empty();
    if (from_carry) {
      got = std::min<std::size_t>(carry_.size(), size - count);
      std::memcpy(buf + count, carry_.data(), got);
      carry_.erase(0, got);
      end = carry_.empty() && carry_ends_message_;
    } else {
      failure = instrument_->on_connection(connection_, [&](sim::Device& device) {
        got = device.read(reinterpret_cast<char*>(buf + count), size - count, end);
        if (got == 0) {
          wait = device.time_until_readable();
          if (wait.count() == 0) wait = kPollInterval;  // nothing to answer yet: poll
        }
        return VI_SUCCESS;
      });
    }
    if (failure != VI_SUCCESS) return failure;

    if (got > 0) {
      ViByte* fresh = buf + count;
      count += static_cast<ViUInt32>(got);
      if (io.termchar_enabled) {
        ViByte* term = static_cast<ViByte*>(std::memchr(fresh, io.termchar, got));
        if (term) {
          std::size_t keep = static_cast<std::size_t>(term - fresh) + 1;
          if (keep < got) {
            // Bytes put back in front of a carry keep its end of message; fresh bytes bring their own.
            carry_.insert(0, reinterpret_cast<const char*>(fresh + keep), got - keep);
            if (!from_carry) carry_ends_message_ = end;
            count -= static_cast<ViUInt32>(got - keep);
            return VI_SUCCESS_TERM_CHAR;
          }
          return end ? VI_SUCCESS : VI_SUCCESS_TERM_CHAR;
        }
      }
      if (end) return VI_SUCCESS;
      if (count == size) return VI_SUCCESS_MAX_CNT;
      continue;
    }
    if (size == count) return VI_SUCCESS_MAX_CNT;
    if (deadline.expired()) return VI_ERROR_TMO;
    std::chrono::milliseconds sleep = std::min(wait, deadline.remaining());
    if (io.abort) sleep = std::min(sleep, kLongestSleep);  // so that viTerminate is noticed soon
    std::this_thread::sleep_for(sleep);
    if (deadline.expired()) {
      // One last look: a reply due exactly at the deadline still counts.
      ViStatus due = instrument_->on_connection(connection_, [](sim::Device& device) {
        return device.output_pending() && device.time_until_readable().count() == 0 ? VI_SUCCESS
                                                                                    : VI_ERROR_TMO;
      });
      if (due != VI_SUCCESS) return due;
    }
  }
}

ViStatus BenchConnection::clear(const IoSettings&) {
  if (ViStatus bus = bus_available(); bus != VI_SUCCESS) return bus;
  carry_.clear();
  return instrument_->on_connection(connection_, [](sim::Device& device) {
    device.device_clear();
    return VI_SUCCESS;
  });
}

ViStatus BenchConnection::read_stb(ViUInt16& status, const IoSettings&) {
  if (ViStatus bus = bus_available(); bus != VI_SUCCESS) return bus;
  return instrument_->on_connection(connection_, [&](sim::Device& device) {
    status = device.serial_poll();
    return VI_SUCCESS;
  });
}

void BenchConnection::attach(std::shared_ptr<EventHub> events) {
  instrument_->listen(events);
}

void BenchConnection::refresh(AttributeSet& attributes) {
  if (!instrument_->gpib_board()) return;
  bool remote = instrument_->with_device([](sim::Device& device) { return device.remote_local().remote(); });
  attributes.update(VI_ATTR_GPIB_REN_STATE,
                    static_cast<ViAttrState>(remote ? VI_STATE_ASSERTED : VI_STATE_UNASSERTED));
}

ViStatus BenchConnection::assert_trigger(ViUInt16 protocol, ViInt16 trigger_id, const IoSettings&) {
  if (trigger_id != VI_TRIG_SW) {
    // A VXI module's session may drive a trigger line of its mainframe's backplane.
    if (!mainframe_) return VI_ERROR_INV_SETUP;
    return assert_backplane_trigger(*mainframe_, protocol, trigger_id);
  }
  if (protocol != VI_TRIG_PROT_DEFAULT) return VI_ERROR_INV_PROT;
  if (ViStatus bus = bus_available(); bus != VI_SUCCESS) return bus;
  // GET on GPIB, the word serial Trigger command on VXI: the instrument takes it as its *TRG.
  return instrument_->on_connection(connection_, [](sim::Device& device) {
    device.group_execute_trigger();
    return VI_SUCCESS;
  });
}

ViStatus BenchConnection::gpib_control_ren(ViUInt16 mode) {
  const auto& board = instrument_->gpib_board();
  if (!board) return VI_ERROR_NSUP_OPER;
  if (mode > VI_GPIB_REN_ADDRESS_GTL) return VI_ERROR_INV_MODE;
  // Modes that send the instrument a command (addressing, GTL, LLO) need control of the bus.
  const bool commands = mode != VI_GPIB_REN_DEASSERT && mode != VI_GPIB_REN_ASSERT;
  if (commands && !board->controller_in_charge()) return VI_ERROR_NCIC;
  switch (mode) {
    case VI_GPIB_REN_DEASSERT:
    case VI_GPIB_REN_DEASSERT_GTL:
      board->set_remote_enable(false);
      return VI_SUCCESS;
    case VI_GPIB_REN_ASSERT:
      board->set_remote_enable(true);
      return VI_SUCCESS;
    case VI_GPIB_REN_ASSERT_LLO:  // Local Lockout is universal: every instrument on the bus
    case VI_GPIB_REN_ASSERT_ADDRESS_LLO:
      board->set_remote_enable(true);
      if (mode == VI_GPIB_REN_ASSERT_ADDRESS_LLO) {
        ViStatus status = instrument_->on_connection(connection_, [](sim::Device& device) {
          device.remote_local().addressed_to_listen();
          return VI_SUCCESS;
        });
        if (status != VI_SUCCESS) return status;
      }
      for (const auto& instrument : board->instruments())
        instrument->with_device([](sim::Device& device) { device.remote_local().local_lockout(); });
      return VI_SUCCESS;
    case VI_GPIB_REN_ASSERT_ADDRESS:
      board->set_remote_enable(true);
      return instrument_->on_connection(connection_, [](sim::Device& device) {
        device.remote_local().addressed_to_listen();
        return VI_SUCCESS;
      });
    case VI_GPIB_REN_ADDRESS_GTL:
      return instrument_->on_connection(connection_, [](sim::Device& device) {
        device.remote_local().go_to_local();
        return VI_SUCCESS;
      });
  }
  return VI_ERROR_INV_MODE;
}

ViBusSize BenchConnection::register_space_size(ViUInt16 space) const {
  return mainframe_ && space == VI_A16_SPACE ? sim::VxiRegisters::kSize : 0;
}

ViStatus BenchConnection::register_read(ViUInt16 space, ViBusAddress64 offset, unsigned width,
                                        ViUInt64& value) {
  if (!mainframe_) return VI_ERROR_NSUP_OPER;
  if (space != VI_A16_SPACE) return VI_ERROR_INV_SPACE;  // the modules use A16 space only
  return read_module_registers(*instrument_, offset, width, value);
}

ViStatus BenchConnection::register_write(ViUInt16 space, ViBusAddress64 offset, unsigned width,
                                         ViUInt64 value) {
  if (!mainframe_) return VI_ERROR_NSUP_OPER;
  if (space != VI_A16_SPACE) return VI_ERROR_INV_SPACE;
  return write_module_registers(*instrument_, offset, width, value);
}

ViStatus BenchConnection::vxi_command_query(ViUInt16 mode, ViUInt32 command, ViUInt32& response) {
  response = 0;
  if (!mainframe_) return VI_ERROR_NSUP_OPER;
  if (mode != VI_VXI_CMD16 && mode != VI_VXI_CMD16_RESP16 && mode != VI_VXI_RESP16) return VI_ERROR_NSUP_MODE;
  if (mode == VI_VXI_RESP16) return VI_ERROR_RAW_RD_PROT_VIOL;  // no response is pending
  // The word serial commands of VXI-1 that the modules understand.
  constexpr ViUInt32 kClear = 0xFFFF, kTrigger = 0xEDFF, kReadStb = 0xCFFF, kReadProtocol = 0xFDFF;
  const bool answers = command == kReadStb || command == kReadProtocol;
  if (answers != (mode == VI_VXI_CMD16_RESP16)) return VI_ERROR_RAW_WR_PROT_VIOL;
  switch (command) {
    case kClear:
      carry_.clear();
      return instrument_->on_connection(connection_, [](sim::Device& device) {
        device.device_clear();
        return VI_SUCCESS;
      });
    case kTrigger:
      return instrument_->on_connection(connection_, [](sim::Device& device) {
        device.group_execute_trigger();
        return VI_SUCCESS;
      });
    case kReadStb:
      return instrument_->on_connection(connection_, [&](sim::Device& device) {
        response = 0xFF00u | device.serial_poll();
        return VI_SUCCESS;
      });
    case kReadProtocol: {
      std::uint16_t protocol = 0;
      instrument_->with_device([&](sim::Device& device) { device.read_register(0x08, protocol); });
      response = protocol;
      return VI_SUCCESS;
    }
    default:
      return VI_ERROR_RAW_WR_PROT_VIOL;  // a command the module does not understand
  }
}

// ---- Configuration registers
// -------------------------------------------------------------------------------

ViStatus read_module_registers(BenchInstrument& module, ViBusAddress64 offset, unsigned width,
                               ViUInt64& value) {
  if (offset >= sim::VxiRegisters::kSize || width > sim::VxiRegisters::kSize - offset)
    return VI_ERROR_INV_OFFSET;
  if (offset % width != 0) return VI_ERROR_NSUP_ALIGN_OFFSET;
  value = 0;
  return module.with_device([&](sim::Device& device) {
    const auto first = static_cast<std::uint32_t>(offset & ~ViBusAddress64{1});
    for (std::uint32_t at = first; at < offset + width; at += 2) {
      std::uint16_t word = 0;
      if (!device.read_register(at, word)) return VI_ERROR_BERR;
      value = width == 1 ? (offset % 2 ? word & 0xFF : word >> 8) : (value << 16) | word;
    }
    return VI_SUCCESS;
  });
}

ViStatus write_module_registers(BenchInstrument& module, ViBusAddress64 offset, unsigned width,
                                ViUInt64 value) {
  if (offset >= sim::VxiRegisters::kSize || width > sim::VxiRegisters::kSize - offset)
    return VI_ERROR_INV_OFFSET;
  if (offset % width != 0) return VI_ERROR_NSUP_ALIGN_OFFSET;
  return module.with_device([&](sim::Device& device) {
    if (width == 1) {  // one byte lane of the register; the other lane carries nothing
      auto word = static_cast<std::uint16_t>(offset % 2 ? value & 0xFF : (value & 0xFF) << 8);
      return device.write_register(static_cast<std::uint32_t>(offset & ~ViBusAddress64{1}), word)
                 ? VI_SUCCESS
                 : VI_ERROR_BERR;
    }
    for (unsigned done = 0; done < width; done += 2) {
      auto word = static_cast<std::uint16_t>(value >> (8 * (width - done - 2)));
      if (!device.write_register(static_cast<std::uint32_t>(offset + done), word)) return VI_ERROR_BERR;
    }
    return VI_SUCCESS;
  });
}

}  // namespace pgx::visa
