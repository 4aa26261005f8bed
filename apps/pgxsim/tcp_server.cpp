#include "apps/pgxsim/tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>
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

// Sends everything or fails (the client is gone, or the server is stopping).
bool send_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

// One thread accepts; every client has a thread of its own that blocks in recv, so a reply leaves as soon
// as its query arrives (the loopback round trip is the kernel's, not ours) and a client that stalls or
// never reads holds up nobody but itself. Calls into the instrument are serialised by one mutex.
struct TcpServer::Impl {
  struct Connection {
    Fd fd;
    std::string peer;
    std::unique_ptr<Device> device;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  ServerOptions options;
  std::shared_ptr<SharedInstrument> instrument;
  std::mutex instrument_mutex;
  Fd listener;
  Fd wake_read, wake_write;
  std::uint16_t port = 0;
  std::atomic<bool> stopping{false};
  std::mutex connections_mutex;
  std::list<std::unique_ptr<Connection>> connections;

  void log(const std::string& line) {
    if (options.log) options.log(line);
  }

  // Moves the readable output of a connection into `out`; returns how long a held-back reply still waits.
  std::chrono::milliseconds take_output(Connection& c, std::string& out) {
    char chunk[16 * 1024];
    bool end = false;
    while (std::size_t n = c.device->read(chunk, sizeof chunk, end)) out.append(chunk, n);
    return c.device->output_pending()
               ? std::max(c.device->time_until_readable(), std::chrono::milliseconds(1))
               : std::chrono::milliseconds(0);
  }

  void serve(Connection& c) {
    std::vector<char> buffer(64 * 1024);
    std::string out;
    while (!stopping) {
      ssize_t n = ::recv(c.fd.get(), buffer.data(), buffer.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      bool dropped = false;
      std::chrono::milliseconds wait{0};
      {
        std::lock_guard<std::mutex> lock(instrument_mutex);
        c.device->write(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        dropped = c.device->connection_dropped();
        wait = take_output(c, out);
      }
      if (!send_all(c.fd.get(), out)) break;
      out.clear();
      // A reply held back by an injected delay is sent when it becomes readable.
      while (wait.count() > 0 && !stopping) {
        std::this_thread::sleep_for(std::min(wait, std::chrono::milliseconds(20)));
        std::lock_guard<std::mutex> lock(instrument_mutex);
        wait = take_output(c, out);
      }
      if (!send_all(c.fd.get(), out)) break;
      out.clear();
      if (dropped) break;
    }
    ::shutdown(c.fd.get(), SHUT_RDWR);
    c.done = true;
  }

  void accept_clients() {
    while (true) {
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      int fd = ::accept4(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
      if (fd < 0)
        return;  // EAGAIN (the listener does not block), or a connection that vanished before accept
      auto c = std::make_unique<Connection>();
      c->fd = Fd(fd);
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
      c->peer = std::string(host) + ":" + std::to_string(port_no);
      {
        std::lock_guard<std::mutex> lock(instrument_mutex);
        c->device = connect(instrument);
      }
      log("connection from " + c->peer);
      Connection& ref = *c;
      std::lock_guard<std::mutex> lock(connections_mutex);
      connections.push_back(std::move(c));
      ref.thread = std::thread([this, &ref] { serve(ref); });
    }
  }

  // Joins the threads of clients that have left.
  void reap() {
    std::lock_guard<std::mutex> lock(connections_mutex);
    for (auto it = connections.begin(); it != connections.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }

  void shut_down() {
    stopping = true;
    std::lock_guard<std::mutex> lock(connections_mutex);
    for (auto& c : connections) ::shutdown(c->fd.get(), SHUT_RDWR);  // wakes recv and send
    for (auto& c : connections) c->thread.join();
    connections.clear();
  }

  void run() {
    while (true) {
      pollfd fds[2] = {{wake_read.get(), POLLIN, 0}, {listener.get(), POLLIN, 0}};
      int ready = ::poll(fds, 2, 1000);
      if (ready < 0) {
        if (errno == EINTR) continue;
        fail("poll");
      }
      if (fds[0].revents & POLLIN) break;
      if (fds[1].revents & POLLIN) accept_clients();
      reap();
    }
    shut_down();
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
