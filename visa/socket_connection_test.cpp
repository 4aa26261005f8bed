// TCP socket sessions against scripted peers: message framing, time-outs and lost connections.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "visa/testing/session_helpers.h"
#include "visa/testing/tcp_peer.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using namespace std::chrono_literals;
using testing::read_text;
using testing::ResourceManager;
using testing::TcpPeer;
using testing::write_text;

class VisaSocket : public ::testing::Test {
 protected:
  ViSession open(const TcpPeer& peer, bool termchar = true) {
    ViSession vi = VI_NULL;
    EXPECT_EQ(viOpen(rm, peer.resource().c_str(), VI_NULL, 2000, &vi), VI_SUCCESS);
    viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, termchar ? VI_TRUE : VI_FALSE);
    return vi;
  }
  ResourceManager rm;
};

// Answers each line with the replies the test gives, sent as the given pieces with pauses between them.
TcpPeer::Script answer_in_pieces(std::vector<std::string> pieces, std::chrono::milliseconds pause) {
  return [pieces, pause](int fd) {
    while (!TcpPeer::read_line(fd).empty()) {
      for (const auto& piece : pieces) {
        TcpPeer::send_all(fd, piece);
        std::this_thread::sleep_for(pause);
      }
    }
  };
}

TEST_F(VisaSocket, EachReadReturnsExactlyOneMessageHoweverTcpCutsIt) {
  struct Case {
    const char* what;
    std::vector<std::string> pieces;  // what the peer sends for one query
    std::vector<std::string> reads;   // what successive reads return
  };
  const Case cases[] = {
      {"whole", {"PGX,1\n"}, {"PGX,1\n"}},
      {"split in three", {"PG", "X,", "1\n"}, {"PGX,1\n"}},
      {"two merged", {"first\nsecond\n"}, {"first\n", "second\n"}},
      {"merged and split", {"a\nb", "b\nc", "cc\n"}, {"a\n", "bb\n", "ccc\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TcpPeer peer(answer_in_pieces(c.pieces, 20ms));
    ViSession vi = open(peer);
    ASSERT_EQ(write_text(vi, "Q?\n"), VI_SUCCESS);
    for (const auto& expected : c.reads) {
      ViStatus status;
      EXPECT_EQ(read_text(vi, &status), expected);
      EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
    }
    viClose(vi);
  }
}

TEST_F(VisaSocket, LongMessagesAndSmallBuffers) {
  std::string block = "#6100000" + std::string(100000, 'x') + "\n";
  TcpPeer peer(answer_in_pieces({block}, 0ms));
  ViSession vi = open(peer);
  ASSERT_EQ(write_text(vi, "DATA?\n"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(read_text(vi, &status, 10), block.substr(0, 10));
  EXPECT_EQ(status, VI_SUCCESS_MAX_CNT);
  std::string rest = read_text(vi, &status, 200000);
  EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
  EXPECT_EQ(rest, block.substr(10));
}

TEST_F(VisaSocket, WithoutTermCharAReadReturnsWhatHasArrived) {
  TcpPeer peer(answer_in_pieces({"abc"}, 0ms));
  ViSession vi = open(peer, /*termchar=*/false);
  ASSERT_EQ(write_text(vi, "Q?\n"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(read_text(vi, &status), "abc");
  EXPECT_EQ(status, VI_SUCCESS);
}

TEST_F(VisaSocket, ALateReplyIsATimeOutAndTheSessionStaysUsable) {
  TcpPeer peer([](int fd) {
    TcpPeer::read_line(fd);
    std::this_thread::sleep_for(400ms);
    TcpPeer::send_all(fd, "late\n");
    while (!TcpPeer::read_line(fd).empty()) TcpPeer::send_all(fd, "prompt\n");
  });
  ViSession vi = open(peer);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 100), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "SLOW?\n"), VI_SUCCESS);
  ViStatus status;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(read_text(vi, &status), "");
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_GE(waited, 95ms);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);
  EXPECT_EQ(read_text(vi, &status), "late\n");
  EXPECT_EQ(testing::query(vi, "NEXT?\n"), "prompt\n");
}

TEST_F(VisaSocket, AReadThatTimesOutPartWayHandsOverWhatCameAndKeepsNothing) {
  TcpPeer peer([](int fd) {
    TcpPeer::read_line(fd);
    TcpPeer::send_all(fd, "ABC");  // the rest of this reply never comes
    while (!TcpPeer::read_line(fd).empty()) TcpPeer::send_all(fd, "one\n");
  });
  ViSession vi = open(peer);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 150), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "FIRST?\n"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(read_text(vi, &status), "ABC");
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_EQ(testing::query(vi, "NEXT?\n", &status), "one\n");  // not "ABCone\n"
  EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
}

TEST_F(VisaSocket, APeerThatGoesAwayIsConnectionLostAndTheSessionStaysClosable) {
  TcpPeer peer([](int fd) {
    TcpPeer::read_line(fd);
    TcpPeer::send_all(fd, "half a mess");
  });
  ViSession vi = open(peer);
  ASSERT_EQ(write_text(vi, "BYE?\n"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(read_text(vi, &status), "half a mess");  // what came is handed over ...
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);             // ... with the news that the peer went
  read_text(vi, &status);
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(write_text(vi, "again\n"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viClear(vi), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(VisaSocket, ConnectFailuresAreReportedPromptly) {
  unsigned closed_port;
  {
    TcpPeer gone([](int) {});
    closed_port = gone.port();
  }
  ViSession vi = 5;
  std::string refused = "TCPIP0::127.0.0.1::" + std::to_string(closed_port) + "::SOCKET";
  EXPECT_EQ(viOpen(rm, refused.c_str(), VI_NULL, 1000, &vi), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(vi, VI_NULL);
  EXPECT_EQ(viOpen(rm, "TCPIP0::no-such-host.invalid::5025::SOCKET", VI_NULL, 1000, &vi),
            VI_ERROR_RSRC_NFOUND);
  char desc[VI_FIND_BUFLEN];
  viStatusDesc(rm, VI_ERROR_RSRC_NFOUND, desc);
  EXPECT_NE(std::string(desc).find("no-such-host.invalid"), std::string::npos) << desc;
}

TEST_F(VisaSocket, TheOpenTimeOutBoundsTheConnect) {
  // A listener that accepts nothing and whose backlog is full leaves new connections unanswered.
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers.push_back(fd);
  }
  std::this_thread::sleep_for(50ms);
  std::string name = "TCPIP0::127.0.0.1::" + std::to_string(ntohs(addr.sin_port)) + "::SOCKET";
  ViSession vi = VI_NULL;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(viOpen(rm, name.c_str(), VI_NULL, 300, &vi), VI_ERROR_TMO);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 290ms);
  EXPECT_LT(waited, 1500ms);
  for (int fd : fillers) ::close(fd);
  ::close(listener);
}

TEST_F(VisaSocket, AnIpv6AddressInBracketsIsReached) {
  int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 addr{};
  addr.sin6_family = AF_INET6;
  addr.sin6_addr = in6addr_loopback;
  socklen_t len = sizeof addr;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (listener >= 0) ::close(listener);
    GTEST_SKIP() << "this machine has no IPv6 loopback";
  }
  std::thread peer([listener] {
    int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    TcpPeer::send_all(fd, "over IPv6: " + TcpPeer::read_line(fd));
    ::close(fd);
  });
  struct StopPeer {
    std::thread& peer;
    int listener;
    ~StopPeer() {
      ::shutdown(listener, SHUT_RDWR);  // ends an accept that no connection came to
      peer.join();
      ::close(listener);
    }
  } stop_peer{peer, listener};
  std::string name = "TCPIP0::[::1]::" + std::to_string(ntohs(addr.sin6_port)) + "::SOCKET";
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, name.c_str(), VI_NULL, 2000, &vi), VI_SUCCESS) << name;
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
  EXPECT_EQ(testing::query(vi, "*IDN?\n"), "over IPv6: *IDN?\n");
  char text[VI_FIND_BUFLEN];
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_NAME, text), VI_SUCCESS);
  EXPECT_EQ(text, name);
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TCPIP_ADDR, text), VI_SUCCESS);
  EXPECT_STREQ(text, "::1");
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TCPIP_HOSTNAME, text), VI_SUCCESS);
  EXPECT_STREQ(text, "::1");
  viClose(vi);
}

