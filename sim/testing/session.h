#pragma once
// A test's conversation with a simulated instrument: send a message, ask a query, drain the error queue.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device.h"

namespace pgx::sim::testing {

class Session {
 public:
  explicit Session(std::vector<std::string> front_ends)
      : device_(make_device(config_for(std::move(front_ends)))) {}
  explicit Session(std::unique_ptr<Device> device) : device_(std::move(device)) {}
  static Session with(const DeviceConfig& config) { return Session(make_device(config)); }

  static DeviceConfig config_for(std::vector<std::string> front_ends) {
    DeviceConfig c;
    c.front_ends = std::move(front_ends);
    return c;
  }

  Device& device() { return *device_; }

  // Sends one program message (the LF is added).
  void send(std::string_view message) {
    std::string m(message);
    m += '\n';
    device_->write(m);
  }

  // Sends a query and returns its response message without the LF ("" when nothing came back).
  std::string ask(std::string_view message) {
    send(message);
    return read();
  }

  std::string read() {
    std::string reply;
    char buf[256];
    bool end = false;
    while (!end) {
      std::size_t n = device_->read(buf, sizeof buf, end);
      if (n == 0) break;
      reply.append(buf, n);
    }
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    return reply;
  }

  // Every entry of the error queue, oldest first, as "<code>,"<text>"" ("" when the queue is empty).
  std::string errors() {
    std::string all;
    for (int i = 0; i < 40; ++i) {
      std::string e = ask(":SYST:ERR?");
      if (e.rfind("0,", 0) == 0) break;
      if (!all.empty()) all += ' ';
      all += e;
    }
    return all;
  }

  // The error numbers only, e.g. "-113 -222".
  std::string error_codes() {
    std::string all;
    for (int i = 0; i < 40; ++i) {
      std::string e = ask(":SYST:ERR?");
      std::string code = e.substr(0, e.find(','));
      if (code == "0" || code.empty()) break;
      if (!all.empty()) all += ' ';
      all += code;
    }
    return all;
  }

 private:
  std::unique_ptr<Device> device_;
};

}  // namespace pgx::sim::testing
