// Server names as users write them ("host", "host:port", "[v6]:port", with an optional scheme that says
// whether the connection is encrypted), and the addresses they resolve to.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pgx::remote {

enum class Security {
  automatic,  // TLS unless every address of the host is a loopback address
  plain,      // "pgx://": never TLS
  tls,        // "pgxs://": always TLS
};

struct ServerName {
  std::string host;  // without brackets
  std::uint16_t port = 0;
  Security security = Security::automatic;
};

// Parses a server name; `default_port` stands in when it names none. False with `error` set for a name
// that cannot be one (empty host, bad port, unknown scheme, a path after the port).
bool ParseServerName(std::string_view text, std::uint16_t default_port, ServerName& out, std::string& error);

struct ResolvedAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  bool is_loopback() const;
  // "127.0.0.1:7177", "[::1]:7177".
  std::string ToString() const;
};

// The addresses of `name` for TCP (getaddrinfo); `passive` for an address to listen on. False with
// `error` set when it has none.
bool Resolve(const ServerName& name, bool passive, std::vector<ResolvedAddress>& out, std::string& error);

}  // namespace pgx::remote