TEST_F(VisaSocket, SocketAttributes) {
  TcpPeer peer(answer_in_pieces({"x\n"}, 0ms));
  ViSession vi = open(peer);
  ViUInt16 port = 0, type = 0;
  char text[VI_FIND_BUFLEN];
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TCPIP_PORT, &port), VI_SUCCESS);
  EXPECT_EQ(port, peer.port());
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_INTF_TYPE, &type), VI_SUCCESS);
  EXPECT_EQ(type, VI_INTF_TCPIP);
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TCPIP_ADDR, text), VI_SUCCESS);
  EXPECT_STREQ(text, "127.0.0.1");
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_CLASS, text), VI_SUCCESS);
  EXPECT_STREQ(text, "SOCKET");
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_GPIB_PRIMARY_ADDR, &port), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_SLOT, &port), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TCPIP_NODELAY, VI_FALSE), VI_SUCCESS);
  EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TCPIP_PORT, 1), VI_ERROR_ATTR_READONLY);
  ViUInt16 stb;
  EXPECT_EQ(viReadSTB(vi, &stb), VI_ERROR_NSUP_OPER);  // raw sockets have no serial poll ...
}

TEST_F(VisaSocket, SerialPollOverTheLineWhenTheProtocolAsksForIt) {
  TcpPeer peer([](int fd) {
    for (std::string line; !(line = TcpPeer::read_line(fd)).empty();)
      TcpPeer::send_all(fd, line == "*STB?\n" ? "80\n" : "?\n");
  });
  ViSession vi = open(peer);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_IO_PROT, VI_PROT_4882_STRS), VI_SUCCESS);
  ViUInt16 stb = 0;
  EXPECT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);  // ... unless the 488.2 string protocol is chosen
  EXPECT_EQ(stb, 80);
}

