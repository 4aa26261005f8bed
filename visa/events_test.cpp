// Events on the built-in bench: service requests from the instruments' status bytes, the queue and its
// overflow, handlers that call VISA, and exceptions.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "visa/testing/default_bench_test.h"
#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using namespace std::chrono_literals;
using testing::query;
using testing::ResourceManager;
using testing::write_text;

class VisaEvents : public testing::DefaultBenchTest {
 protected:
  // A session on an instrument as it is after a device clear, *CLS and a serial poll: no reply waiting, no
  // enable mask set and no request for service pending (other tests may have used it).
  ViSession open(const char* name) {
    ViSession vi = DefaultBenchTest::open(name);
    ViUInt16 stb = 0;
    EXPECT_EQ(viClear(vi), VI_SUCCESS);
    EXPECT_EQ(write_text(vi, "*CLS;*SRE 0;*ESE 0\n"), VI_SUCCESS);
    EXPECT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
    return vi;
  }
};

// Something a handler tells the test thread.
struct Signal {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> notes;

  void note(std::string text) {
    std::lock_guard lock(mutex);
    notes.push_back(std::move(text));
    changed.notify_all();
  }
  bool wait_for(std::size_t count, std::chrono::milliseconds timeout = 3s) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return notes.size() >= count; });
  }
};

TEST_F(VisaEvents, AnOperationCompleteRequestsServiceAndTheQueueHasIt) {
  ViSession vi = open("GPIB0::12::INSTR");
  ASSERT_EQ(write_text(vi, "*CLS\n"), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
  ViEventType type = 0;
  ViEvent event = VI_NULL;
  EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, VI_TMO_IMMEDIATE, &type, &event), VI_ERROR_TMO);
  ASSERT_EQ(write_text(vi, "*ESE 1;*SRE 32;*OPC\n"), VI_SUCCESS);
  ASSERT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 2000, &type, &event), VI_SUCCESS);
  EXPECT_EQ(type, VI_EVENT_SERVICE_REQ);
  ViEventType reported = 0;
  EXPECT_EQ(viGetAttribute(event, VI_ATTR_EVENT_TYPE, &reported), VI_SUCCESS);
  EXPECT_EQ(reported, VI_EVENT_SERVICE_REQ);
  EXPECT_EQ(viClose(event), VI_SUCCESS);
  // The serial poll reads RQS and the event summary, and takes the request back.
  ViUInt16 stb = 0;
  ASSERT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
  EXPECT_EQ(stb & 0x60, 0x60);
  ASSERT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
  EXPECT_EQ(stb & 0x40, 0);
  // One request, one event.
  EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, VI_TMO_IMMEDIATE, &type, VI_NULL), VI_ERROR_TMO);
}

TEST_F(VisaEvents, ASessionThatBeginsToListenWhileSrqIsAssertedHearsIt) {
  // PyVISA's wait_for_srq() enables the event after the instrument was told to request service.
  ViSession vi = open("GPIB0::11::INSTR");
  ASSERT_EQ(write_text(vi, "*CLS;*ESE 1;*SRE 32;*OPC\n"), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
  EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 1000, VI_NULL, VI_NULL), VI_SUCCESS);
  ViUInt16 stb = 0;
  ASSERT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
  // Polled: a session enabling now hears nothing.
  ASSERT_EQ(viDisableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
  EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 100, VI_NULL, VI_NULL), VI_ERROR_TMO);
}

TEST_F(VisaEvents, EverySessionOnTheInstrumentAndItsBoardHearTheRequest) {
  ViSession first = open("VXI0::16::INSTR"), second = open("VXI0::16::INSTR"), other = open("VXI0::8::INSTR");
  ViSession gpib = open("GPIB0::10::INSTR"), board = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB0::INTFC", VI_NULL, 0, &board), VI_SUCCESS);
  for (ViSession vi : {first, second, other, gpib, board})
    ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(write_text(first, "*CLS;*ESE 1;*SRE 32;*OPC\n"), VI_SUCCESS);
  ASSERT_EQ(write_text(gpib, "*CLS;*SRE 16;*IDN?\n"), VI_SUCCESS);  // a reply waiting (MAV)
  EXPECT_EQ(viWaitOnEvent(first, VI_EVENT_SERVICE_REQ, 1000, VI_NULL, VI_NULL), VI_SUCCESS);
  EXPECT_EQ(viWaitOnEvent(second, VI_EVENT_SERVICE_REQ, 1000, VI_NULL, VI_NULL), VI_SUCCESS);
  EXPECT_EQ(viWaitOnEvent(other, VI_EVENT_SERVICE_REQ, 100, VI_NULL, VI_NULL), VI_ERROR_TMO);
  EXPECT_EQ(viWaitOnEvent(gpib, VI_EVENT_SERVICE_REQ, 1000, VI_NULL, VI_NULL), VI_SUCCESS);
  EXPECT_EQ(viWaitOnEvent(board, VI_EVENT_SERVICE_REQ, 1000, VI_NULL, VI_NULL), VI_SUCCESS);
  ViInt16 srq = VI_STATE_UNKNOWN;
  EXPECT_EQ(viGetAttribute(board, VI_ATTR_GPIB_SRQ_STATE, &srq), VI_SUCCESS);
  EXPECT_EQ(srq, VI_STATE_ASSERTED);
  ViUInt16 stb = 0;
  ASSERT_EQ(viReadSTB(gpib, &stb), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(board, VI_ATTR_GPIB_SRQ_STATE, &srq), VI_SUCCESS);
  EXPECT_EQ(srq, VI_STATE_UNASSERTED);
}

