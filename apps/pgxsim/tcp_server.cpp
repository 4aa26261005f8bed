#include "apps/pgxsim/tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string_view>
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
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

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

// Sends everything or fails (the client is gone or stopped reading, or the server is stopping).
bool send_all(int fd, std::string_view bytes) {
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

// "127.0.0.1:5025", "[::1]:5025": an IPv6 address in brackets, so that its colons are not the port's.
std::string endpoint_text(const std::string& host, unsigned port) {
  if (host.find(':') != std::string::npos) return "[" + host + "]:" + std::to_string(port);
  return host + ":" + std::to_string(port);
}

std::string peer_text(const sockaddr_storage& addr) {
  char host[INET6_ADDRSTRLEN] = "?";
  unsigned port = 0;
  if (addr.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
    ::inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
    port = ntohs(a->sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
    ::inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
    port = ntohs(a->sin6_port);
  }
  return endpoint_text(host, port);
}

// A lock handed out in the order it was asked for: a client that gives it up between the turns of a long
// message goes behind every client already waiting.
class TurnLock {
 public:
  void lock() {
    std::unique_lock<std::mutex> l(mutex_);
    const unsigned long long ticket = next_++;
    turn_.wait(l, [&] { return serving_ == ticket; });
  }
  void unlock() {
    {
      std::lock_guard<std::mutex> l(mutex_);
      ++serving_;
    }
    turn_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  unsigned long long next_ = 0;
  unsigned long long serving_ = 0;
};

// Message units a client executes per turn before the clients waiting for the instrument have theirs.
constexpr std::size_t kUnitsPerTurn = 16;
// How long the listener rests when accepting fails for want of resources.
constexpr std::chrono::milliseconds kAcceptBackOff{200};

}  // namespace

// One thread accepts; every client has a thread of its own that blocks in recv, so a reply leaves as soon
// as its query arrives (the loopback round trip is the kernel's, not ours) and a client that stalls or
// never reads holds up nobody but itself. The instrument executes one client's message units at a time,
// a few per turn, the turns handed out in order.
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
  TurnLock turns;
  Fd listener;
  Fd wake_read, wake_write;
  Fd spare;  // held in reserve: closed to accept (and refuse) a client when the descriptors run out
  std::uint16_t port = 0;
  std::atomic<bool> stopping{false};
  std::mutex connections_mutex;
  std::list<std::unique_ptr<Connection>> connections;
  std::chrono::steady_clock::time_point listen_again{};

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
    if (options.idle_timeout.count() > 0) {
      // recv and send give up after the idle time: a client that neither writes nor reads is closed.
      timeval tv{};
      tv.tv_sec = static_cast<time_t>(options.idle_timeout.count() / 1000);
      tv.tv_usec = static_cast<suseconds_t>(options.idle_timeout.count() % 1000 * 1000);
      ::setsockopt(c.fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      ::setsockopt(c.fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }
    std::vector<char> buffer(64 * 1024);
    std::string out;
    bool open = true;
    while (open && !stopping) {
      ssize_t n = ::recv(c.fd.get(), buffer.data(), buffer.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        log("closed idle connection from " + c.peer);
        break;
      }
      if (n <= 0) break;
      c.device->receive(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      // The received messages, a turn at a time; what each turn answered leaves before the next.
      bool more = true;
      std::chrono::milliseconds wait{0};
      while (more && open && !stopping) {
        {
          std::lock_guard<TurnLock> turn(turns);
          more = c.device->execute(kUnitsPerTurn);
        }
        wait = take_output(c, out);
        open = send_all(c.fd.get(), out) && !c.device->connection_dropped();
        out.clear();
      }
      // A reply held back by an injected delay is sent when it becomes readable.
      while (open && wait.count() > 0 && !stopping) {
        std::this_thread::sleep_for(std::min(wait, std::chrono::milliseconds(20)));
        wait = take_output(c, out);
        open = send_all(c.fd.get(), out);
        out.clear();
      }
    }
    ::shutdown(c.fd.get(), SHUT_RDWR);
    c.done = true;
  }

  // Tells a client why it is not served, and closes its connection. What the client sent already is read
  // first: closing with unread input would reset the connection, and the notice could be lost.
  void refuse(int fd, const std::string& peer, const std::string& why) {
    log("refused connection from " + peer + ": " + why);
    send_all(fd, "pgxsim: connection refused: " + why + "\n");
    ::shutdown(fd, SHUT_WR);
    char discard[4096];
    while (::recv(fd, discard, sizeof discard, MSG_DONTWAIT) > 0) {
    }
    ::close(fd);
  }

  // Out of descriptors: the spare one makes room to accept each waiting client and tell it so, instead of
  // leaving it waiting while the listener reports it again and again; then the listener rests a moment.
  void refuse_for_lack_of_descriptors(int error) {
    const std::string why =
        std::string("the server is out of file descriptors (") + std::strerror(error) + ")";
    spare.reset();
    while (true) {
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      int fd = ::accept4(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
      if (fd < 0) break;
      refuse(fd, peer_text(addr), why);
    }
    spare = Fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    rest_listener(why);
  }

  void rest_listener(const std::string& why) {
    if (std::chrono::steady_clock::now() >= listen_again) log("not accepting for a moment: " + why);
    listen_again = std::chrono::steady_clock::now() + kAcceptBackOff;
  }

  void accept_clients() {
    while (!stopping) {
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      int fd = ::accept4(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
      if (fd < 0) {
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED || error == EPROTO) continue;  // a client that left
        if (error == EAGAIN || error == EWOULDBLOCK) return;                       // none waiting
        if (error == EMFILE || error == ENFILE)
          refuse_for_lack_of_descriptors(error);
        else
          rest_listener(std::string("accept: ") + std::strerror(error));
        return;
      }
      const std::string peer = peer_text(addr);
      reap();
      if (live_connections() >= options.max_connections) {
        refuse(
            fd, peer,
            std::to_string(options.max_connections) + " clients are connected, the most it serves at once");
        continue;
      }
      auto c = std::make_unique<Connection>();
      c->fd = Fd(fd);
      c->peer = peer;
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      {
        std::lock_guard<TurnLock> turn(turns);
        c->device = connect(instrument);
      }
      log("connection from " + peer);
      Connection& ref = *c;
      try {
        ref.thread = options.start_thread([this, &ref] { serve(ref); });
      } catch (const std::exception& e) {
        // No thread, no service: this client is told so; the others go on.
        refuse(c->fd.release(), peer, std::string("no thread to serve it (") + e.what() + ")");
        continue;
      }
      std::lock_guard<std::mutex> lock(connections_mutex);
      connections.push_back(std::move(c));
    }
  }

  std::size_t live_connections() {
    std::lock_guard<std::mutex> lock(connections_mutex);
    return connections.size();
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
      // While the listener rests, only the stop pipe and the clock wake the loop.
      const auto now = std::chrono::steady_clock::now();
      const bool resting = now < listen_again;
      pollfd fds[2] = {{wake_read.get(), POLLIN, 0}, {resting ? -1 : listener.get(), POLLIN, 0}};
      int timeout = 1000;
      if (resting)
        timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(listen_again - now).count());
      int ready = ::poll(fds, 2, timeout);
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
  impl_->spare = Fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!impl_->options.start_thread)
    impl_->options.start_thread = [](std::function<void()> serve) { return std::thread(std::move(serve)); };

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
std::string TcpServer::endpoint() const {
  return endpoint_text(impl_->options.address, impl_->port);
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
