#include "apps/pgxsim/tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace pgx::sim {
namespace {

// A raw-socket client with a time-out on every read.
class Client {
 public:
  explicit Client(std::uint16_t port, bool ipv6 = false) {
    fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (ipv6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_port = htons(port);
      a.sin6_addr = in6addr_loopback;
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~Client() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool connected() const { return connected_; }
  void send(const std::string& bytes) { ASSERT_TRUE(try_send(bytes)) << std::strerror(errno); }
  // Sends all of `bytes`; false when the connection is closed or reset on the way.
  bool try_send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  // True when something (data or the end of the stream) is waiting to be read.
  bool readable() {
    if (!buffer_.empty()) return true;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }
  // Reads up to and including the next LF; "" on time-out, "<closed>" when the server closed.
  std::string line(int timeout_ms = 5000) {
    while (true) {
      auto lf = buffer_.find('\n');
      if (lf != std::string::npos) {
        std::string l = buffer_.substr(0, lf + 1);
        buffer_.erase(0, lf + 1);
        return l;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeout_ms) <= 0) return "";
      char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return "<closed>";
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

class TcpServerTest : public ::testing::Test {
 protected:
  void start(DeviceConfig config = {}) {
    ServerOptions o;
    o.instrument = std::move(config);
    start(std::move(o));
  }
  void start(ServerOptions o) {
    if (o.instrument.front_ends.empty()) o.instrument.front_ends = {"M4030A", "M4040A"};
    o.port = 0;
    o.log = [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(line);
    };
    server_ = std::make_unique<TcpServer>(std::move(o));
    thread_ = std::thread([this] { server_->run(); });
  }
  void TearDown() override {
    if (server_) {
      server_->stop();
      thread_.join();
    }
  }
  std::vector<std::string> log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  std::uint16_t port() const { return server_->port(); }
  // The log lines that contain `text`.
  std::vector<std::string> logged(const std::string& text) {
    std::vector<std::string> found;
    for (const std::string& l : log())
      if (l.find(text) != std::string::npos) found.push_back(l);
    return found;
  }

  std::unique_ptr<TcpServer> server_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> log_;
};

TEST_F(TcpServerTest, FramesSplitAndMergedWrites) {
  start();
  Client c(port());
  ASSERT_TRUE(c.connected());
  c.send("*ID");
  c.send("N?");
  c.send("\n");
  EXPECT_EQ(c.line(), "PGX Instruments,M4000A,SIM000001,1.0\n");
  c.send("*OPC?\n:TRIG:COUN 7;:TRIG:COUN?\r\n*OPT?\n");
  EXPECT_EQ(c.line(), "1\n");
  EXPECT_EQ(c.line(), "7\n");
  EXPECT_EQ(c.line(), "M4030A,M4040A\n");
}

TEST_F(TcpServerTest, OverlongLineGivesAnErrorAndKeepsTheConnection) {
  DeviceConfig cfg;
  cfg.front_ends = {"Q510A"};
  cfg.max_message_bytes = 1000;
  start(cfg);
  Client c(port());
  c.send(":FREQ " + std::string(100000, '1') + "\n:SYST:ERR?\n");
  EXPECT_EQ(c.line(), "-363,\"Input buffer overrun\"\n");
  c.send("*OPC?\n");
  EXPECT_EQ(c.line(), "1\n");
}

TEST_F(TcpServerTest, ClientsHaveTheirOwnParserButShareTheSettings) {
  start();
  Client a(port());
  Client b(port());
  a.send(":TRIG:COUN 9;*OPC?\n:VOLT1:HI");  // a leaves a message half written
  EXPECT_EQ(a.line(), "1\n");
  b.send(":TRIG:COUN?\n");
  EXPECT_EQ(b.line(), "9\n");
  b.send(":BOGUS\n");  // b's error stays in b's queue
  a.send("GH?\n:SYST:ERR?\n");
  EXPECT_EQ(a.line(), "1\n");
  EXPECT_EQ(a.line(), "0,\"No error\"\n");
  b.send(":SYST:ERR?\n");
  EXPECT_EQ(b.line(), "-113,\"Undefined header\"\n");
}

TEST_F(TcpServerTest, ClientVanishingMidMessageDoesNoHarm) {
  start();
  {
    Client gone(port());
    gone.send(":TRIG:COUN 5");  // no terminator: never executed
  }
  {
    Client rude(port());
    rude.send("*IDN?\n");  // leaves without reading its reply
  }
  Client c(port());
  c.send(":TRIG:COUN?\n");
  EXPECT_EQ(c.line(), "1\n");
  // One log line per connection.
  auto lines = log();
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& l : lines) EXPECT_EQ(l.rfind("connection from 127.0.0.1:", 0), 0u) << l;
}

TEST_F(TcpServerTest, InjectedFaultsReachTheSocket) {
  DeviceConfig cfg;
  cfg.front_ends = {"Q510A"};
  cfg.faults.drop_after_messages = 1;
  cfg.faults.reply_delay = std::chrono::milliseconds(50);
  start(cfg);
  Client c(port());
  c.send("*OPC?\n");
  EXPECT_EQ(c.line(20), "");  // held back by the delay
  EXPECT_EQ(c.line(), "1\n");
  c.send("*OPC?\n");
  EXPECT_EQ(c.line(), "<closed>");
}

// ---- Resources and fairness

TEST_F(TcpServerTest, ConnectionWhoseThreadCannotStartIsRefused) {
  ServerOptions o;
  int started = 0;
  o.start_thread = [&started](std::function<void()> serve) {
    if (++started == 2) throw std::system_error(EAGAIN, std::generic_category(), "thread");
    return std::thread(std::move(serve));
  };
  start(std::move(o));
  Client a(port());
  a.send("*OPC?\n");
  EXPECT_EQ(a.line(), "1\n");
  Client refused(port());
  EXPECT_EQ(refused.line().rfind("pgxsim: connection refused: no thread to serve it", 0), 0u);
  EXPECT_EQ(refused.line(), "<closed>");
  Client c(port());
  c.send("*OPC?\n");
  EXPECT_EQ(c.line(), "1\n");
  ASSERT_EQ(logged("refused").size(), 1u);
  EXPECT_NE(logged("refused")[0].find("thread"), std::string::npos) << logged("refused")[0];
}

TEST_F(TcpServerTest, ConnectionsBeyondTheLimitAreToldAndClosed) {
  ServerOptions o;
  o.max_connections = 2;
  start(std::move(o));
  auto a = std::make_unique<Client>(port());
  Client b(port());
  a->send("*OPC?\n");
  b.send("*OPC?\n");
  EXPECT_EQ(a->line(), "1\n");
  EXPECT_EQ(b.line(), "1\n");
  Client c(port());
  const std::string notice = c.line();
  EXPECT_NE(notice.find("2 clients"), std::string::npos) << notice;
  EXPECT_EQ(c.line(), "<closed>");
  EXPECT_EQ(logged("refused").size(), 1u);
  // A client that leaves makes room.
  a.reset();
  for (int attempt = 0; attempt < 100; ++attempt) {
    Client d(port());
    d.send("*OPC?\n");
    if (d.line() == "1\n") return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ADD_FAILURE() << "no room after a client left";
}

TEST_F(TcpServerTest, IdleConnectionsAreClosed) {
  ServerOptions o;
  o.idle_timeout = std::chrono::milliseconds(300);
  start(std::move(o));
  Client idle(port());
  Client busy(port());
  for (int i = 0; i < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    busy.send("*OPC?\n");
    EXPECT_EQ(busy.line(), "1\n");
  }
  EXPECT_EQ(idle.line(), "<closed>");
  EXPECT_EQ(logged("idle").size(), 1u);
}

TEST_F(TcpServerTest, ALongMessageDoesNotStallTheOtherClients) {
  start();
  Client hog(port());
  Client other(port());
  other.send("*OPC?\n");
  ASSERT_EQ(other.line(), "1\n");
  // Thousands of legal PRBS settings in one message, answered at its end.
  std::string message;
  for (int i = 0; i < 1500; ++i) message += ":DIG:PATT:PRBS1 14,16384;";
  hog.send(message + "*OPC?\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the hog's message is under way
  other.send("*IDN?\n");
  EXPECT_EQ(other.line(), "PGX Instruments,M4000A,SIM000001,1.0\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(hog.readable()) << "the other client waited for the whole long message";
  EXPECT_EQ(hog.line(60000), "1\n");
}

TEST_F(TcpServerTest, AClientThatDoesNotReadGetsTheQueryErrors) {
  DeviceConfig cfg;
  cfg.max_output_bytes = 64 * 1024;
  start(cfg);
  Client c(port());
  // One message whose responses (200 patterns of 16 kB) outgrow the output queue.
  std::string message = ":DIG:PATT:PRBS1 14,16384";
  for (int i = 0; i < 200; ++i) message += ";:DIG:PATT:DATA1?";
  c.send(message + "\n:SYST:ERR?\n");
  EXPECT_EQ(c.line(), "-430,\"Query DEADLOCKED; response longer than the output queue\"\n");
}

TEST_F(TcpServerTest, Ipv6AddressesArePrintedInBrackets) {
  ServerOptions o;
  o.address = "::1";
  try {
    start(std::move(o));
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "no IPv6 loopback: " << e.what();
  }
  EXPECT_EQ(server_->endpoint(), "[::1]:" + std::to_string(port()));
  Client c(port(), true);
  ASSERT_TRUE(c.connected());
  c.send("*OPC?\n");
  EXPECT_EQ(c.line(), "1\n");
  ASSERT_EQ(log().size(), 1u);
  EXPECT_EQ(log()[0].rfind("connection from [::1]:", 0), 0u) << log()[0];
}

// ---- The program under a descriptor limit

// pgxsim in a child process whose file descriptors are limited to `max_files`.
class LimitedSimulator {
 public:
  explicit LimitedSimulator(rlim_t max_files) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 2);
      ::close_range(3, ~0U, 0);  // nothing inherited takes the few descriptors it has
      rlimit limit{max_files, max_files};
      ::setrlimit(RLIMIT_NOFILE, &limit);
      ::execl(PGXSIM_PATH, PGXSIM_PATH, "--port", "0", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;  // "pgxsim: listening on 127.0.0.1:<port>"
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    ::close(out[0]);
    const std::size_t colon = line.rfind(':');
    if (line.find("listening") != std::string::npos && colon != std::string::npos)
      port_ = static_cast<std::uint16_t>(std::stoul(line.substr(colon + 1)));
  }
  ~LimitedSimulator() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  std::uint16_t port() const { return port_; }
  // The processor time the server has used so far.
  std::chrono::milliseconds cpu_time() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
      if (i == 14 || i == 15) ticks += std::stoll(field);  // utime, stime
    return std::chrono::milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
  }

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

// When accept fails for want of descriptors, the clients waiting for it are told so and closed (they
// waited for ever), the server does not spin on the listener, and the clients it serves go on.
TEST(TcpServerProgramTest, OutOfDescriptorsTheWaitingClientsAreRefusedWithoutSpinning) {
  LimitedSimulator sim(24);
  ASSERT_NE(sim.port(), 0) << "pgxsim did not start";
  std::vector<std::unique_ptr<Client>> clients;
  // One client is served before the descriptors run out. The sanitizers' first check of an object's dynamic
  // type needs a pipe; made while no descriptor is left it fails and ends the (sanitized) server.
  clients.push_back(std::make_unique<Client>(sim.port()));
  clients.front()->send("*OPC?\n");
  ASSERT_EQ(clients.front()->line(), "1\n");
  for (int i = 1; i < 30; ++i) clients.push_back(std::make_unique<Client>(sim.port()));
  int served = 0, refused = 0;
  for (auto& c : clients) {
    ASSERT_TRUE(c->connected());
    const std::string first = c->try_send("*OPC?\n") ? c->line(10000) : "<closed>";
    if (first == "1\n") {
      ++served;
      continue;
    }
    // Told so and closed; a client whose query crossed the refusal may see the connection reset instead.
    if (first != "<closed>") {
      EXPECT_NE(first.find("out of file descriptors"), std::string::npos) << first;
      EXPECT_EQ(c->line(10000), "<closed>");
    }
    ++refused;
  }
  EXPECT_GT(served, 0);
  EXPECT_GT(refused, 0);
  // With the descriptors still taken, the listener is not polled in a loop.
  const auto before = sim.cpu_time();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT((sim.cpu_time() - before).count(), 300);
  clients.front()->send("*IDN?\n");
  EXPECT_EQ(clients.front()->line().rfind("PGX Instruments,", 0), 0u);
}

TEST(TcpServerSetupTest, RefusesBadAddressesAndConfigurations) {
  ServerOptions o;
  o.address = "localhost.invalid";
  EXPECT_THROW(TcpServer{o}, std::runtime_error);
  ServerOptions bad;
  bad.instrument.front_ends = {"Z999"};
  EXPECT_THROW(TcpServer{bad}, std::invalid_argument);
}

}  // namespace
}  // namespace pgx::sim