TEST_F(VisaEvents, AFullQueueKeepsTheOldestAndTellsOfTheLoss) {
  ViSession vi = open("GPIB0::13::INSTR");
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_MAX_QUEUE_LENGTH, 2), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*CLS;*SRE 16\n"), VI_SUCCESS);
  for (int i = 0; i < 4; ++i) query(vi, "*IDN?\n");  // each reply is a new request: MAV rises, then falls
  ViStatus statuses[3];
  for (ViStatus& status : statuses) status = viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 0, VI_NULL, VI_NULL);
  EXPECT_EQ(statuses[0], VI_WARN_QUEUE_OVERFLOW);  // two kept, two lost
  EXPECT_EQ(statuses[1], VI_SUCCESS);
  EXPECT_EQ(statuses[2], VI_ERROR_TMO);

  query(vi, "*IDN?\n");
  query(vi, "*IDN?\n");
  EXPECT_EQ(viDiscardEvents(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE), VI_SUCCESS);
  EXPECT_EQ(viDiscardEvents(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE), VI_SUCCESS_QUEUE_EMPTY);
  EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 0, VI_NULL, VI_NULL), VI_ERROR_TMO);
  // Disabled, the queue takes no more, and waiting for the type is refused.
  EXPECT_EQ(viDisableEvent(vi, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS);
  EXPECT_EQ(viDisableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE), VI_SUCCESS_EVENT_DIS);
  EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 0, VI_NULL, VI_NULL), VI_ERROR_NENABLED);
}

