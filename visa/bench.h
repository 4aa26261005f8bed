#pragma once
// The built-in simulated bench: live simulated instruments behind bench resource names.

#include <cstdint>
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

  // Reaches the instrument for a new session. A device that dropped its connection is replaced by a fresh
  // one (the instrument came back freshly started). Returns the connection the session uses.
  std::uint64_t connect() {
    std::lock_guard lock(mutex_);
    if (!device_ || device_->connection_dropped()) {
      device_ = sim::make_device(resource_.device);
      ++connection_;
    }
    return connection_;
  }

  // Runs `action` (returning a status) on the device with exclusive access for a session on `connection`.
  // A connection that dropped stays lost for its sessions, also once a new session reached the instrument
  // again: they get VI_ERROR_CONN_LOST, as a TCP session would.
  template <typename Action>
  ViStatus on_connection(std::uint64_t connection, Action&& action) {
    std::lock_guard lock(mutex_);
    if (!device_ || connection != connection_ || device_->connection_dropped()) return VI_ERROR_CONN_LOST;
    return action(*device_);
  }

  // Runs `action` on the device with exclusive access, whatever its connection (for tests).
  template <typename Action>
  auto with_device(Action&& action) {
    std::lock_guard lock(mutex_);
    if (!device_) device_ = sim::make_device(resource_.device);
    return action(*device_);
  }

 private:
  BenchResource resource_;
  std::mutex mutex_;
  std::unique_ptr<sim::Device> device_;
  std::uint64_t connection_ = 0;  // counts the devices made: one per connection to the instrument
};

class Bench {
 public:
  explicit Bench(BenchConfig config);
  const std::string& source() const { return source_; }
  // Canonical resource names in bench order.
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

 private:
  std::string source_;
  std::vector<std::string> names_;
  std::map<std::string, std::shared_ptr<BenchInstrument>> instruments_;
  std::map<std::string, std::string> aliases_;  // alias in lower case -> canonical name
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
  std::uint64_t connection_;
  // Bytes already taken from the device but not yet returned (after a termination character).
  std::string carry_;
  bool carry_ends_message_ = false;
};

}  // namespace pgx::visa
