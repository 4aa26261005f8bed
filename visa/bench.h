#pragma once
// The built-in simulated bench: live simulated instruments behind bench resource names.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.h"
#include "visa/bench_config.h"
#include "visa/connection.h"

namespace pgx::visa {

// One instrument of the bench. Its state outlives the sessions that use it, as a real instrument's does.
class BenchInstrument {
 public:
  explicit BenchInstrument(BenchResource resource) : resource_(std::move(resource)) {}
  const BenchResource& resource() const { return resource_; }

  // Runs `action` on the device with exclusive access. A device that dropped its connection is replaced
  // by a fresh one when `reconnect` is set (a new session reaches the instrument again).
  template <typename Action>
  auto with_device(Action&& action, bool reconnect = false) {
    std::lock_guard lock(mutex_);
    if (!device_ || (reconnect && device_->connection_dropped()))
      device_ = sim::make_device(resource_.device);
    return action(*device_);
  }

 private:
  BenchResource resource_;
  std::mutex mutex_;
  std::unique_ptr<sim::Device> device_;
};

class Bench {
 public:
  explicit Bench(BenchConfig config);
  const std::string& source() const { return source_; }
  // Canonical resource names in bench order.
  const std::vector<std::string>& names() const { return names_; }
  // The instrument behind a canonical name, or null.
  std::shared_ptr<BenchInstrument> find(const std::string& canonical_name) const;

 private:
  std::string source_;
  std::vector<std::string> names_;
  std::map<std::string, std::shared_ptr<BenchInstrument>> instruments_;
};

// A session's connection to a bench instrument: message exchange with END on the last byte, as on GPIB.
class BenchConnection : public Connection {
 public:
  explicit BenchConnection(std::shared_ptr<BenchInstrument> instrument);
  ViStatus write(const ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) override;
  ViStatus read(ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) override;
  ViStatus clear(const IoSettings& io) override;
  ViStatus read_stb(ViUInt16& status, const IoSettings& io) override;

  BenchInstrument& instrument() { return *instrument_; }

 private:
  std::shared_ptr<BenchInstrument> instrument_;
  // Bytes already taken from the device but not yet returned (after a termination character).
  std::string carry_;
  bool carry_ends_message_ = false;
};

}  // namespace pgx::visa
