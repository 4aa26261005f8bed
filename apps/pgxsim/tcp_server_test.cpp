#include "apps/pgxsim/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pgx::sim {
namespace {

// A raw-socket client with a time-out on every read.
class Client {
 public:
  explicit Client(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~Client() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool connected() const { return connected_; }
  void send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      ASSERT_GT(n, 0);
      done += static_cast<std::size_t>(n);
    }
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
    if (config.front_ends.empty()) config.front_ends = {"M4030A", "M4040A"};
    ServerOptions o;
    o.port = 0;
    o.instrument = config;
    o.log = [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(line);
    };
    server_ = std::make_unique<TcpServer>(o);
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
