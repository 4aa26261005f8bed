// The driver against an instrument in another process, as on a LAN: pgxsim serving one simulated
// instrument on a TCP port (a raw socket resource). A stopped server makes queries time out; a killed one
// drops the connection.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "driver/pgxgen.h"
#include "driver/testing/bench.h"

#ifndef PGXSIM_PATH
#define PGXSIM_PATH ""
#endif

namespace pgx::driver {
namespace {

// pgxsim on a free port; stopped when the object goes.
class PgxsimProcess {
 public:
  PgxsimProcess() {
    if (std::strlen(PGXSIM_PATH) == 0) return;
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      execl(PGXSIM_PATH, PGXSIM_PATH, "--port", "0", "--front-ends", "M4030A,M4030A",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    // "pgxsim: listening on <address>:<port>"
    FILE* stream = fdopen(out[0], "r");
    char line[256] = "";
    if (stream != nullptr && std::fgets(line, sizeof line, stream) != nullptr) {
      const std::string text(line);
      const std::size_t colon = text.rfind(':');
      if (text.rfind("pgxsim: listening on ", 0) == 0 && colon != std::string::npos) {
        resource_ = "TCPIP0::127.0.0.1::" + std::to_string(std::atoi(text.c_str() + colon + 1)) + "::SOCKET";
      }
    }
    if (stream != nullptr) std::fclose(stream);
  }
  ~PgxsimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGCONT);
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& resource() const { return resource_; }
  // Stops or continues the server and waits until it has (a stopped server answers nothing).
  void stop() const {
    kill(pid_, SIGSTOP);
    int status = 0;
    waitpid(pid_, &status, WUNTRACED);
  }
  void resume() const {
    kill(pid_, SIGCONT);
    int status = 0;
    waitpid(pid_, &status, WCONTINUED);
  }
  void signal(int number) const { kill(pid_, number); }
  void reap() {
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string resource_;
};

class DriverPgxsim : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::strlen(PGXSIM_PATH) == 0) GTEST_SKIP() << "pgxsim is not built";
    ASSERT_FALSE(server_.resource().empty()) << "pgxsim did not start";
  }
  PgxsimProcess server_;
};

TEST_F(DriverPgxsim, TypedCallsChecksAndTransactionsOverTcp) {
  testing::Session s(server_.resource(), VI_TRUE, VI_TRUE);
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_errorQueryDetect(s, VI_TRUE), VI_SUCCESS);
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth(s, 2, 30e-9), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 2, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 30e-9);
  EXPECT_EQ(pgxgen_timeWidth(s, 2, 5e3), PGXGEN_ERROR_INSTRUMENT);

  ASSERT_EQ(pgxgen_transactionStart(s), VI_SUCCESS);
  const ViByte pattern[] = {'1', '0', '0', '1', '1'};
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer(s, 1, pattern, 5), VI_SUCCESS);
  ASSERT_EQ(pgxgen_levelHighLow(s, 1, PGXGEN_LEVEL_VOLTAGE, 1.5, -0.5), VI_SUCCESS);
  ASSERT_EQ(pgxgen_transactionFinish(s), VI_SUCCESS);
  ViByte read[8];
  ViInt32 count = 0;
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(s, 1, read, &count, sizeof read, VI_FALSE), VI_SUCCESS);
  ASSERT_EQ(count, 5);
  EXPECT_EQ(read[0], 1);
  EXPECT_EQ(read[1], 0);
  ViInt16 type = -1;
  ViReal64 high = 0, low = 0;
  ASSERT_EQ(pgxgen_levelHighLow_Q(s, 1, &type, &high, &low), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(high, 1.5);
  EXPECT_DOUBLE_EQ(low, -0.5);
}

TEST_F(DriverPgxsim, TimeOutThenTheLateAnswerIsNotTakenForTheNext) {
  testing::Session s(server_.resource());
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeOut(s, 100), VI_SUCCESS);
  server_.stop();
  ViReal64 frequency = 0;
  EXPECT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency), VI_ERROR_TMO);
  server_.resume();
  ViInt32 count = 0;
  ASSERT_EQ(pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &count), VI_SUCCESS);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(frequency, 1e6);
}

