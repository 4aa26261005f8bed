// The I/O trace: what a user reads to see exactly what went to the instrument and came back.
#include "visa/trace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

struct Line {
  std::string thread, handle, resource, call, details, status;
};

std::vector<Line> read_trace(const std::string& path) {
  Trace::instance().flush();
  static const std::regex kLine(
      R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z (T\d+) (0x[0-9A-F]{8}) (\S+) (\w+)(?: (.*))? -> (\w+) \d+\.\dus$)");
  std::vector<Line> lines;
  std::istringstream in(testing::read_file(path));
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, kLine)) << text;
    if (!m.empty()) lines.push_back({m[1], m[2], m[3], m[4], m[5], m[6]});
  }
  return lines;
}

std::string hex(ViObject vi) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", vi);
  return text;
}

TEST(VisaTrace, ASmallSessionIsTracedExactly) {
  TempDir dir;
  std::string path = dir.file("io.trace");
  ScopedEnv trace("PGX_VISA_TRACE", path);
  ScopedEnv bench("PGX_VISA_BENCH", "");
  ViSession rm = VI_NULL, vi = VI_NULL;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  ASSERT_EQ(viOpen(rm, "gpib0::10", VI_NULL, 2500, &vi), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 3000), VI_SUCCESS);
  ASSERT_EQ(testing::write_text(vi, "*IDN?\n"), VI_SUCCESS);
  ViStatus status;
  std::string reply = testing::read_text(vi, &status, 512);
  ASSERT_EQ(status, VI_SUCCESS);
  ViInt16 slot;
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_SLOT, &slot), VI_ERROR_NSUP_ATTR);
  ASSERT_EQ(viClose(vi), VI_SUCCESS);
  ASSERT_EQ(viClose(rm), VI_SUCCESS);

  std::string escaped_reply = reply;
  ASSERT_EQ(escaped_reply.back(), '\n');
  escaped_reply.replace(escaped_reply.size() - 1, 1, "\\n");
  const std::string resource = "GPIB0::10::INSTR";
  std::vector<Line> expected = {
      {"", hex(rm), "-", "viOpenDefaultRM", "", "VI_SUCCESS"},
      {"", hex(vi), resource, "viOpen", "gpib0::10 mode=0 timeout=2500", "VI_SUCCESS"},
      {"", hex(vi), resource, "viSetAttribute", "VI_ATTR_TMO_VALUE = 3000", "VI_SUCCESS"},
      {"", hex(vi), resource, "viWrite", "\"*IDN?\\n\"", "VI_SUCCESS"},
      {"", hex(vi), resource, "viRead", "\"" + escaped_reply + "\" (max 512)", "VI_SUCCESS"},
      {"", hex(vi), resource, "viGetAttribute", "VI_ATTR_SLOT", "VI_ERROR_NSUP_ATTR"},
      {"", hex(vi), resource, "viClose", "", "VI_SUCCESS"},
      {"", hex(rm), "-", "viClose", "", "VI_SUCCESS"},
  };
  std::vector<Line> lines = read_trace(path);
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].handle, expected[i].handle);
    EXPECT_EQ(lines[i].resource, expected[i].resource);
    EXPECT_EQ(lines[i].call, expected[i].call);
    EXPECT_EQ(lines[i].details, expected[i].details);
    EXPECT_EQ(lines[i].status, expected[i].status);
    EXPECT_EQ(lines[i].thread, lines[0].thread);
  }
}

TEST(VisaTrace, BytesAreEscapedAndLongBlocksAbbreviated) {
  struct Case {
    std::string bytes;
    std::string shown;
  };
  const Case cases[] = {
      {"plain text", "\"plain text\""},
      {"a\r\n\t\"q\"\\", "\"a\\r\\n\\t\\\"q\\\"\\\\\""},
      {std::string("\x00\x01\x7f\xff", 4), "\"\\x00\\x01\\x7f\\xff\""},
      {std::string(96, 'x'), "\"" + std::string(96, 'x') + "\""},
      {std::string(97, 'y'), "\"" + std::string(48, 'y') + "\"... (97 bytes)"},
      {"#3100" + std::string(100, '\x80'), "\"#3100" + std::string(43 * 4, 'z') + "\"... (105 bytes)"},
  };
  for (const auto& c : cases) {
    std::string out;
    append_escaped(out, c.bytes.data(), c.bytes.size());
    std::string expected = c.shown;
    // The block case: 43 bytes of 0x80 shown as \x80.
    for (std::size_t at; (at = expected.find("zzzz")) != std::string::npos;) expected.replace(at, 4, "\\x80");
    EXPECT_EQ(out, expected);
  }
}

