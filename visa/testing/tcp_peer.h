#pragma once
// A scripted TCP peer on a free loopback port: accepts connections and runs a script on each.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pgx::visa::testing {

class TcpPeer {
 public:
  using Script = std::function<void(int fd)>;

  explicit TcpPeer(Script script) : script_(std::move(script)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 8) != 0)
      throw std::runtime_error("cannot listen on loopback");
    socklen_t len = sizeof addr;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        int fd = ::accept(listen_fd_, nullptr, nullptr);
        if (fd < 0) return;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connection_ = fd;
        if (!stopping_) script_(fd);
        connection_ = -1;
        ::close(fd);
      }
    });
  }
  ~TcpPeer() {
    stopping_ = true;
    if (int fd = connection_; fd >= 0) ::shutdown(fd, SHUT_RDWR);  // ends a script waiting for input
    ::shutdown(listen_fd_, SHUT_RDWR);
    ::close(listen_fd_);
    thread_.join();
  }

  unsigned port() const { return port_; }
  std::string resource() const { return "TCPIP0::127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

  // Reads up to and including the next LF (empty when the connection ends first).
  static std::string read_line(int fd) {
    std::string line;
    char c;
    while (::recv(fd, &c, 1, 0) == 1) {
      line.push_back(c);
      if (c == '\n') return line;
    }
    return {};
  }
  static void send_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  Script script_;
  int listen_fd_ = -1;
  unsigned port_ = 0;
  std::atomic<int> connection_{-1};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace pgx::visa::testing
