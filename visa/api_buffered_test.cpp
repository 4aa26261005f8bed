// Buffered, file and asynchronous I/O, on the built-in bench and on TCP sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "visa/testing/default_bench_test.h"
#include "visa/testing/session_helpers.h"
#include "visa/testing/tcp_peer.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using namespace std::chrono_literals;
using testing::query;
using testing::ResourceManager;
using testing::TcpPeer;
using testing::TempDir;
using testing::write_text;

class VisaBufferedIo : public testing::DefaultBenchTest {
 protected:
  static ViStatus buf_write(ViSession vi, const std::string& text) {
    ViUInt32 count = 0;
    return viBufWrite(vi, reinterpret_cast<ViConstBuf>(text.data()), static_cast<ViUInt32>(text.size()),
                      &count);
  }
  static std::string buf_read(ViSession vi, ViUInt32 max, ViStatus* status) {
    std::string text(max, '\0');
    ViUInt32 count = 0;
    *status = viBufRead(vi, reinterpret_cast<ViPBuf>(text.data()), max, &count);
    text.resize(count);
    return text;
  }
};

TEST_F(VisaBufferedIo, TheWriteBufferSendsWhenFlushedOrFull) {
  ViSession vi = open("GPIB0::10::INSTR");
  ASSERT_EQ(buf_write(vi, "*IDN"), VI_SUCCESS);
  ASSERT_EQ(buf_write(vi, "?"), VI_SUCCESS);
  ViUInt16 stb = 0;
  ASSERT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
  EXPECT_EQ(stb & 0x10, 0);                          // held back: nothing was sent yet
  ASSERT_EQ(viFlush(vi, VI_WRITE_BUF), VI_SUCCESS);  // sent, with END on its last byte
  // The read buffer takes a whole reply at once and hands it out in pieces; the last piece ends the message.
  ASSERT_EQ(viSetBuf(vi, VI_READ_BUF, 64), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(buf_read(vi, 4, &status), "PGX ");
  EXPECT_EQ(status, VI_SUCCESS_MAX_CNT);
  std::string rest = buf_read(vi, 200, &status);
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_NE(rest.find("DE51000010"), std::string::npos);
  EXPECT_EQ(rest.back(), '\n');

  // A full buffer goes out without END: a message longer than the buffer arrives whole.
  ASSERT_EQ(viSetBuf(vi, VI_WRITE_BUF, 4), VI_SUCCESS);
  ViUInt32 size = 0;
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_WR_BUF_SIZE, &size), VI_SUCCESS);
  EXPECT_EQ(size, 4u);
  ASSERT_EQ(buf_write(vi, ":TRIG:COUN 123"), VI_SUCCESS);
  ASSERT_EQ(viFlush(vi, VI_WRITE_BUF), VI_SUCCESS);
  EXPECT_EQ(query(vi, ":TRIG:COUN?\n"), "123\n");
  EXPECT_EQ(query(vi, ":SYST:ERR?\n"), "0,\"No error\"\n");
  // Sent at the end of every call when asked to.
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS), VI_SUCCESS);
  ASSERT_EQ(buf_write(vi, ":TRIG:COUN 7"), VI_SUCCESS);
  EXPECT_EQ(query(vi, ":TRIG:COUN?\n"), "7\n");
  EXPECT_EQ(viSetAttribute(vi, VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_DISABLE), VI_ERROR_NSUP_ATTR_STATE);
}

