// The Device a bus talks to: frames the byte stream into program messages, runs them through the SCPI
// engine, queues the responses and applies the injected faults.

#include <algorithm>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

#include "sim/device.h"
#include "sim/engine.h"
#include "sim/front_end.h"
#include "sim/instrument.h"
#include "sim/pulse_generator.h"
#include "sim/scpi_error.h"
#include "sim/shared_instrument.h"

namespace pgx::sim {
namespace {

using Clock = std::chrono::steady_clock;

// An instrument that is not one of the family: it knows only the common commands.
class ForeignInstrument final : public Instrument {
 public:
  explicit ForeignInstrument(std::string identity) : identity_(std::move(identity)) {}
  std::string identity() const override { return identity_; }
  static const CommandTree& tree() {
    static const CommandTree t = [] {
      CommandTree tree;
      Engine::add_standard_commands(tree);
      return tree;
    }();
    return t;
  }

 private:
  std::string identity_;
};

class SimDevice final : public Device {
 public:
  SimDevice(const DeviceConfig& config, std::shared_ptr<Instrument> instrument, const CommandTree& tree)
      : faults_(config.faults),
        instrument_(std::move(instrument)),
        engine_(tree, *instrument_),
        max_message_(std::max<std::size_t>(config.max_message_bytes, 64)),
        max_output_(std::max<std::size_t>(config.max_output_bytes, 1024)) {
    if (config.vxi) registers_.emplace(*config.vxi);
    engine_.set_scripted_replies(&faults_.scripted_replies);
    engine_.set_response_limit(max_output_);
    take_queued_errors();
  }

  FaultConfig& faults() override { return faults_; }
  void keep_alive(std::shared_ptr<SharedInstrument> shared) { shared_ = std::move(shared); }

  void write(std::string_view bytes) override {
    if (!waiting_.empty() || engine_.running()) {
      // Messages taken by receive() go first.
      receive(bytes);
      while (execute(static_cast<std::size_t>(-1))) {
      }
      return;
    }
    frame(
        bytes, [this](std::string_view message) { execute_now(message); },
        [this] { engine_.push_error(err::kInputBufferOverrun); });
  }

  void receive(std::string_view bytes) override {
    frame(
        bytes,
        [this](std::string_view message) {
          waiting_.push_back({std::string(message), false});
        },
        [this] {
          waiting_.push_back({{}, true});
        });
  }

  bool execute(std::size_t max_units) override {
    std::size_t left = max_units;
    while (!dropped_) {
      if (!engine_.running()) {
        if (waiting_.empty()) return false;
        if (left == 0) return true;
        if (waiting_.front().overrun) {
          engine_.push_error(err::kInputBufferOverrun);
          waiting_.pop_front();
          continue;
        }
        if (!begin_message()) return false;
        engine_.start(waiting_.front().message, output_);
      }
      std::size_t executed = 0;
      const bool done = engine_.resume(left, executed);
      left -= std::min(left, executed);
      if (!done) return true;
      finish_message();
      waiting_.pop_front();
    }
    return false;
  }

  std::size_t read(char* out, std::size_t max, bool& end) override {
    end = false;
    if (dropped_ || head_ == bounds_.size() || max == 0) return 0;
    const Boundary& b = bounds_[head_];
    if (b.delayed && Clock::now() < b.ready) return 0;
    std::size_t n = std::min(max, b.end - read_pos_);
    std::memcpy(out, output_.data() + read_pos_, n);
    read_pos_ += n;
    if (read_pos_ == b.end) {
      end = true;
      if (++head_ == bounds_.size() && !engine_.running()) {
        bounds_.clear();
        head_ = 0;
        output_.clear();
        read_pos_ = 0;
      }
    }
    engine_.set_message_available(head_ < bounds_.size());
    return n;
  }

  bool output_pending() const override { return !dropped_ && head_ < bounds_.size(); }

  std::chrono::milliseconds time_until_readable() const override {
    if (!output_pending()) return std::chrono::milliseconds(0);
    const Boundary& b = bounds_[head_];
    if (!b.delayed) return std::chrono::milliseconds(0);
    auto left = b.ready - Clock::now();
    if (left <= Clock::duration::zero()) return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(left);
  }

  bool connection_dropped() const override { return dropped_; }

  void device_clear() override {
    engine_.abandon();
    waiting_.clear();
    pending_.clear();
    scan_ = Scan::kNormal;
    overrun_ = false;
    output_.clear();
    bounds_.clear();
    head_ = 0;
    read_pos_ = 0;
    engine_.reset_path();
    engine_.set_message_available(false);
  }

  std::uint8_t serial_poll() override { return engine_.serial_poll(); }
  void group_execute_trigger() override {
    while (execute(static_cast<std::size_t>(-1))) {  // the messages received before it go first
    }
    if (!dropped_) instrument_->bus_trigger();
  }
  std::uint64_t triggers_received() const override { return instrument_->triggers_received(); }
  RemoteLocal& remote_local() override { return remote_local_; }