TEST(VisaTrace, NamesShowAsTheyAreWhenPlainAndCanNeverForgeALine) {
  struct Case {
    std::string name;
    std::string shown;
  };
  const Case cases[] = {
      {"GPIB0::10::INSTR", "GPIB0::10::INSTR"},
      {"tcpip::[::1]::5025::socket", "tcpip::[::1]::5025::socket"},
      {"GPIB0::10\n2026-12-08T04:31:07.512094Z T1 0x00001002 GPIB0::10::INSTR viWrite",
       "\"GPIB0::10\\n2026-12-08T04:31:07.512094Z\\x20T1\\x200x00001002\\x20GPIB0::10::INSTR\\x20viWrite\""},
      {"a b\"c\\", "\"a\\x20b\\\"c\\\\\""},
      {"x\ry", "\"x\\ry\""},
      {std::string(300, 'n'), "\"" + std::string(128, 'n') + "\"...(300-bytes)"},
  };
  for (const auto& c : cases) {
    std::string out;
    append_name(out, c.name);
    EXPECT_EQ(out, c.shown);
  }
}

TEST(VisaTrace, AResourceNameWithALineFeedStaysOnItsOwnLine) {
  TempDir dir;
  std::string path = dir.file("io.trace");
  ScopedEnv trace("PGX_VISA_TRACE", path);
  ScopedEnv bench("PGX_VISA_BENCH", "");
  const std::string forged =
      "GPIB0::10::INSTR\n2026-12-08T04:31:07.512094Z T1 0x00001002 GPIB0::10::INSTR viWrite \"*RST\\n\" -> "
      "VI_SUCCESS 1.0us";
  {
    testing::ResourceManager rm;
    ViSession vi = VI_NULL;
    EXPECT_EQ(viOpen(rm, forged.c_str(), VI_NULL, 0, &vi), VI_ERROR_INV_RSRC_NAME);
    ViUInt16 type = 0, board = 0;
    EXPECT_EQ(viParseRsrc(rm, forged.c_str(), &type, &board), VI_ERROR_INV_RSRC_NAME);
  }
  std::vector<Line> lines = read_trace(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].call, "viOpen");
  EXPECT_EQ(lines[2].call, "viParseRsrc");
  for (const auto& line : lines) EXPECT_NE(line.call, "viWrite");
  EXPECT_EQ(lines[2].details.rfind("\"GPIB0::10::INSTR\\n2026-12-08T04:31:07.512094Z\\x20T1", 0), 0u)
      << lines[2].details;
}

TEST(VisaTrace, AnUnusableTraceFileIsReportedOnceAndNeverFailsTheIo) {
  TempDir dir;
  std::string path = dir.file("no/such/folder/io.trace");
  ScopedEnv trace("PGX_VISA_TRACE", path);
  ScopedEnv bench("PGX_VISA_BENCH", "");
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    testing::ResourceManager rm;
    ASSERT_EQ(rm.status(), VI_SUCCESS);
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(rm, "GPIB0::10::INSTR", VI_NULL, 2500, &vi), VI_SUCCESS);
    EXPECT_NE(testing::query(vi, "*IDN?\n").find("DE51000010"), std::string::npos);
  }
  std::string errors = ::testing::internal::GetCapturedStderr();
  std::size_t first = errors.find(path);
  ASSERT_NE(first, std::string::npos) << errors;
  EXPECT_EQ(errors.find(path, first + 1), std::string::npos) << "reported more than once: " << errors;
  EXPECT_FALSE(Trace::instance().enabled());
}

// A trace file that is a pipe: the test holds the reading end and decides whether anybody reads.
class TracePipe {
 public:
  explicit TracePipe(const TempDir& dir) : path_(dir.file("trace.fifo")) {
    if (mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  }
  ~TracePipe() { stop_reading(); }
  const std::string& path() const { return path_; }
  // Opens the reading end (and then reads only when asked to).
  void start_reading() { reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
  void stop_reading() {
    if (reader_ >= 0) ::close(reader_);
    reader_ = -1;
  }
  // What has arrived so far.
  std::string take() {
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = ::read(reader_, chunk, sizeof chunk)) > 0;)
      text.append(chunk, static_cast<std::size_t>(n));
    return text;
  }

 private:
  std::string path_;
  int reader_ = -1;
};