TEST_F(VisaSocket, ATriggerIsTrgAndAClearWaitsForTheRepliesOnTheirWay) {
  TcpPeer peer([](int fd) {
    for (std::string line; !(line = TcpPeer::read_line(fd)).empty();) {
      if (line == "*TRG\n") {
        TcpPeer::send_all(fd, "triggered\n");
      } else {
        std::this_thread::sleep_for(20ms);  // the reply is still on its way when the clear begins
        TcpPeer::send_all(fd, "late reply\n");
      }
    }
  });
  ViSession vi = open(peer);
  EXPECT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT),
            VI_ERROR_NSUP_OPER);  // raw sockets have no trigger ...
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_IO_PROT, VI_PROT_4882_STRS), VI_SUCCESS);
  ASSERT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);  // ... unless "*TRG" stands in for it
  EXPECT_EQ(read_text(vi), "triggered\n");
  ASSERT_EQ(write_text(vi, "Q?\n"), VI_SUCCESS);
  ASSERT_EQ(viClear(vi), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 100), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(read_text(vi, &status), "");
  EXPECT_EQ(status, VI_ERROR_TMO);
}

TEST_F(VisaSocket, SerialPollLeavesRepliesThatWaitUnreadForTheReadsThatFollow) {
  TcpPeer peer([](int fd) {
    for (std::string line; !(line = TcpPeer::read_line(fd)).empty();) {
      if (line == "*STB?\n") {
        TcpPeer::send_all(fd, "80\n");
      } else if (line == "SLOW?\n") {  // a reply that has only begun to arrive when the poll starts
        TcpPeer::send_all(fd, "3");
        std::this_thread::sleep_for(100ms);
        TcpPeer::send_all(fd, "7\n");
      } else {
        TcpPeer::send_all(fd, "37\n");
      }
    }
  });
  ViSession vi = open(peer);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_IO_PROT, VI_PROT_4882_STRS), VI_SUCCESS);
  struct Case {
    const char* what;
    std::string queries;
    int replies;
  };
  const Case cases[] = {
      {"one reply waiting", "Q?\n", 1},
      {"two replies waiting", "Q?\nQ?\n", 2},
      {"a reply half arrived", "SLOW?\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(write_text(vi, c.queries), VI_SUCCESS);
    std::this_thread::sleep_for(50ms);  // the replies (or the start of one) have arrived
    ViUInt16 stb = 0;
    EXPECT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
    EXPECT_EQ(stb, 80);
    for (int i = 0; i < c.replies; ++i) {
      ViStatus status;
      EXPECT_EQ(read_text(vi, &status), "37\n");
      EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
    }
  }
  ViUInt16 stb = 0;
  EXPECT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);  // nothing was left over
  EXPECT_EQ(stb, 80);
}

}  // namespace
}  // namespace pgx::visa
