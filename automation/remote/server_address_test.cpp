#include "automation/remote/server_address.h"

#include <gtest/gtest.h>

namespace {

using pgx::remote::ParseServerName;
using pgx::remote::Resolve;
using pgx::remote::ResolvedAddress;
using pgx::remote::Security;
using pgx::remote::ServerName;

struct NameCase {
  const char* text;
  const char* host;  // nullptr: refused, `error` contains `why`
  unsigned port;
  Security security;
  const char* why;
};

TEST(ServerNameTest, NamesAsUsersWriteThem) {
  const NameCase cases[] = {
      {"lab-pc", "lab-pc", 7177, Security::automatic, nullptr},
      {"lab-pc:9000", "lab-pc", 9000, Security::automatic, nullptr},
      {"192.168.1.20:0", "192.168.1.20", 0, Security::automatic, nullptr},
      {"[::1]:7200", "::1", 7200, Security::automatic, nullptr},
      {"[fe80::1]", "fe80::1", 7177, Security::automatic, nullptr},
      {"pgxs://lab-pc:7200/", "lab-pc", 7200, Security::tls, nullptr},
      {"pgx://127.0.0.1", "127.0.0.1", 7177, Security::plain, nullptr},
      {"", nullptr, 0, Security::automatic, "no host"},
      {":7177", nullptr, 0, Security::automatic, "no host"},
      {"lab-pc:", nullptr, 0, Security::automatic, "missing port"},
      {"lab-pc:65536", nullptr, 0, Security::automatic, "not a port"},
      {"lab-pc:12ab", nullptr, 0, Security::automatic, "not a port"},
      {"::1", nullptr, 0, Security::automatic, "in brackets"},
      {"[::1", nullptr, 0, Security::automatic, "unclosed"},
      {"[::1]x", nullptr, 0, Security::automatic, "after ']'"},
      {"http://lab-pc", nullptr, 0, Security::automatic, "unknown scheme"},
      {"lab-pc:7177/objects", nullptr, 0, Security::automatic, "not a port"},
      {"lab pc", nullptr, 0, Security::automatic, "not a host name"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.text);
    ServerName name;
    std::string error;
    const bool ok = ParseServerName(c.text, 7177, name, error);
    if (!c.host) {
      EXPECT_FALSE(ok);
      EXPECT_NE(error.find(c.why), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(name.host, c.host);
    EXPECT_EQ(name.port, c.port);
    EXPECT_EQ(name.security, c.security);
  }
}

TEST(ServerNameTest, LoopbackIsEveryAddressThatStaysOnThisMachine) {
  const std::pair<const char*, bool> cases[] = {
      {"127.0.0.1", true}, {"127.3.2.1", true}, {"::1", true}, {"::ffff:127.0.0.1", true},
      {"0.0.0.0", false},  {"10.1.2.3", false}, {"::", false}, {"::ffff:10.1.2.3", false},
  };
  for (const auto& [text, loopback] : cases) {
    SCOPED_TRACE(text);
    ServerName name{text, 80, Security::automatic};
    std::vector<ResolvedAddress> addresses;
    std::string error;
    ASSERT_TRUE(Resolve(name, false, addresses, error)) << error;
    EXPECT_EQ(addresses.front().is_loopback(), loopback);
  }
  std::vector<ResolvedAddress> addresses;
  std::string error;
  ASSERT_TRUE(Resolve(ServerName{"::1", 7, Security::automatic}, false, addresses, error));
  EXPECT_EQ(addresses.front().ToString(), "[::1]:7");
}

}  // namespace
