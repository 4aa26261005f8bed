// pgx --server as a user runs it: every command on a pgxd on loopback (which hosts the server from the
// build's registry on its own built-in bench) answers as the same command in process does.
#include <gtest/gtest.h>

#include <sstream>

#include "apps/pgx/app.h"
#include "automation/remote/testing/host_process.h"

namespace pgx::cli {
namespace {

struct Result {
  int code = -1;
  std::string out, err;
};

Result Pgx(std::vector<std::string> args) {
  args.insert(args.begin(), "pgx");
  std::istringstream in;
  std::ostringstream out, err;
  Result result;
  result.code = Main(args, in, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

TEST(PgxRemoteTest, CommandsOnTheHostAnswerAsInProcess) {
  pgx::remote::testing::HostProcess host;
  ASSERT_TRUE(host.listening());
  const std::vector<std::vector<std::string>> commands = {
      {"list"},
      {"get", "2", "Channels.Item(1).Voltage.High"},
      {"set", "2", "Trigger.Arm.Source", "PgxArmSourceExternal"},
      {"get", "2", "Trigger.Arm.Source"},
      {"--json", "get", "2", "Frequency"},
      {"get", "2", "Channels.Item(9).Voltage"},
      {"members", "_ViAttributeInfo"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command[command.size() > 1 ? 1 : 0]);
    std::vector<std::string> remote = {"--server", host.address()};
    remote.insert(remote.end(), command.begin(), command.end());
    const Result there = Pgx(remote);
    const Result here = Pgx(command);
    EXPECT_EQ(there.code, here.code);
    EXPECT_EQ(there.out, here.out);
    EXPECT_EQ(there.err, here.err);
  }
}

TEST(PgxRemoteTest, AHostThatIsNotThereIsSaidSo) {
  const Result r = Pgx({"--server", "127.0.0.1:1", "list"});
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.err.find("The RPC server is unavailable."), std::string::npos) << r.err;
  const Result bench = Pgx({"--server", "127.0.0.1:1", "--bench", "x.yaml", "list"});
  EXPECT_NE(bench.err.find("start pgxd with PGX_VISA_BENCH"), std::string::npos) << bench.err;
}

}  // namespace
}  // namespace pgx::cli