  bool read_register(std::uint32_t offset, std::uint16_t& value) override {
    if (!registers_ || offset >= VxiRegisters::kSize || offset % 2 != 0) return false;
    value = registers_->read(offset);
    return true;
  }
  bool write_register(std::uint32_t offset, std::uint16_t value) override {
    if (!registers_ || offset >= VxiRegisters::kSize || offset % 2 != 0) return false;
    if (registers_->write(offset, value)) {  // out of reset: the module starts afresh
      device_clear();
      instrument_->reset();
      engine_.clear_status();
    }
    return true;
  }

  bool requesting_service() const override { return engine_.requesting_service(); }
  std::uint64_t service_requests() const override { return engine_.service_requests(); }

 private:
  enum class Scan { kNormal, kQuote, kHash, kBlockDigits, kBlockBytes };
  struct Boundary {
    std::size_t end;
    bool delayed;
    Clock::time_point ready;
  };

  void take_queued_errors() {
    for (const auto& [code, text] : faults_.queued_errors) engine_.push_error_text(code, text);
    faults_.queued_errors.clear();
  }

  // Splits the bytes into program messages: `on_message` gets each complete one, `on_overrun` stands for
  // one that grew past the input buffer and was discarded.
  template <typename OnMessage, typename OnOverrun>
  void frame(std::string_view bytes, OnMessage on_message, OnOverrun on_overrun) {
    std::size_t start = 0;  // first byte of the current message not yet moved to pending_
    // The message is bytes[start, stop) preceded by whatever is pending.
    const auto terminate = [&](std::size_t stop) {
      std::string_view part = bytes.substr(start, stop - start);
      if (pending_.empty()) {
        on_message(part);
      } else {
        pending_.append(part);
        on_message(std::string_view(pending_));
        pending_.clear();
      }
      scan_ = Scan::kNormal;
      start = stop + 1;
    };
    for (std::size_t i = 0; i < bytes.size() && !dropped_; ++i) {
      const char ch = bytes[i];
      if (overrun_) {
        if (ch == '\n') {
          overrun_ = false;
          scan_ = Scan::kNormal;
          start = i + 1;
        }
        continue;
      }
      switch (scan_) {
        case Scan::kNormal:
          if (ch == '\n') {
            terminate(i);
            continue;
          }
          if (ch == '"' || ch == '\'') {
            quote_ = ch;
            scan_ = Scan::kQuote;
          } else if (ch == '#') {
            scan_ = Scan::kHash;
          }
          break;
        case Scan::kQuote:
          if (ch == '\n') {  // an unterminated string does not swallow the terminator
            terminate(i);
            continue;
          }
          if (ch == quote_) scan_ = Scan::kNormal;
          break;
        case Scan::kHash:
          if (ch >= '1' && ch <= '9') {
            digits_left_ = ch - '0';
            block_left_ = 0;
            scan_ = Scan::kBlockDigits;
          } else if (ch == '\n') {
            terminate(i);
            continue;
          } else {
            scan_ = Scan::kNormal;
          }
          break;
        case Scan::kBlockDigits:
          if (ch >= '0' && ch <= '9') {
            block_left_ = block_left_ * 10 + static_cast<std::size_t>(ch - '0');
            if (--digits_left_ == 0) scan_ = block_left_ == 0 ? Scan::kNormal : Scan::kBlockBytes;
          } else if (ch == '\n') {
            terminate(i);
            continue;
          } else {
            scan_ = Scan::kNormal;
          }
          break;
        case Scan::kBlockBytes: {
          // Block bytes are taken as they are, LF included, but never past the input buffer's end.
          const std::size_t held = pending_.size() + (i - start);
          const std::size_t room = held < max_message_ ? max_message_ - held : 0;
          std::size_t n = std::min({block_left_, bytes.size() - i, room + 1});
          i += n - 1;
          block_left_ -= n;
          if (block_left_ == 0) scan_ = Scan::kNormal;
          break;
        }
      }
      if (pending_.size() + (i + 1 - start) > max_message_) {
        on_overrun();
        pending_.clear();
        overrun_ = true;
        scan_ = Scan::kNormal;
      }
    }
    if (!dropped_ && !overrun_ && start < bytes.size()) pending_.append(bytes.substr(start));
  }

  std::size_t unread() const { return output_.size() - read_pos_; }

  // Counts a message about to be executed (the connection may drop here), takes injected errors, and
  // discards the responses the controller has left unread past the output limit. False: not executed.
  bool begin_message() {
    ++messages_;
    if (faults_.drop_after_messages >= 0 && messages_ > faults_.drop_after_messages) {
      dropped_ = true;
      device_clear();
      return false;
    }
    if (!faults_.queued_errors.empty()) take_queued_errors();
    if (unread() >= max_output_) {
      output_.clear();
      bounds_.clear();
      head_ = 0;
      read_pos_ = 0;
      engine_.push_error(err::kQueryInterrupted, "responses not read");
    }
    engine_.set_message_available(head_ < bounds_.size());
    message_output_ = output_.size();
    return true;
  }

