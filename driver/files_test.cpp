// The pattern and setting files: only regular files are read or written, the size limit is checked before
// anything is read, and nothing is ever left waiting on a FIFO.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>

#include "driver/pgxgen.h"
#include "driver/testing/bench.h"

namespace pgx::driver {
namespace {

using testing::Bench;
using testing::Session;
using testing::TempDir;

constexpr std::size_t kLimit = 1u << 20;

class DriverFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(s_.status(), VI_SUCCESS); }

  // A FIFO in the test's folder.
  std::string fifo(const std::string& name) const {
    const std::string path = dir_.file(name);
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path;
  }

  // Runs `call`, which must not wait for the other end of `fifo_path`. Should it wait all the same, the
  // other end is opened (and closed once the call is done), so that the test fails instead of hanging.
  static ViStatus without_waiting(const std::string& fifo_path, bool call_reads,
                                  std::function<ViStatus()> call) {
    auto result = std::async(std::launch::async, std::move(call));
    if (result.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return result.get();
    ADD_FAILURE() << "the call waits for the other end of " << fifo_path;
    const int other_end = ::open(fifo_path.c_str(), call_reads ? O_WRONLY : O_RDONLY);
    const ViStatus status = result.get();
    if (other_end >= 0) ::close(other_end);
    return status;
  }

  Bench bench_{{{"GPIB0::12::INSTR", {"Q530A", "Q530A"}}}};
  Session s_{"GPIB0::12::INSTR"};
  TempDir dir_;
};

TEST_F(DriverFiles, OnlyRegularFilesWithinTheLimitAreRead) {
  const std::string sparse = dir_.file("huge.bin");
  {
    // 8 GiB that take no room: read whole, they would exhaust the memory long before the size check.
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{8} << 30), 0);
    ::close(fd);
  }
  const std::string at_limit = dir_.write("at-limit.txt", std::string(kLimit - 8, ' ') + "01100110");
  const std::string over_limit = dir_.write("over-limit.txt", std::string(kLimit - 7, ' ') + "01100110");
  const struct {
    const char* what;
    std::string name;
    ViStatus pattern;
    ViStatus setting;
  } cases[] = {
      {"missing", dir_.file("missing"), PGXGEN_ERROR_FILE_IO, PGXGEN_ERROR_FILE_IO},
      {"directory", dir_.path().string(), PGXGEN_ERROR_FILE_IO, PGXGEN_ERROR_FILE_IO},
      {"character device", "/dev/null", PGXGEN_ERROR_FILE_IO, PGXGEN_ERROR_FILE_IO},
      {"sparse 8 GiB", sparse, PGXGEN_ERROR_FILE_FORMAT, PGXGEN_ERROR_FILE_FORMAT},
      {"one byte over 1 MiB", over_limit, PGXGEN_ERROR_FILE_FORMAT, PGXGEN_ERROR_FILE_FORMAT},
      {"1 MiB", at_limit, VI_SUCCESS, VI_SUCCESS},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pgxgen_patternDataDownloadFile(s_, 1, c.name.c_str()), c.pattern) << c.what;
    // The setting file is sent as it is: the instrument refuses this one, but it was read.
    EXPECT_EQ(pgxgen_settingFile(s_, c.name.c_str()), c.setting) << c.what;
  }
  ViByte read[16];
  ViInt32 count = 0;
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer_Q(s_, 1, read, &count, sizeof read, VI_TRUE), VI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(read), count), "01100110");

  // A FIFO is not waited for, with or without a writer.
  const std::string pipe = fifo("pattern.fifo");
  EXPECT_EQ(without_waiting(pipe, true, [&] { return pgxgen_patternDataDownloadFile(s_, 1, pipe.c_str()); }),
            PGXGEN_ERROR_FILE_IO);
  const int writer = ::open(pipe.c_str(), O_RDWR);  // keeps a writer that never writes
  ASSERT_GE(writer, 0);
  EXPECT_EQ(without_waiting(pipe, true, [&] { return pgxgen_settingFile(s_, pipe.c_str()); }),
            PGXGEN_ERROR_FILE_IO);
  ::close(writer);
}

TEST_F(DriverFiles, OnlyRegularFilesAreWrittenAndOnlyWhole) {
  // Not a regular file: refused, nothing written there.
  const std::string pipe = fifo("setting.fifo");
  EXPECT_EQ(without_waiting(pipe, false, [&] { return pgxgen_settingFile_Q(s_, pipe.c_str()); }),
            PGXGEN_ERROR_FILE_IO);
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(
      without_waiting(pipe, false, [&] { return pgxgen_patternDataDownloadFile_Q(s_, 1, 1, pipe.c_str()); }),
      PGXGEN_ERROR_FILE_IO);
  char byte = 0;
  EXPECT_LE(::read(reader, &byte, 1), 0) << "something was written into the FIFO";
  ::close(reader);
  EXPECT_EQ(pgxgen_settingFile_Q(s_, "/dev/null"), PGXGEN_ERROR_FILE_IO);
  EXPECT_EQ(pgxgen_settingFile_Q(s_, dir_.path().c_str()), PGXGEN_ERROR_FILE_IO);

  // A regular file is replaced whole: nothing of a longer earlier content is left.
  const std::string file = dir_.write("pattern.txt", std::string(100, '1'));
  const ViByte pattern[] = {0, 1, 1};
  ASSERT_EQ(pgxgen_patternDataDownloadBuffer(s_, 2, pattern, 3), VI_SUCCESS);
  ASSERT_EQ(pgxgen_patternDataDownloadFile_Q(s_, 2, VI_TRUE, file.c_str()), VI_SUCCESS);
  EXPECT_EQ(testing::read_file(file), "011\n");
  // A relative name is taken from the current directory.
  const std::string here = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_.path());
  const ViStatus relative = pgxgen_patternDataDownloadFile_Q(s_, 2, VI_FALSE, "relative.bin");
  std::filesystem::current_path(here);
  ASSERT_EQ(relative, VI_SUCCESS);
  EXPECT_EQ(testing::read_file(dir_.file("relative.bin")), std::string("\0\1\1", 3));
}

TEST_F(DriverFiles, FailedQueryLeavesTheFileAsItWas) {
  Bench bench({{"GPIB0::12::INSTR",
                {"Q530A", "Q530A"},
                "{scripted-replies: {\":DIG:PATT:DATA1?\": \"#13ab\", \"*LRN?\": \"\"}}"}});
  Session s("GPIB0::12::INSTR");
  ASSERT_EQ(s.status(), VI_SUCCESS);
  const std::string file = dir_.write("kept.txt", "kept\n");
  EXPECT_EQ(pgxgen_patternDataDownloadFile_Q(s, 1, VI_TRUE, file.c_str()), PGXGEN_ERROR_INVALID_RESPONSE);
  EXPECT_EQ(pgxgen_settingFile_Q(s, file.c_str()), PGXGEN_ERROR_INVALID_RESPONSE);
  EXPECT_EQ(testing::read_file(file), "kept\n");
}

}  // namespace
}  // namespace pgx::driver