// Traces `queries` *IDN? exchanges (two lines each) on a bench session.
void trace_queries(int queries) {
  testing::ResourceManager rm;
  ASSERT_EQ(rm.status(), VI_SUCCESS);
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB0::10::INSTR", VI_NULL, 2500, &vi), VI_SUCCESS);
  for (int i = 0; i < queries; ++i)
    ASSERT_NE(testing::query(vi, "*IDN?\n").find("DE51000010"), std::string::npos);
}

TEST(VisaTrace, APipeThatNobodyReadsIsReportedAndNeverHoldsUpTheProgram) {
  TempDir dir;
  TracePipe pipe(dir);
  ScopedEnv bench("PGX_VISA_BENCH", "");
  ScopedEnv trace("PGX_VISA_TRACE", pipe.path());
  ::testing::internal::CaptureStderr();
  trace_queries(3);  // opening the trace file would wait for a reader for ever
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find(pipe.path()), std::string::npos) << errors;
  EXPECT_FALSE(Trace::instance().enabled());

  // Once a program reads the pipe, the next resource manager traces into it.
  pipe.start_reading();
  trace_queries(1);
  Trace::instance().flush();
  std::string traced = pipe.take();
  EXPECT_NE(traced.find("viOpenDefaultRM"), std::string::npos) << traced;
  EXPECT_NE(traced.find("*IDN?"), std::string::npos) << traced;
}

TEST(VisaTrace, AReaderThatStopsReadingOrGoesAwayNeverHoldsUpOrEndsTheProgram) {
  TempDir dir;
  TracePipe pipe(dir);
  pipe.start_reading();
  ScopedEnv bench("PGX_VISA_BENCH", "");
  {
    ScopedEnv trace("PGX_VISA_TRACE", pipe.path());
    trace_queries(2000);        // several times what the pipe holds, and nobody reads it
    Trace::instance().flush();  // gives up after a while
  }
  // Switching to another file is not held up either, and the new file gets its lines.
  std::string file = dir.file("io.trace");
  {
    ScopedEnv trace("PGX_VISA_TRACE", file);
    trace_queries(1);
  }
  auto lines = read_trace(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().call, "viOpenDefaultRM");

  // A reader that goes away makes writing to the pipe fail, which must not end the program.
  ::testing::internal::CaptureStderr();
  {
    ScopedEnv trace("PGX_VISA_TRACE", pipe.path());
    trace_queries(1);
    pipe.stop_reading();
    trace_queries(5);
    Trace::instance().flush();
  }
  ::testing::internal::GetCapturedStderr();
}

TEST(VisaTrace, AProgramEndsPromptlyWhenItsTraceFileTakesNothing) {
  if (getenv("PGX_TRACE_TEST_CHILD")) {
    // The program under test: this test again, in a process of its own, tracing into a full pipe.
    trace_queries(2000);
    return;
  }
  TempDir dir;
  TracePipe pipe(dir);
  pipe.start_reading();
  pid_t child = fork();
  if (child == 0) {
    setenv("PGX_TRACE_TEST_CHILD", "1", 1);
    setenv("PGX_VISA_TRACE", pipe.path().c_str(), 1);
    setenv("PGX_VISA_BENCH", "", 1);
    int quiet = ::open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    execl("/proc/self/exe", "visa_trace_test",
          "--gtest_filter=VisaTrace.AProgramEndsPromptlyWhenItsTraceFileTakesNothing",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  pid_t ended = 0;
  for (int waited = 0; waited < 600 && (ended = waitpid(child, &status, WNOHANG)) == 0; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (ended == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the program did not end: its exit waits for the trace file";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(VisaTrace, TracingFollowsTheVariableAndIsOffWithoutIt) {
  TempDir dir;
  std::string first = dir.file("first.trace"), second = dir.file("second.trace");
  ScopedEnv bench("PGX_VISA_BENCH", "");
  {
    ScopedEnv trace("PGX_VISA_TRACE", first);
    testing::ResourceManager rm;
  }
  {
    ScopedEnv trace("PGX_VISA_TRACE", second);
    testing::ResourceManager rm;
    // The file that tracing left holds its lines by now, without waiting for a flush.
    std::string left = testing::read_file(first);
    EXPECT_NE(left.find("viOpenDefaultRM"), std::string::npos) << left;
    EXPECT_NE(left.find("viClose"), std::string::npos) << left;
  }
  {
    ScopedEnv trace("PGX_VISA_TRACE", "");
    testing::ResourceManager rm;
    EXPECT_FALSE(Trace::instance().enabled());
  }
  // Each file holds the open and close made while the variable named it.
  EXPECT_EQ(read_trace(first).size(), 2u);
  auto lines = read_trace(second);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].call, "viOpenDefaultRM");
}

}  // namespace
}  // namespace pgx::visa