  // Makes the response of the message just executed readable, after the injected faults.
  void finish_message() {
    if (!engine_.replied()) return;
    if (!faults_.garbage_reply.empty()) {
      output_.resize(message_output_);
      output_ += faults_.garbage_reply;
      faults_.garbage_reply.clear();
    }
    Boundary b{output_.size(), false, {}};
    if (faults_.reply_delay.count() > 0) {
      b.delayed = true;
      b.ready = Clock::now() + faults_.reply_delay;
    }
    bounds_.push_back(b);
    engine_.set_message_available(true);
  }

  void execute_now(std::string_view message) {
    if (!begin_message()) return;
    engine_.execute(message, output_);
    finish_message();
  }

  // A complete message waiting for its turn, or the place of one discarded for its length.
  struct Waiting {
    std::string message;
    bool overrun;
  };

  FaultConfig faults_;
  RemoteLocal remote_local_;
  std::optional<VxiRegisters> registers_;
  std::shared_ptr<Instrument> instrument_;
  Engine engine_;
  std::size_t max_message_;
  std::size_t max_output_;
  std::deque<Waiting> waiting_;

  std::string pending_;
  Scan scan_ = Scan::kNormal;
  char quote_ = '"';
  int digits_left_ = 0;
  std::size_t block_left_ = 0;
  bool overrun_ = false;

  std::string output_;
  std::size_t message_output_ = 0;  // where the response of the message being executed begins
  std::vector<Boundary> bounds_;
  std::size_t head_ = 0;
  std::size_t read_pos_ = 0;

  long long messages_ = 0;
  bool dropped_ = false;
  std::shared_ptr<SharedInstrument> shared_;
};

}  // namespace

// An instrument that several connections share.
struct SharedInstrument {
  DeviceConfig config;
  std::shared_ptr<Instrument> instrument;
  const CommandTree* tree = nullptr;
  PulseGenerator* generator = nullptr;  // when it is one of the family
  FaultConfig instrument_faults;        // the faults the instrument itself reads (self-test, calibration)
};

namespace {

std::shared_ptr<SharedInstrument> build(const DeviceConfig& config) {
  auto shared = std::make_shared<SharedInstrument>();
  shared->config = config;
  const std::string serial = config.serial.empty() ? "SIM000001" : config.serial;
  const std::string firmware = config.firmware.empty() ? "1.0" : config.firmware;
  if (config.kind != "pulse-generator") {
    const std::string model = config.model.empty() ? "DMM-100" : config.model;
    shared->instrument =
        std::make_shared<ForeignInstrument>("Acme Measurement," + model + "," + serial + "," + firmware);
    shared->tree = &ForeignInstrument::tree();
    return shared;
  }
  std::vector<const FrontEndModel*> front_ends;
  if (config.front_ends.size() > 2)
    throw std::invalid_argument("an instrument holds one or two front-ends, not " +
                                std::to_string(config.front_ends.size()));
  for (const std::string& name : config.front_ends) {
    const FrontEndModel* m = find_front_end(name);
    if (!m) throw std::invalid_argument("unknown front-end model \"" + name + "\"");
    front_ends.push_back(m);
  }
  std::string model = config.model;
  if (front_ends.empty()) front_ends.push_back(find_front_end(model == "M4000A" ? "M4030A" : "Q510A"));
  const bool vxi = front_ends.front()->vxi;
  for (const FrontEndModel* m : front_ends)
    if (m->vxi != vxi) throw std::invalid_argument("benchtop and VXI front-ends cannot share a mainframe");
  if (model.empty()) model = vxi ? "M4000A" : "Q500A";
  if (model != "M4000A" && model != "Q500A")
    throw std::invalid_argument("unknown mainframe model \"" + model + "\" (Q500A or M4000A)");
  if ((model == "M4000A") != vxi)
    throw std::invalid_argument("mainframe " + model + " does not take front-end " +
                                std::string(front_ends[0]->name));
  PulseGenerator::Identity id{"PGX Instruments", model, serial, firmware};
  auto generator = std::make_shared<PulseGenerator>(id, front_ends, config.clock_in_frequency);
  shared->generator = generator.get();
  shared->instrument = std::move(generator);
  shared->tree = &PulseGenerator::tree();
  shared->instrument_faults = config.faults;
  shared->generator->set_faults(&shared->instrument_faults);
  return shared;
}

}  // namespace

std::unique_ptr<Device> make_device(const DeviceConfig& config) {
  std::shared_ptr<SharedInstrument> shared = build(config);
  auto device = std::make_unique<SimDevice>(config, shared->instrument, *shared->tree);
  // A device of its own: the instrument reads its faults from the device, so tests can change them.
  if (shared->generator) shared->generator->set_faults(&device->faults());
  device->keep_alive(std::move(shared));
  return device;
}

std::shared_ptr<SharedInstrument> make_shared_instrument(const DeviceConfig& config) {
  return build(config);
}

std::unique_ptr<Device> connect(const std::shared_ptr<SharedInstrument>& instrument) {
  auto device = std::make_unique<SimDevice>(instrument->config, instrument->instrument, *instrument->tree);
  device->keep_alive(instrument);
  return device;
}

}  // namespace pgx::sim
