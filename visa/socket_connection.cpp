#include "visa/socket_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

namespace pgx::visa {
namespace {

constexpr std::size_t kInputChunk = 64 * 1024;

bool connection_gone(int error) {
  return error == ECONNRESET || error == EPIPE || error == ENOTCONN || error == ECONNABORTED ||
         error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH || error == ENETDOWN;
}

timeval to_timeval(long ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

// The socket time-out that a deadline asks for: 0 means none (infinite).
long socket_timeout_ms(const Deadline& deadline) {
  if (deadline.infinite()) return 0;
  return std::max<long>(1, static_cast<long>(deadline.remaining().count()));
}

}  // namespace

std::unique_ptr<SocketConnection> SocketConnection::connect(const std::string& host, ViUInt16 port,
                                                            ViUInt32 timeout_ms, ViStatus& status,
                                                            std::string& detail) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    status = VI_ERROR_RSRC_NFOUND;
    detail = "host \"" + host + "\" not found: " + gai_strerror(rc);
    return nullptr;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);

  Deadline deadline(timeout_ms);
  status = VI_ERROR_RSRC_NFOUND;
  detail = "nothing accepts connections at " + host + " port " + service;
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) continue;
    int result = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    if (result != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int ready;
      do {
        ready = ::poll(&p, 1, deadline.infinite() ? -1 : static_cast<int>(deadline.remaining().count()));
      } while (ready < 0 && errno == EINTR);
      if (ready < 0) {
        ::close(fd);
        continue;
      }
      if (ready == 0) {
        ::close(fd);
        status = VI_ERROR_TMO;
        detail =
            "no connection to " + host + " port " + service + " within " + std::to_string(timeout_ms) + " ms";
        continue;
      }
      int error = 0;
      socklen_t len = sizeof error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
      result = error == 0 ? 0 : -1;
    }
    if (result != 0) {
      ::close(fd);
      continue;
    }
    // Blocking from here on: reads and writes wait with socket time-outs, one system call each.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    char text[INET6_ADDRSTRLEN] = "";
    if (ai->ai_family == AF_INET)
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr, text, sizeof text);
    else if (ai->ai_family == AF_INET6)
      inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr, text, sizeof text);
    auto connection = std::unique_ptr<SocketConnection>(new SocketConnection(fd, text));
    connection->set_nodelay(true);
    status = VI_SUCCESS;
    detail.clear();
    return connection;
  }
  return nullptr;
}

SocketConnection::SocketConnection(int fd, std::string address)
    : fd_(fd), address_(std::move(address)), input_(kInputChunk) {}

SocketConnection::~SocketConnection() {
  ::close(fd_);
}

void SocketConnection::set_nodelay(bool on) {
  int value = on ? 1 : 0;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
}

void SocketConnection::set_keepalive(bool on) {
  int value = on ? 1 : 0;
  setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value);
}

void SocketConnection::set_receive_timeout(ViUInt32 ms) {
  if (receive_timeout_set_ == static_cast<long>(ms)) return;
  timeval tv = to_timeval(ms);
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  receive_timeout_set_ = ms;
}

void SocketConnection::set_send_timeout(ViUInt32 ms) {
  if (send_timeout_set_ == static_cast<long>(ms)) return;
  timeval tv = to_timeval(ms);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  send_timeout_set_ = ms;
}

ViStatus SocketConnection::write(const ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) {
  count = 0;
  if (lost_) return VI_ERROR_CONN_LOST;
  Deadline deadline(io.timeout_ms);
  while (count < size) {
    if (io.aborted()) return VI_ERROR_ABORT;
    set_send_timeout(static_cast<ViUInt32>(socket_timeout_ms(deadline)));
    ssize_t sent = ::send(fd_, buf + count, size - count, MSG_NOSIGNAL);
    if (sent > 0) {
      count += static_cast<ViUInt32>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (deadline.expired() || io.timeout_ms == VI_TMO_IMMEDIATE) return VI_ERROR_TMO;
      continue;
    }
    if (sent < 0 && connection_gone(errno)) {
      lost_ = true;
      return VI_ERROR_CONN_LOST;
    }
    return VI_ERROR_IO;
  }
  return VI_SUCCESS;
}