TEST_F(VisaBufferedIo, FlushingTheReadBufferDropsTheRestOfTheMessage) {
  ViSession vi = open("GPIB0::11::INSTR");
  ASSERT_EQ(viSetBuf(vi, VI_READ_BUF, 8), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*IDN?\n"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(buf_read(vi, 3, &status), "PGX");
  ASSERT_EQ(viFlush(vi, VI_READ_BUF), VI_SUCCESS);  // the rest of the reply, beyond the buffer, goes too
  EXPECT_EQ(query(vi, "*OPC?\n"), "1\n");
  struct Case {
    ViUInt16 mask;
    ViStatus status;
  };
  const Case cases[] = {
      {VI_READ_BUF | VI_READ_BUF_DISCARD, VI_ERROR_INV_MASK},
      {VI_WRITE_BUF | VI_WRITE_BUF_DISCARD, VI_ERROR_INV_MASK},
      {0, VI_ERROR_INV_MASK},
      {0x100, VI_ERROR_INV_MASK},
      {VI_READ_BUF_DISCARD | VI_WRITE_BUF_DISCARD | VI_IO_IN_BUF | VI_IO_OUT_BUF, VI_SUCCESS},
  };
  for (const auto& c : cases) EXPECT_EQ(viFlush(vi, c.mask), c.status) << c.mask;
  EXPECT_EQ(viSetBuf(vi, VI_IO_IN_BUF, 100), VI_WARN_NSUP_BUF);  // serial ports only
  EXPECT_EQ(viSetBuf(vi, 0x40, 100), VI_ERROR_INV_MASK);
}

TEST_F(VisaBufferedIo, RepliesGoToFilesAndFilesToTheInstrument) {
  TempDir dir;
  ViSession vi = open("GPIB0::12::INSTR");
  const std::string reply = dir.file("reply.txt");
  ViUInt32 count = 0;
  ASSERT_EQ(write_text(vi, "*IDN?\n"), VI_SUCCESS);
  ASSERT_EQ(viReadToFile(vi, reply.c_str(), 1000, &count), VI_SUCCESS);
  std::string first = testing::read_file(reply);
  EXPECT_EQ(first.size(), count);
  EXPECT_NE(first.find("DE53000012"), std::string::npos);
  // Appended when the session says so, replaced otherwise.
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_FILE_APPEND_EN, VI_TRUE), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*OPC?\n"), VI_SUCCESS);
  ASSERT_EQ(viReadToFile(vi, reply.c_str(), 1000, &count), VI_SUCCESS);
  EXPECT_EQ(testing::read_file(reply), first + "1\n");

  // A file longer than one piece to send: one message all the same, END on its last byte only.
  std::string setting;
  for (int i = 0; i < 14000; ++i) setting += "*CLS;";
  setting += ":TRIG:COUN 42";
  const std::string commands = dir.write("commands.txt", setting);
  ASSERT_EQ(viWriteFromFile(vi, commands.c_str(), 0xFFFFFFFF, &count), VI_SUCCESS);
  EXPECT_EQ(count, setting.size());
  EXPECT_EQ(query(vi, ":TRIG:COUN?\n"), "42\n");
  ASSERT_EQ(viWriteFromFile(vi, commands.c_str(), 11, &count), VI_SUCCESS);  // ":TRIG:COUN " and END: -109
  EXPECT_EQ(count, 11u);
  EXPECT_NE(query(vi, ":SYST:ERR?\n"), "0,\"No error\"\n");

  EXPECT_EQ(viReadToFile(vi, (dir.file("no/such/folder") + "/x").c_str(), 10, &count), VI_ERROR_FILE_ACCESS);
  EXPECT_EQ(viWriteFromFile(vi, dir.file("missing").c_str(), 10, &count), VI_ERROR_FILE_ACCESS);
}

