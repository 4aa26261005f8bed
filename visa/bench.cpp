#include "visa/bench.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <thread>

namespace pgx::visa {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace

Bench::Bench(BenchConfig config) : source_(std::move(config.source)) {
  for (auto& resource : config.resources) {
    std::string name = resource.name.canonical();
    names_.push_back(name);
    if (!resource.alias.empty()) aliases_.emplace(lower(resource.alias), name);
    instruments_.emplace(name, std::make_shared<BenchInstrument>(std::move(resource)));
  }
}

std::shared_ptr<BenchInstrument> Bench::find(const std::string& canonical_name) const {
  auto it = instruments_.find(canonical_name);
  return it == instruments_.end() ? nullptr : it->second;
}

std::string Bench::offered_name(const ResourceName& name) const {
  std::string canonical = name.canonical();
  if (instruments_.count(canonical)) return canonical;
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

BenchConnection::BenchConnection(std::shared_ptr<BenchInstrument> instrument)
    : instrument_(std::move(instrument)), connection_(instrument_->connect()) {}

ViStatus BenchConnection::write(const ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) {
  count = 0;
  return instrument_->on_connection(connection_, [&](sim::Device& device) {
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
  Deadline deadline(io.timeout_ms);
  bool end = false;
  for (;;) {
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
          if (wait.count() == 0) wait = std::chrono::milliseconds(2);  // nothing to answer yet: poll
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
    std::this_thread::sleep_for(std::min(wait, deadline.remaining()));
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
  carry_.clear();
  return instrument_->on_connection(connection_, [](sim::Device& device) {
    device.device_clear();
    return VI_SUCCESS;
  });
}

ViStatus BenchConnection::read_stb(ViUInt16& status, const IoSettings&) {
  return instrument_->on_connection(connection_, [&](sim::Device& device) {
    status = device.serial_poll();
    return VI_SUCCESS;
  });
}

}  // namespace pgx::visa
