#include "apps/pgxsim/tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <stdexcept>
#include <vector>

#include "sim/shared_instrument.h"

namespace pgx::sim {
namespace {

// A file descriptor that closes itself.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  ~Fd() { reset(); }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void set_non_blocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) fail("fcntl");
}

// Output waiting for a client that reads slowly; past this the server stops reading from that client.
constexpr std::size_t kMaxBacklog = 8u << 20;

}  // namespace

struct TcpServer::Impl {
  struct Client {
    Fd fd;
    std::string peer;
    std::unique_ptr<Device> device;
    std::string backlog;  // bytes not yet accepted by the socket
    std::size_t sent = 0;
  };

  ServerOptions options;
  std::shared_ptr<SharedInstrument> instrument;
  Fd listener;
  Fd wake_read, wake_write;
  std::uint16_t port = 0;
  std::list<Client> clients;
  std::vector<char> buffer = std::vector<char>(64 * 1024);

  void log(const std::string& line) {
    if (options.log) options.log(line);
  }

  void accept_clients() {
    while (true) {
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      int fd =
          ::accept4(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;  // EAGAIN, or a connection that vanished before accept
      Client c;
      c.fd = Fd(fd);
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      char host[INET6_ADDRSTRLEN] = "?";
      unsigned port_no = 0;
      if (addr.ss_family == AF_INET) {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        ::inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        port_no = ntohs(a->sin_port);
      } else if (addr.ss_family == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        ::inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
        port_no = ntohs(a->sin6_port);
      }
      c.peer = std::string(host) + ":" + std::to_string(port_no);
      c.device = connect(instrument);
      log("connection from " + c.peer);
      clients.push_back(std::move(c));
    }
  }

  // Moves the device's output into the backlog and writes what the socket takes. False: drop the client.
  bool flush(Client& c) {
    char chunk[16 * 1024];
    bool end = false;
    while (std::size_t n = c.device->read(chunk, sizeof chunk, end)) c.backlog.append(chunk, n);
    while (c.sent < c.backlog.size()) {
      ssize_t n = ::send(c.fd.get(), c.backlog.data() + c.sent, c.backlog.size() - c.sent, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        if (errno == EINTR) continue;
        return false;
      }
      c.sent += static_cast<std::size_t>(n);
    }
    if (c.sent == c.backlog.size()) {
      c.backlog.clear();
      c.sent = 0;
    }
    return true;
  }

  // Reads what the client sent. False: the client is gone.
  bool receive(Client& c) {
    while (true) {
      ssize_t n = ::recv(c.fd.get(), buffer.data(), buffer.size(), 0);
      if (n == 0) return false;
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        if (errno == EINTR) continue;
        return false;
      }
      c.device->write(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      if (c.device->connection_dropped()) return false;
      if (static_cast<std::size_t>(n) < buffer.size()) return true;
    }
  }

  void run() {
    std::vector<pollfd> fds;
    while (true) {
      fds.clear();
      fds.push_back({wake_read.get(), POLLIN, 0});
      fds.push_back({listener.get(), POLLIN, 0});
      int timeout = -1;
      for (Client& c : clients) {
        short events = 0;
        if (c.backlog.size() - c.sent < kMaxBacklog) events |= POLLIN;
        if (c.sent < c.backlog.size()) events |= POLLOUT;
        fds.push_back({c.fd.get(), events, 0});
        // A reply held back by an injected delay needs a wake-up when it becomes readable.
        if (c.device->output_pending()) {
          auto ms = c.device->time_until_readable().count();
          int wait = static_cast<int>(std::clamp<long long>(ms, 0, 1000));
          timeout = timeout < 0 ? wait : std::min(timeout, wait);
        }
      }
      int ready = ::poll(fds.data(), fds.size(), timeout);
      if (ready < 0) {
        if (errno == EINTR) continue;
        fail("poll");
      }
      if (fds[0].revents & POLLIN) return;
      if (fds[1].revents & POLLIN) accept_clients();
      std::size_t i = 2;
      for (auto it = clients.begin(); it != clients.end(); ++i) {
        Client& c = *it;
        // Clients accepted in this round have no pollfd yet.
        short revents = i < fds.size() && fds[i].fd == c.fd.get() ? fds[i].revents : 0;
        bool keep = true;
        if (revents & POLLIN) keep = receive(c);
        if (keep && (revents & (POLLERR | POLLNVAL))) keep = false;
        if (keep && (revents & POLLHUP) && !(revents & POLLIN)) keep = false;
        if (keep) keep = flush(c);
        if (!keep) {
          it = clients.erase(it);
        } else {
          ++it;
        }
      }
    }
  }
};

TcpServer::TcpServer(ServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->instrument = make_shared_instrument(impl_->options.instrument);
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_NONBLOCK | O_CLOEXEC) < 0) fail("pipe");
  impl_->wake_read = Fd(pipe_fds[0]);
  impl_->wake_write = Fd(pipe_fds[1]);

  const std::string& address = impl_->options.address;
  sockaddr_storage addr{};
  socklen_t len = 0;
  int family = AF_INET;
  if (auto* a4 = reinterpret_cast<sockaddr_in*>(&addr);
      ::inet_pton(AF_INET, address.c_str(), &a4->sin_addr) == 1) {
    a4->sin_family = AF_INET;
    a4->sin_port = htons(impl_->options.port);
    len = sizeof(sockaddr_in);
  } else if (auto* a6 = reinterpret_cast<sockaddr_in6*>(&addr);
             ::inet_pton(AF_INET6, address.c_str(), &a6->sin6_addr) == 1) {
    family = AF_INET6;
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(impl_->options.port);
    len = sizeof(sockaddr_in6);
  } else {
    throw std::runtime_error("not a numeric IPv4 or IPv6 address: \"" + address + "\"");
  }
  impl_->listener = Fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (impl_->listener.get() < 0) fail("socket");
  int one = 1;
  ::setsockopt(impl_->listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(impl_->listener.get(), reinterpret_cast<sockaddr*>(&addr), len) < 0)
    fail("bind " + address + ":" + std::to_string(impl_->options.port));
  if (::listen(impl_->listener.get(), 64) < 0) fail("listen");
  set_non_blocking(impl_->listener.get());
  sockaddr_storage bound{};
  socklen_t bound_len = sizeof bound;
  if (::getsockname(impl_->listener.get(), reinterpret_cast<sockaddr*>(&bound), &bound_len) < 0)
    fail("getsockname");
  impl_->port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                        : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
}

TcpServer::~TcpServer() = default;

std::uint16_t TcpServer::port() const {
  return impl_->port;
}
const std::string& TcpServer::address() const {
  return impl_->options.address;
}
void TcpServer::run() {
  impl_->run();
}
int TcpServer::stop_fd() const {
  return impl_->wake_write.get();
}

void TcpServer::stop() noexcept {
  const char byte = 1;
  ssize_t ignored = ::write(impl_->wake_write.get(), &byte, 1);
  (void)ignored;
}

}  // namespace pgx::sim
