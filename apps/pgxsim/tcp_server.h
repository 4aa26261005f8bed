#pragma once
// Serves one simulated instrument as a raw-socket SCPI instrument (the TCPIP0::host::port::SOCKET kind).
// Every client gets its own connection to the instrument (parser, output queue, error queue) and its own
// thread; the settings are shared. A slow or vanished client holds up nobody.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/device.h"

namespace pgx::sim {

struct ServerOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 0;  // 0: any free port
  DeviceConfig instrument;
  // Receives one line per connection (and the server's own notices); default: none.
  std::function<void(const std::string&)> log;
};

class TcpServer {
 public:
  // Binds and listens; throws std::runtime_error naming what failed.
  explicit TcpServer(ServerOptions options);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  std::uint16_t port() const;
  const std::string& address() const;
  // Serves until stop() is called; then closes every connection and returns.
  void run();
  // Safe from another thread and from a signal handler (it only writes to a pipe).
  void stop() noexcept;
  int stop_fd() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pgx::sim