ViStatus SocketConnection::fill(const Deadline& deadline, const std::atomic<bool>* abort) {
  if (begin_ == end_) {
    begin_ = end_ = 0;
  } else if (end_ == input_.size()) {
    // Make room: move the unread part to the front, grow when it fills the buffer.
    std::memmove(input_.data(), input_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (end_ == input_.size()) input_.resize(input_.size() * 2);
  }
  for (;;) {
    if (abort && abort->load()) return VI_ERROR_ABORT;
    int flags = 0;
    if (deadline.expired()) {
      flags = MSG_DONTWAIT;  // time is up: take only what has already arrived
    } else if (abort) {
      // An asynchronous read waits in short steps, so that viTerminate is noticed soon.
      pollfd p{fd_, POLLIN, 0};
      int ready = ::poll(&p, 1, static_cast<int>(std::min<long>(20, socket_timeout_ms(deadline))));
      if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
      flags = MSG_DONTWAIT;
    } else {
      set_receive_timeout(static_cast<ViUInt32>(socket_timeout_ms(deadline)));
    }
    ssize_t got = ::recv(fd_, input_.data() + end_, input_.size() - end_, flags);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return VI_SUCCESS;
    }
    if (got == 0) {
      lost_ = true;
      return VI_ERROR_CONN_LOST;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (deadline.expired()) return VI_ERROR_TMO;
      continue;  // woke a little before the deadline
    }
    if (connection_gone(errno)) {
      lost_ = true;
      return VI_ERROR_CONN_LOST;
    }
    return VI_ERROR_IO;
  }
}

ViStatus SocketConnection::read(ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) {
  count = 0;
  if (size == 0) return VI_SUCCESS_MAX_CNT;
  Deadline deadline(io.timeout_ms == VI_TMO_IMMEDIATE ? 0 : io.timeout_ms);
  std::size_t scanned = begin_;  // input before this has been searched for the termination character
  for (;;) {
    std::size_t available = end_ - begin_;
    if (io.termchar_enabled) {
      const char* from = input_.data() + scanned;
      const void* term = std::memchr(from, io.termchar, end_ - scanned);
      if (term) {
        std::size_t message =
            static_cast<std::size_t>(static_cast<const char*>(term) - (input_.data() + begin_)) + 1;
        if (message <= size) {
          std::memcpy(buf, input_.data() + begin_, message);
          begin_ += message;
          count = static_cast<ViUInt32>(message);
          return VI_SUCCESS_TERM_CHAR;
        }
      }
      scanned = end_;
    }
    if (available >= size) {
      std::memcpy(buf, input_.data() + begin_, size);
      begin_ += size;
      count = size;
      return VI_SUCCESS_MAX_CNT;
    }
    if (!io.termchar_enabled && !io.suppress_end && available > 0) {
      // Without a termination character, what has arrived so far is the message.
      std::memcpy(buf, input_.data() + begin_, available);
      begin_ += available;
      count = static_cast<ViUInt32>(available);
      return VI_SUCCESS;
    }
    std::size_t offset = scanned - begin_;
    ViStatus status = fill(deadline, io.abort);
    scanned = begin_ + offset;  // fill() may have moved the unread input to the front
    if ((status == VI_ERROR_CONN_LOST || status == VI_ERROR_TMO || status == VI_ERROR_ABORT) &&
        end_ > begin_) {
      // The peer went, time ran out, or viTerminate ended the read, in the middle of a message: hand over
      // the part that came, and say why the rest did not. Nothing of it stays behind, or it would be taken
      // for the start of the next message.
      std::size_t n = std::min<std::size_t>(end_ - begin_, size);
      std::memcpy(buf, input_.data() + begin_, n);
      begin_ += n;
      count = static_cast<ViUInt32>(n);
      return status;
    }
    if (status != VI_SUCCESS) return status;
  }
}

ViStatus SocketConnection::clear(const IoSettings& io) {
  if (lost_) return VI_ERROR_CONN_LOST;
  begin_ = end_ = 0;
  // A socket has no device clear: what the peer sends is discarded until it has been quiet for a moment,
  // so that replies still on their way when the clear began are not taken for the answers to later queries
  // (at most until the session's time-out).
  constexpr int kQuietMs = 50;
  Deadline deadline(io.timeout_ms == VI_TMO_IMMEDIATE ? kQuietMs : io.timeout_ms);
  char scratch[4096];
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, kQuietMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return VI_SUCCESS;
    ssize_t got = ::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
    if (got == 0) {
      lost_ = true;
      return VI_ERROR_CONN_LOST;
    }
    if (deadline.expired()) return VI_SUCCESS;
  }
}