// A busy instrument: the answer to a query that timed out arrives while the next call waits for its own
// (later than any short drain would wait). The next calls must get their own answers, or fail.
TEST_F(DriverPgxsim, LateAnswerAfterATimeOutIsNeverTakenForALaterCall) {
  struct Case {
    const char* what;
    ViBoolean checked;
    std::function<void(ViSession)> next;  // the call made while the late answer is on its way
  };
  const Case cases[] = {
      {"identity", VI_FALSE,
       [](ViSession vi) {
         ViChar text[256] = "";
         ASSERT_EQ(pgxgen_cmdString_Q(vi, "*IDN?", sizeof text, text), VI_SUCCESS);
         EXPECT_EQ(std::strncmp(text, "PGX Instruments,", 16), 0) << text;
       }},
      {"checked width", VI_TRUE,
       [](ViSession vi) {
         ViReal64 width = 0;
         ASSERT_EQ(pgxgen_timeWidth_Q(vi, 1, &width), VI_SUCCESS);
         EXPECT_DOUBLE_EQ(width, 100e-9);
       }},
      {"checked refused setting", VI_TRUE,
       [](ViSession vi) {
         EXPECT_EQ(pgxgen_timeWidth(vi, 1, 5e3), PGXGEN_ERROR_INSTRUMENT);
         ViInt32 code = 0;
         ViChar text[256];
         ASSERT_EQ(pgxgen_error_query(vi, &code, text), VI_SUCCESS);
         EXPECT_EQ(code, -222) << text;
         ASSERT_EQ(pgxgen_error_query(vi, &code, text), VI_SUCCESS);
         EXPECT_EQ(code, 0) << text;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::Session s(server_.resource(), VI_TRUE, VI_TRUE);
    ASSERT_EQ(s.status(), VI_SUCCESS);
    ASSERT_EQ(pgxgen_errorQueryDetect(s, c.checked), VI_SUCCESS);
    ASSERT_EQ(pgxgen_timeOut(s, 100), VI_SUCCESS);
    server_.stop();
    ViReal64 frequency = 0;
    EXPECT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency), VI_ERROR_TMO);
    ASSERT_EQ(pgxgen_timeOut(s, 5000), VI_SUCCESS);
    std::thread resume([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      server_.resume();
    });
    c.next(s);
    resume.join();
    // And the session stays in step.
    ASSERT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(frequency, 1e6);
  }
}

// While the instrument stays busy the session refuses to answer (it cannot tell its answers from late
// ones); once the instrument answers again, every call gets its own answer.
TEST_F(DriverPgxsim, SessionOutOfStepFailsUntilTheInstrumentAnswersAgain) {
  testing::Session s(server_.resource());
  ASSERT_EQ(s.status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeOut(s, 100), VI_SUCCESS);
  server_.stop();
  ViReal64 frequency = 0;
  ViInt32 count = 0;
  EXPECT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency), VI_ERROR_TMO);
  EXPECT_EQ(pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &count), VI_ERROR_TMO);
  EXPECT_EQ(pgxgen_timeWidth(s, 1, 20e-9), VI_ERROR_TMO);  // nothing is sent while out of step
  EXPECT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency), VI_ERROR_TMO);
  server_.resume();
  ASSERT_EQ(pgxgen_cmdInt32_Q(s, ":TRIG:COUN?", &count), VI_SUCCESS);
  EXPECT_EQ(count, 1);
  ViReal64 width = 0;
  ASSERT_EQ(pgxgen_timeWidth_Q(s, 1, &width), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(width, 100e-9);  // the refused setting never went out
  ASSERT_EQ(pgxgen_cmdReal64_Q(s, ":FREQ?", &frequency), VI_SUCCESS);
  EXPECT_DOUBLE_EQ(frequency, 1e6);
}

TEST_F(DriverPgxsim, DroppedConnectionFailsEveryCallAndCloses) {
  ViSession vi = VI_NULL;
  ASSERT_EQ(pgxgen_init(server_.resource().c_str(), VI_TRUE, VI_FALSE, &vi), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeOut(vi, 200), VI_SUCCESS);
  server_.signal(SIGKILL);
  server_.reap();
  ViReal64 value = 0;
  ViChar text[256];
  for (int i = 0; i < 3; ++i) {
    EXPECT_LT(pgxgen_timeWidth_Q(vi, 1, &value), VI_SUCCESS);
    EXPECT_LT(pgxgen_cmdString_Q(vi, "*IDN?", sizeof text, text), VI_SUCCESS);
    // The system may still take a setting into its socket buffer; it never crashes.
    EXPECT_LE(pgxgen_timeWidth(vi, 1, 20e-9), VI_SUCCESS);
  }
  ViInt32 code = 0;
  EXPECT_LT(pgxgen_error_query(vi, &code, text), VI_SUCCESS);
  EXPECT_EQ(pgxgen_close(vi), VI_SUCCESS);
}

}  // namespace
}  // namespace pgx::driver
