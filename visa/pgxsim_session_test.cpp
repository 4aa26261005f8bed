// Socket sessions against pgxsim, the simulated instrument in its own process.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>

#include "visa/testing/pgxsim_process.h"
#include "visa/testing/session_helpers.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using testing::PgxsimProcess;
using testing::query;
using testing::ResourceManager;

class VisaPgxsim : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PgxsimProcess::program().empty()) GTEST_SKIP() << "pgxsim is not built (PGXSIM names no program)";
    ASSERT_EQ(rm.status(), VI_SUCCESS);
  }
  ViSession open(const PgxsimProcess& sim) {
    ViSession vi = VI_NULL;
    EXPECT_EQ(viOpen(rm, sim.resource().c_str(), VI_NULL, 2000, &vi), VI_SUCCESS) << sim.resource();
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    return vi;
  }
  ResourceManager rm;
};

TEST_F(VisaPgxsim, QueriesAndSettingsRoundTrip) {
  PgxsimProcess sim({"--front-ends", "M4030A,M4040A", "--serial", "SOCK0001"});
  ASSERT_NE(sim.port(), 0u);
  ViSession vi = open(sim);
  EXPECT_EQ(query(vi, "*IDN?\n"), "PGX Instruments,M4000A,SOCK0001,1.0\n");
  EXPECT_EQ(query(vi, "*OPT?\n"), "M4030A,M4040A\n");
  ASSERT_EQ(testing::write_text(vi, "*ESE 20\n"), VI_SUCCESS);
  EXPECT_EQ(query(vi, "*ESE?;*OPC?\n"), "20;1\n");
  EXPECT_EQ(query(vi, "SYST:ERR?\n"), "0,\"No error\"\n");
  ViUInt16 stb = 0;
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_IO_PROT, VI_PROT_4882_STRS), VI_SUCCESS);
  EXPECT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
}

TEST_F(VisaPgxsim, KilledMidSessionIsConnectionLostAndANewSessionWorksOnceItIsBack) {
  auto sim = std::make_unique<PgxsimProcess>(std::vector<std::string>{"--serial", "FIRST"});
  unsigned port = sim->port();
  ASSERT_NE(port, 0u);
  ViSession vi = open(*sim);
  ASSERT_NE(query(vi, "*IDN?\n").find("FIRST"), std::string::npos);
  // Killed in the middle of the session: the next query finds it gone.
  sim->stop(SIGKILL);
  ViStatus written = testing::write_text(vi, "*IDN?\n");
  EXPECT_TRUE(written == VI_SUCCESS || written == VI_ERROR_CONN_LOST) << std::hex << written;
  ViStatus status;
  testing::read_text(vi, &status);
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  // Everything after says so too, and nothing crashes.
  EXPECT_EQ(query(vi, "*IDN?\n", &status), "");
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(viClear(vi), VI_ERROR_CONN_LOST);
  ViSession refused = VI_NULL;
  EXPECT_EQ(viOpen(rm, sim->resource().c_str(), VI_NULL, 1000, &refused), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);

  PgxsimProcess back({"--serial", "SECOND"}, port);
  ASSERT_EQ(back.port(), port);
  ViSession again = open(back);
  EXPECT_NE(query(again, "*IDN?\n", &status).find("SECOND"), std::string::npos);
  EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
}

TEST_F(VisaPgxsim, ManyQueriesInOneMessageAndLargeReplies) {
  PgxsimProcess sim({});
  ViSession vi = open(sim);
  std::string message;
  for (int i = 0; i < 200; ++i) message += "*IDN?;";
  message += "*OPC?\n";
  ASSERT_EQ(testing::write_text(vi, message), VI_SUCCESS);
  ViStatus status;
  std::string reply = testing::read_text(vi, &status, 1 << 16);
  EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
  EXPECT_GT(reply.size(), 200u * 30);
  EXPECT_EQ(reply.substr(reply.size() - 3), ";1\n");
  EXPECT_EQ(std::count(reply.begin(), reply.end(), ';'), 200);
}

}  // namespace
}  // namespace pgx::visa