ViStatus SocketConnection::take_arrived() {
  const Deadline now(0);
  ViStatus status = VI_SUCCESS;
  for (int round = 0; round < 16 && status == VI_SUCCESS; ++round) status = fill(now);  // a flood ends too
  return status == VI_ERROR_TMO ? VI_SUCCESS : status;  // a time-out here only means nothing more came
}

ViStatus SocketConnection::wait_for_line_end(std::size_t from, std::size_t limit, const Deadline& deadline,
                                             std::size_t& line_end) {
  for (std::size_t scanned = from;;) {
    const char* start = input_.data() + begin_;
    std::size_t unread = end_ - begin_;
    if (const void* lf = std::memchr(start + scanned, '\n', unread - scanned)) {
      line_end = static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1;
      if (line_end - from > limit) return VI_ERROR_IO;
      return VI_SUCCESS;
    }
    if (unread - from > limit) return VI_ERROR_IO;
    scanned = unread;
    ViStatus status = fill(deadline);  // keeps the unread input, perhaps moved to the front
    if (status != VI_SUCCESS) return status;
  }
}

// Over a socket the status byte is asked for with "*STB?" and comes back as a line among the replies.
// Replies that arrived before the question are the answers to earlier queries: they are stepped over
// (waiting for the end of one that has only begun to arrive) and stay unread for the reads that follow,
// and the status byte is the line that comes after them.
ViStatus SocketConnection::read_stb(ViUInt16& status, const IoSettings& io) {
  if (io.io_protocol != VI_PROT_4882_STRS) return VI_ERROR_NSUP_OPER;
  if (lost_) return VI_ERROR_CONN_LOST;
  constexpr std::size_t kMaxReply = 64;  // "255\r\n" and then some: a longer line is no status byte
  Deadline deadline(io.timeout_ms == VI_TMO_IMMEDIATE ? 0 : io.timeout_ms);
  ViStatus rc = take_arrived();
  if (rc != VI_SUCCESS) return rc;
  std::size_t earlier = end_ - begin_;  // unread bytes of earlier replies
  if (earlier > 0 && input_[end_ - 1] != '\n') {
    // A reply is arriving: wait for its end, which comes before the answer to our question.
    rc = wait_for_line_end(earlier, std::numeric_limits<std::size_t>::max(), deadline, earlier);
    if (rc != VI_SUCCESS) return rc;
  }

  static const char query[] = "*STB?\n";
  ViUInt32 count = 0;
  rc = write(reinterpret_cast<const ViByte*>(query), sizeof query - 1, count, io);
  if (rc < VI_SUCCESS) return rc;
  std::size_t line_end = 0;
  rc = wait_for_line_end(earlier, kMaxReply, deadline, line_end);
  if (rc != VI_SUCCESS) return rc;

  // Take the answer out of the input, leaving the earlier replies and whatever follows it.
  char* answer = input_.data() + begin_ + earlier;
  std::string text(answer, line_end - earlier);
  std::memmove(answer, input_.data() + begin_ + line_end, end_ - (begin_ + line_end));
  end_ -= line_end - earlier;
  char* parsed_end = nullptr;
  long value = std::strtol(text.c_str(), &parsed_end, 10);
  if (parsed_end == text.c_str() || value < 0 || value > 255) return VI_ERROR_IO;
  status = static_cast<ViUInt16>(value);
  return VI_SUCCESS;
}

ViStatus SocketConnection::assert_trigger(ViUInt16 protocol, ViInt16 trigger_id, const IoSettings& io) {
  if (io.io_protocol != VI_PROT_4882_STRS) return VI_ERROR_NSUP_OPER;
  if (trigger_id != VI_TRIG_SW) return VI_ERROR_INV_SETUP;
  if (protocol != VI_TRIG_PROT_DEFAULT) return VI_ERROR_INV_PROT;
  static const char command[] = "*TRG\n";
  ViUInt32 count = 0;
  return write(reinterpret_cast<const ViByte*>(command), sizeof command - 1, count, io);
}

}  // namespace pgx::visa
