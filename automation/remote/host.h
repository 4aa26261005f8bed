// The host side of remote activation: serves the classes registered on this machine to remote clients
// over Cap'n Proto RPC. pgxd is this class and a command line; tests and benchmarks run it on a thread.
//
// Every object lives on the thread that runs the host, which is an apartment-threaded apartment of its
// own: calls of all clients are served one after another on that thread, so a slow call of one client
// delays the others but never interleaves with them. A client's objects are released when it releases
// them or when its connection ends, whatever the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace pgx::remote {

// The port a host listens on and a client connects to when the server name gives none.
constexpr std::uint16_t kDefaultPort = 7177;

struct HostOptions {
  // "ADDRESS:PORT" ("[v6]:PORT" for IPv6); port 0 picks a free one. Loopback unless said otherwise.
  std::string listen = "127.0.0.1:" + std::to_string(kDefaultPort);
  // The secret a client must present; empty for none. Required when the address is not loopback.
  std::string token;
  // PEM certificate (chain) and private key; both empty for a plain connection. Required when the
  // address is not loopback.
  std::string tls_certificate;
  std::string tls_key;
  // Receives one line per connection, per failure and per start and stop (no line break).
  std::function<void(const std::string&)> log;
};

// What the host refuses to start with (a message a user can act on).
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Host {
 public:
  // Checks the options and binds the address; throws HostError. The thread that constructs the host must
  // run it (Run) and destroy it; it must not be in an apartment of the other kind already.
  explicit Host(HostOptions options);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The bound address, with the port picked when it was 0: "127.0.0.1:40123".
  std::string address() const;
  std::uint16_t port() const;

  // Serves clients until Stop; then ends every connection, which releases every client's objects.
  void Run();
  // Makes Run return; callable from any thread and from a signal handler.
  void Stop() noexcept;

  // For diagnostics and tests (on the host's thread, or after Run returned): objects held for clients now.
  std::size_t live_objects() const;

  // What the host keeps (host.cpp); its objects reach it.
  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace pgx::remote