TEST_F(VisaEvents, EnablingIsCheckedAsTheStandardSays) {
  ViSession vi = open("GPIB0::10::INSTR");
  struct Case {
    ViEventType type;
    ViUInt16 mechanism;
    ViStatus status;
  };
  const Case cases[] = {
      {VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_SUCCESS},
      {VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_SUCCESS_EVENT_EN},
      {VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_ERROR_HNDLR_NINSTALLED},
      {VI_EVENT_SERVICE_REQ, VI_HNDLR | VI_SUSPEND_HNDLR, VI_ERROR_INV_MECH},
      {VI_EVENT_SERVICE_REQ, 0, VI_ERROR_INV_MECH},
      {VI_EVENT_IO_COMPLETION, VI_QUEUE, VI_SUCCESS},
      {VI_EVENT_EXCEPTION, VI_QUEUE, VI_ERROR_NSUP_MECH},  // exceptions go to handlers only
      {VI_EVENT_VXI_SIGP, VI_QUEUE, VI_ERROR_INV_EVENT},   // not an event of a GPIB instrument
      {VI_ALL_ENABLED_EVENTS, VI_QUEUE, VI_ERROR_INV_EVENT},
      {0x12345678, VI_QUEUE, VI_ERROR_INV_EVENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.mechanism));
    EXPECT_EQ(viEnableEvent(vi, c.type, c.mechanism, VI_NULL), c.status);
  }
  EXPECT_EQ(viEnableEvent(vi, VI_EVENT_IO_COMPLETION, VI_QUEUE, 7), VI_ERROR_INV_CONTEXT);
  EXPECT_EQ(viEnableEvent(rm, VI_EVENT_EXCEPTION, VI_HNDLR, VI_NULL), VI_ERROR_HNDLR_NINSTALLED);
  EXPECT_EQ(viEnableEvent(rm, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_ERROR_INV_EVENT);
  EXPECT_EQ(viInstallHandler(vi, VI_EVENT_SERVICE_REQ, VI_NULL, VI_NULL), VI_ERROR_INV_HNDLR_REF);
  EXPECT_EQ(viUninstallHandler(vi, VI_EVENT_SERVICE_REQ, VI_NULL, VI_NULL), VI_ERROR_INV_HNDLR_REF);
  // A closed session: PyVISA disables and discards before it closes, even on a session that enabled nothing.
  ViSession closed = open("GPIB0::10::INSTR");
  EXPECT_EQ(viDisableEvent(closed, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS_EVENT_DIS);
  EXPECT_EQ(viDiscardEvents(closed, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS_QUEUE_EMPTY);
  ASSERT_EQ(viClose(closed), VI_SUCCESS);
  EXPECT_EQ(viEnableEvent(closed, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_ERROR_INV_OBJECT);
}

// A handler that serial-polls and reads the instrument's reply on the session it was called for.
struct PollingHandler {
  Signal signal;
  static ViStatus _VI_FUNCH handle(ViSession vi, ViEventType type, ViEvent event, ViAddr user) {
    auto* self = static_cast<PollingHandler*>(user);
    ViEventType reported = 0;
    viGetAttribute(event, VI_ATTR_EVENT_TYPE, &reported);
    ViUInt16 stb = 0;
    ViStatus polled = viReadSTB(vi, &stb);
    ViStatus status = VI_SUCCESS;
    std::string reply = (stb & 0x10) ? testing::read_text(vi, &status) : "";
    self->signal.note(std::to_string(type == reported) + "/" + std::to_string(polled) + "/" +
                      std::to_string(stb & 0x40) + "/" + reply);
    return VI_SUCCESS;
  }
};

TEST_F(VisaEvents, AHandlerRunsOnTheLibrarysThreadAndMayReadItsOwnSession) {
  ViSession vi = open("GPIB0::10::INSTR");
  PollingHandler handler;
  ASSERT_EQ(viInstallHandler(vi, VI_EVENT_SERVICE_REQ, &PollingHandler::handle, &handler), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*CLS;*SRE 16\n"), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*OPC?\n"), VI_SUCCESS);  // the reply is the request; the handler reads it
  ASSERT_TRUE(handler.signal.wait_for(1));
  EXPECT_EQ(handler.signal.notes[0], "1/0/64/1\n");
  // The handler and this thread race for the next reply on the same session: whichever holds the session
  // first reads it, the other waits its turn (and finds nothing), and neither is stuck.
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*IDN?\n"), VI_SUCCESS);
  ViStatus status;
  std::string mine = testing::read_text(vi, &status);
  ASSERT_TRUE(handler.signal.wait_for(2));
  const std::string& note = handler.signal.notes[1];
  std::string theirs = note.substr(note.find('/', note.find('/', note.find('/') + 1) + 1) + 1);
  EXPECT_NE(mine.empty(), theirs.empty()) << mine << " | " << theirs;
  EXPECT_NE((mine + theirs).find("DE51000010"), std::string::npos);
  EXPECT_EQ(viUninstallHandler(vi, VI_EVENT_SERVICE_REQ, &PollingHandler::handle, &handler), VI_SUCCESS);
  EXPECT_EQ(viUninstallHandler(vi, VI_EVENT_SERVICE_REQ, &PollingHandler::handle, &handler),
            VI_ERROR_INV_HNDLR_REF);
}

TEST_F(VisaEvents, SuspendedHandlersGetTheEventsOnceResumed) {
  ViSession vi = open("GPIB0::12::INSTR");
  PollingHandler handler;
  ASSERT_EQ(viInstallHandler(vi, VI_EVENT_SERVICE_REQ, &PollingHandler::handle, &handler), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_SUSPEND_HNDLR, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*CLS;*ESE 1;*SRE 32;*OPC\n"), VI_SUCCESS);
  EXPECT_FALSE(handler.signal.wait_for(1, 100ms));
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_NULL), VI_SUCCESS);
  ASSERT_TRUE(handler.signal.wait_for(1));
  EXPECT_EQ(handler.signal.notes[0], "1/0/64/");
}

// Handlers are called last installed first, until one says VI_SUCCESS_NCHAIN.
struct ChainHandler {
  static ViStatus _VI_FUNCH first(ViSession, ViEventType, ViEvent, ViAddr user) {
    static_cast<Signal*>(user)->note("first");
    return VI_SUCCESS;
  }
  static ViStatus _VI_FUNCH second(ViSession, ViEventType, ViEvent, ViAddr user) {
    static_cast<Signal*>(user)->note("second");
    return VI_SUCCESS_NCHAIN;
  }
};

TEST_F(VisaEvents, HandlersAreCalledLastInstalledFirstUntilOneEndsTheChain) {
  ViSession vi = open("VXI0::24::INSTR");
  Signal signal;
  ASSERT_EQ(viInstallHandler(vi, VI_EVENT_SERVICE_REQ, &ChainHandler::first, &signal), VI_SUCCESS);
  ASSERT_EQ(viInstallHandler(vi, VI_EVENT_SERVICE_REQ, &ChainHandler::second, &signal), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*CLS;*ESE 1;*SRE 32;*OPC\n"), VI_SUCCESS);
  ASSERT_TRUE(signal.wait_for(1));
  ASSERT_EQ(viUninstallHandler(vi, VI_EVENT_SERVICE_REQ, &ChainHandler::second, &signal), VI_SUCCESS);
  EXPECT_EQ(signal.notes, std::vector<std::string>{"second"});
  ViUInt16 stb;
  viReadSTB(vi, &stb);
  ASSERT_EQ(write_text(vi, "*CLS;*OPC\n"), VI_SUCCESS);
  ASSERT_TRUE(signal.wait_for(2));
  EXPECT_EQ(signal.notes.back(), "first");
}

// A handler that closes its own session, as a program that is done after one request might.
struct ClosingHandler {
  static ViStatus _VI_FUNCH handle(ViSession vi, ViEventType, ViEvent, ViAddr user) {
    static_cast<Signal*>(user)->note(std::to_string(viClose(vi)));
    return VI_SUCCESS;
  }
};

TEST_F(VisaEvents, AHandlerMayCloseItsOwnSession) {
  ViSession vi = open("GPIB0::11::INSTR");
  Signal signal;
  ASSERT_EQ(viInstallHandler(vi, VI_EVENT_SERVICE_REQ, &ClosingHandler::handle, &signal), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*CLS;*ESE 1;*SRE 32;*OPC\n"), VI_SUCCESS);
  ASSERT_TRUE(signal.wait_for(1));
  EXPECT_EQ(signal.notes[0], "0");
  EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);
}

// A slow handler: closing its session from another thread waits until it has returned.
struct SlowHandler {
  std::atomic<bool> running{false};
  std::atomic<bool> finished{false};
  static ViStatus _VI_FUNCH handle(ViSession, ViEventType, ViEvent, ViAddr user) {
    auto* self = static_cast<SlowHandler*>(user);
    self->running = true;
    std::this_thread::sleep_for(200ms);
    self->finished = true;
    return VI_SUCCESS;
  }
};

TEST_F(VisaEvents, ClosingASessionWaitsForItsRunningHandler) {
  ViSession vi = open("GPIB0::13::INSTR");
  SlowHandler handler;
  ASSERT_EQ(viInstallHandler(vi, VI_EVENT_SERVICE_REQ, &SlowHandler::handle, &handler), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(write_text(vi, "*CLS;*ESE 1;*SRE 32;*OPC\n"), VI_SUCCESS);
  while (!handler.running) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(viClose(vi), VI_SUCCESS);
  EXPECT_TRUE(handler.finished);  // the application may free what the handler uses from here on
}

struct ExceptionHandler {
  Signal signal;
  std::thread::id thread;
  static ViStatus _VI_FUNCH handle(ViSession vi, ViEventType type, ViEvent event, ViAddr user) {
    auto* self = static_cast<ExceptionHandler*>(user);
    self->thread = std::this_thread::get_id();
    ViStatus status = VI_SUCCESS;
    char operation[VI_FIND_BUFLEN] = "";
    viGetAttribute(event, VI_ATTR_STATUS, &status);
    viGetAttribute(event, VI_ATTR_OPER_NAME, operation);
    // A failing call inside the handler raises no exception event of its own.
    ViUInt32 count = 0;
    viRead(vi, VI_NULL, 5, &count);
    self->signal.note(std::to_string(type == VI_EVENT_EXCEPTION) + " " + std::to_string(status) + " " +
                      operation);
    return VI_SUCCESS;
  }
};

TEST_F(VisaEvents, AFailedCallRaisesAnExceptionOnTheCallersThread) {
  ViSession vi = open("GPIB0::10::INSTR");
  ExceptionHandler handler;
  ASSERT_EQ(viInstallHandler(vi, VI_EVENT_EXCEPTION, &ExceptionHandler::handle, &handler), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_EXCEPTION, VI_HNDLR, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 50), VI_SUCCESS);
  ViStatus status;
  testing::read_text(vi, &status);  // nothing to read
  EXPECT_EQ(status, VI_ERROR_TMO);
  ASSERT_EQ(handler.signal.notes.size(), 1u);  // already called, before viRead returned
  EXPECT_EQ(handler.signal.notes[0], "1 " + std::to_string(VI_ERROR_TMO) + " viRead");
  EXPECT_EQ(handler.thread, std::this_thread::get_id());
  EXPECT_EQ(viSetAttribute(vi, 0x3FFF7777, 1), VI_ERROR_NSUP_ATTR);
  ASSERT_EQ(handler.signal.notes.size(), 2u);
  EXPECT_EQ(handler.signal.notes[1], "1 " + std::to_string(VI_ERROR_NSUP_ATTR) + " viSetAttribute");
  // A success raises nothing.
  query(vi, "*IDN?\n");
  EXPECT_EQ(handler.signal.notes.size(), 2u);
}

}  // namespace
}  // namespace pgx::visa