TEST_F(VisaBufferedIo, AnAsynchronousQueryCompletesAsAnEvent) {
  ViSession vi = open("VXI0::8::INSTR");
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_IO_COMPLETION, VI_QUEUE, VI_NULL), VI_SUCCESS);
  static const char question[] = "*IDN?\n";
  ViJobId write_job = VI_NULL, read_job = VI_NULL;
  ASSERT_EQ(viWriteAsync(vi, reinterpret_cast<ViConstBuf>(question), sizeof question - 1, &write_job),
            VI_SUCCESS);
  char answer[200] = {};
  ASSERT_EQ(viReadAsync(vi, reinterpret_cast<ViPBuf>(answer), sizeof answer, &read_job), VI_SUCCESS);
  EXPECT_NE(write_job, read_job);
  for (ViJobId expected : {write_job, read_job}) {
    ViEvent event = VI_NULL;
    ASSERT_EQ(viWaitOnEvent(vi, VI_EVENT_IO_COMPLETION, 3000, VI_NULL, &event) >= VI_SUCCESS, true);
    ViJobId job = VI_NULL;
    ViStatus status = VI_ERROR_SYSTEM_ERROR;
    ViUInt32 count = 0;
    char operation[VI_FIND_BUFLEN] = "";
    EXPECT_EQ(viGetAttribute(event, VI_ATTR_JOB_ID, &job), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(event, VI_ATTR_STATUS, &status), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(event, VI_ATTR_RET_COUNT_32, &count), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(event, VI_ATTR_OPER_NAME, operation), VI_SUCCESS);
    EXPECT_EQ(job, expected);
    EXPECT_EQ(status, VI_SUCCESS);
    if (job == write_job) {
      EXPECT_STREQ(operation, "viWriteAsync");
      EXPECT_EQ(count, sizeof question - 1);
    } else {
      EXPECT_STREQ(operation, "viReadAsync");
      EXPECT_EQ(std::string(answer, count).rfind("PGX Instruments,M4000A,DE40100001", 0), 0u);
    }
    viClose(event);
  }
  EXPECT_EQ(viTerminate(vi, VI_NULL, read_job), VI_ERROR_INV_JOB_ID);  // done already
  EXPECT_EQ(viTerminate(vi, 1, read_job), VI_ERROR_INV_DEGREE);
}

TEST_F(VisaBufferedIo, AnAsynchronousReadTerminatedMidWayHandsOverWhatCame) {
  TcpPeer peer([](int fd) {
    TcpPeer::read_line(fd);
    TcpPeer::send_all(fd, "par");  // the rest never comes
    TcpPeer::read_line(fd);        // until the test is done
  });
  ViSession vi = open(peer.resource());
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_INFINITE), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_IO_COMPLETION, VI_QUEUE, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "Q?\n"), VI_SUCCESS);
  char buf[64] = {};
  ViJobId job = VI_NULL;
  ASSERT_EQ(viReadAsync(vi, reinterpret_cast<ViPBuf>(buf), sizeof buf, &job), VI_SUCCESS);
  std::this_thread::sleep_for(150ms);  // the start of the reply has arrived; the read waits for its end
  EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_IO_COMPLETION, VI_TMO_IMMEDIATE, VI_NULL, VI_NULL), VI_ERROR_TMO);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(viTerminate(vi, VI_NULL, job), VI_SUCCESS);
  ViEvent event = VI_NULL;
  ASSERT_EQ(viWaitOnEvent(vi, VI_EVENT_IO_COMPLETION, 2000, VI_NULL, &event), VI_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  ViStatus status = VI_SUCCESS;
  ViUInt32 count = 0;
  ViBuf buffer = nullptr;
  EXPECT_EQ(viGetAttribute(event, VI_ATTR_STATUS, &status), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(event, VI_ATTR_RET_COUNT_32, &count), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(event, VI_ATTR_BUFFER, &buffer), VI_SUCCESS);
  EXPECT_EQ(status, VI_ERROR_ABORT);
  EXPECT_EQ(std::string(buf, count), "par");
  EXPECT_EQ(buffer, reinterpret_cast<ViBuf>(buf));
  viClose(event);
  ASSERT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(VisaBufferedIo, TerminatingWithoutAJobEndsTheReadInProgressAndClosingEndsTheJobs) {
  ViSession vi = open("GPIB0::13::INSTR");
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_INFINITE), VI_SUCCESS);
  std::atomic<ViStatus> status{1};
  std::thread reader([&] {
    ViStatus read_status;
    testing::read_text(vi, &read_status);  // nothing to read: it would wait for ever
    status = read_status;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(status, 1);
  ASSERT_EQ(viTerminate(vi, VI_NULL, VI_NULL), VI_SUCCESS);
  reader.join();
  EXPECT_EQ(status, VI_ERROR_ABORT);
  // A job still waiting ends with its session.
  char buf[16];
  ViJobId job = VI_NULL;
  ASSERT_EQ(viReadAsync(vi, reinterpret_cast<ViPBuf>(buf), sizeof buf, &job), VI_SUCCESS);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

}  // namespace
}  // namespace pgx::visa
