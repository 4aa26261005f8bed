#pragma once
// Serves one simulated instrument as a raw-socket SCPI instrument (the TCPIP0::host::port::SOCKET kind).
// Every client gets its own connection to the instrument (parser, output queue, error queue) and its own
// thread; the settings are shared. A slow or vanished client holds up nobody, and a long message holds up
// the others for no more than a turn of a few message units at a time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "sim/device.h"

namespace pgx::sim {

struct ServerOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 0;  // 0: any free port
  DeviceConfig instrument;
  // Clients served at once; one more is told so (a line of text) and closed.
  std::size_t max_connections = 64;
  // A client that sends nothing, or reads none of its responses, for this long is closed (0: never).
  std::chrono::milliseconds idle_timeout{0};
  // Receives one line per connection (and the server's own notices); default: none.
  std::function<void(const std::string&)> log;
  // Starts the thread that serves one connection (default: a std::thread). When it throws, that connection
  // is refused and the server goes on; tests replace it to see that happen.
  std::function<std::thread(std::function<void()>)> start_thread;
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
  // Where it listens, as "127.0.0.1:5025" or "[::1]:5025".
  std::string endpoint() const;
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
