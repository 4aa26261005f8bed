#include "sim/device.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace pgx::sim {
namespace {

// Writes a message and collects the reply up to its end.
std::string ask(Device& d, std::string_view message) {
  d.write(message);
  std::string reply;
  char buf[64];
  bool end = false;
  while (!end) {
    std::size_t n = d.read(buf, sizeof buf, end);
    if (n == 0) break;
    reply.append(buf, n);
  }
  return reply;
}

TEST(SimDeviceTest, IdentityAndOptionsFollowTheFrontEnds) {
  struct Case {
    std::vector<std::string> front_ends;
    std::string idn;
    std::string opt;
  };
  const Case cases[] = {
      {{"M4030A", "M4040A"}, "PGX Instruments,M4000A,SN1,2.1\n", "M4030A,M4040A\n"},
      {{"Q510A"}, "PGX Instruments,Q500A,SN1,2.1\n", "Q510A\n"},
  };
  for (const Case& c : cases) {
    DeviceConfig cfg;
    cfg.front_ends = c.front_ends;
    cfg.serial = "SN1";
    cfg.firmware = "2.1";
    auto d = make_device(cfg);
    EXPECT_EQ(ask(*d, "*IDN?\n"), c.idn);
    EXPECT_EQ(ask(*d, "*OPT?\n"), c.opt);
  }
}

TEST(SimDeviceTest, ForeignInstrumentKnowsOnlyCommonCommands) {
  DeviceConfig cfg;
  cfg.kind = "multimeter";
  cfg.serial = "7";
  cfg.firmware = "1.2";
  auto d = make_device(cfg);
  EXPECT_EQ(ask(*d, "*IDN?\n"), "Acme Measurement,DMM-100,7,1.2\n");
  d->write(":FREQ 1E6\n");
  EXPECT_EQ(ask(*d, ":SYST:ERR?\n"), "-113,\"Undefined header\"\n");
}

TEST(SimDeviceTest, RejectsBadConfigurations) {
  const std::vector<std::vector<std::string>> bad = {
      {"M4030A", "M4030A", "M4030A"}, {"X1"}, {"Q510A", "M4030A"}};
  for (const auto& fe : bad) {
    DeviceConfig cfg;
    cfg.front_ends = fe;
    EXPECT_THROW(make_device(cfg), std::invalid_argument);
  }
}

}  // namespace
}  // namespace pgx::sim
