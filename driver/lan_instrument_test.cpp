// The driver against a LAN instrument (a raw socket) that says more than it was asked: a scripted TCP
// peer stands for it, since the simulated instruments always answer in whole, well-formed lines.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "driver/pgxgen.h"
#include "driver/testing/bench.h"
#include "visa/testing/tcp_peer.h"

namespace pgx::driver {
namespace {

using visa::testing::TcpPeer;

// A small instrument of the family whose answer to ":TRIG:COUN?" holds a line feed: "abc" then "7".
void talkative_instrument(int fd) {
  for (;;) {
    const std::string line = TcpPeer::read_line(fd);
    if (line.empty()) return;
    const std::string message = line.substr(0, line.size() - 1);
    std::string reply;
    if (message == "*IDN?") {
      reply = "PGX Instruments,Q500A,LAN1,1.0";
    } else if (message == "*OPT?") {
      reply = "Q510A";
    } else if (message == ":TRIG:COUN?") {
      reply = "abc\n7";
    } else if (message == ":FREQ?") {
      reply = "1000000";
    } else if (message.rfind("*OPC?", 0) == 0) {
      // "*OPC?;*OPC?..." answers one "1" per query.
      const auto queries = std::count(message.begin(), message.end(), '?');
      for (long i = 0; i < queries; ++i) reply += i == 0 ? "1" : ";1";
    } else {
      continue;  // settings: no answer
    }
    TcpPeer::send_all(fd, reply + "\n");
  }
}

TEST(DriverLanInstrument, RestOfAnUnconvertibleAnswerIsNeverTakenForTheNext) {
  TcpPeer peer(talkative_instrument);
  testing::Session s(peer.resource());
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeOut(s, 1000), VI_SUCCESS);
  for (int round = 0; round < 3; ++round) {
    ViInt32 count = 0;
    EXPECT_EQ(pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &count), PGXGEN_ERROR_INVALID_RESPONSE);
    ViReal64 frequency = 0;
    ASSERT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency), VI_SUCCESS);
    EXPECT_EQ(frequency, 1e6);
    ViChar identity[256];
    ASSERT_EQ(pgxgen_cmdString_Q(s, "*IDN?", sizeof identity, identity), VI_SUCCESS);
    EXPECT_STREQ(identity, "PGX Instruments,Q500A,LAN1,1.0");
  }
}

}  // namespace
}  // namespace pgx::driver
