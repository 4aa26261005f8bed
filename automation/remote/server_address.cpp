#include "automation/remote/server_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>

namespace pgx::remote {

bool ParseServerName(std::string_view text, std::uint16_t default_port, ServerName& out, std::string& error) {
  ServerName name;
  name.port = default_port;
  if (text.starts_with("pgxs://")) {
    name.security = Security::tls;
    text.remove_prefix(7);
  } else if (text.starts_with("pgx://")) {
    name.security = Security::plain;
    text.remove_prefix(6);
  } else if (text.find("://") != std::string_view::npos) {
    error = "unknown scheme in server name '" + std::string(text) + "' (pgx:// or pgxs://)";
    return false;
  }
  if (!text.empty() && text.back() == '/') text.remove_suffix(1);
  std::string_view port_text;
  if (text.starts_with("[")) {
    const auto close = text.find(']');
    if (close == std::string_view::npos) {
      error = "unclosed '[' in server name";
      return false;
    }
    name.host = std::string(text.substr(1, close - 1));
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') {
        error = "unexpected text after ']' in server name";
        return false;
      }
      port_text = rest.substr(1);
      if (port_text.empty()) {
        error = "missing port after ':' in server name";
        return false;
      }
    }
  } else {
    const auto colon = text.rfind(':');
    if (colon != std::string_view::npos && text.find(':') != colon) {
      error = "an IPv6 address in a server name goes in brackets: [" + std::string(text) + "]";
      return false;
    }
    name.host = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos) {
      port_text = text.substr(colon + 1);
      if (port_text.empty()) {
        error = "missing port after ':' in server name";
        return false;
      }
    }
  }
  if (name.host.empty()) {
    error = "no host in server name '" + std::string(text) + "'";
    return false;
  }
  if (name.host.find_first_of("/ \t") != std::string::npos) {
    error = "not a host name: '" + name.host + "'";
    return false;
  }
  if (!port_text.empty()) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), value);
    if (ec != std::errc() || end != port_text.data() + port_text.size() || value > 65535) {
      error = "not a port number: '" + std::string(port_text) + "'";
      return false;
    }
    name.port = static_cast<std::uint16_t>(value);
  }
  out = std::move(name);
  return true;
}

bool ResolvedAddress::is_loopback() const {
  if (storage.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr)) return true;
    // An IPv4 loopback address mapped into IPv6.
    return IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr) && in6->sin6_addr.s6_addr[12] == 127;
  }
  return false;
}

std::string ResolvedAddress::ToString() const {
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(in->sin_port));
  }
  if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    std::string bracketed = "[";  // appended, not "[" + text: g++ 12 warns falsely (-Wrestrict) on that
    bracketed.append(text).append("]:").append(std::to_string(ntohs(in6->sin6_port)));
    return bracketed;
  }
  return "?";
}

bool Resolve(const ServerName& name, bool passive, std::vector<ResolvedAddress>& out, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
  addrinfo* list = nullptr;
  const std::string port = std::to_string(name.port);
  const int rc = ::getaddrinfo(name.host.c_str(), port.c_str(), &hints, &list);
  if (rc != 0) {
    error = "cannot resolve '" + name.host + "': " + ::gai_strerror(rc);
    return false;
  }
  out.clear();
  for (addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    ResolvedAddress r;
    std::memcpy(&r.storage, a->ai_addr, a->ai_addrlen);
    r.length = a->ai_addrlen;
    out.push_back(r);
  }
  ::freeaddrinfo(list);
  if (out.empty()) {
    error = "no address for '" + name.host + "'";
    return false;
  }
  return true;
}

}  // namespace pgx::remote
