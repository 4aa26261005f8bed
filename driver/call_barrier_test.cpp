// The barrier of every driver call: an exception inside a call on a real session becomes a status, and
// pgxgen_error_message then says what the exception said, for that call only.

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "driver/pgxgen.h"
#include "driver/session_table.h"
#include "driver/testing/bench.h"

namespace pgx::driver {
namespace {

std::string message_of(ViStatus status, ViSession vi = VI_NULL) {
  ViChar text[256];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(pgxgen_error_message(vi, status, text), VI_SUCCESS);
  const std::string message(text, strnlen(text, sizeof text));
  EXPECT_LT(message.size(), sizeof text);
  return message;
}

class CallBarrier : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(session_.status(), VI_SUCCESS); }

  template <class Throw>
  ViStatus call_throwing(Throw&& thrower) {
    return with_session(session_.vi(), [&](Session&) -> ViStatus {
      thrower();
      return VI_SUCCESS;
    });
  }

  testing::Bench bench_{{{"GPIB0::10::INSTR", {"Q510A"}}}};
  testing::Session session_{"GPIB0::10::INSTR"};
  const std::string system_error_ = message_of(VI_ERROR_SYSTEM_ERROR);
};

TEST_F(CallBarrier, ExceptionsBecomeStatusesAndTheMessageKeepsWhatTheySaid) {
  struct Case {
    const char* what;
    void (*thrower)();
    ViStatus status;
    std::string detail;  // what the message adds to the status's own text
  } cases[] = {
      {"std::exception", [] { throw std::runtime_error("lost the plot"); }, VI_ERROR_SYSTEM_ERROR,
       " Detail: lost the plot"},
      {"out of memory", [] { throw std::bad_alloc(); }, VI_ERROR_ALLOC, ""},
      {"not a std::exception", [] { throw 42; }, VI_ERROR_SYSTEM_ERROR, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string plain = message_of(c.status);
    ASSERT_EQ(call_throwing(c.thrower), c.status);
    EXPECT_EQ(message_of(c.status, session_.vi()), plain + c.detail);
    EXPECT_EQ(message_of(c.status), plain + c.detail) << "the session does not matter";
    EXPECT_EQ(message_of(VI_ERROR_TMO), message_of(VI_ERROR_TMO)) << "other statuses have no detail";
  }
}

TEST_F(CallBarrier, ALongDetailIsCutToTheCallersBuffer) {
  ASSERT_EQ(call_throwing([] { throw std::runtime_error(std::string(1000, 'w')); }), VI_ERROR_SYSTEM_ERROR);
  const std::string message = message_of(VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(message.size(), 255u);
  EXPECT_EQ(message.rfind(system_error_ + " Detail: www", 0), 0u);
}

TEST_F(CallBarrier, TheDetailBelongsToTheLastCallOfItsThread) {
  ASSERT_EQ(call_throwing([] { throw std::runtime_error("lost the plot"); }), VI_ERROR_SYSTEM_ERROR);
  std::string on_other_thread;
  std::thread([&] { on_other_thread = message_of(VI_ERROR_SYSTEM_ERROR); }).join();
  EXPECT_EQ(on_other_thread, system_error_);
  EXPECT_NE(message_of(VI_ERROR_SYSTEM_ERROR), system_error_) << "asking does not use it up";

  // Any later call forgets it, whether it succeeds or fails otherwise.
  ViBoolean complete = VI_FALSE;
  ASSERT_EQ(pgxgen_opc_Q(session_.vi(), &complete), VI_SUCCESS);
  EXPECT_EQ(message_of(VI_ERROR_SYSTEM_ERROR), system_error_);

  ASSERT_EQ(call_throwing([] { throw std::runtime_error("lost the plot"); }), VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(pgxgen_close(0xDEADBEEF), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(message_of(VI_ERROR_SYSTEM_ERROR), system_error_);

  ASSERT_EQ(call_throwing([] { throw std::runtime_error("lost the plot"); }), VI_ERROR_SYSTEM_ERROR);
  ViSession vi = VI_NULL;
  EXPECT_LT(pgxgen_init("GPIB0::5::INSTR", VI_TRUE, VI_FALSE, &vi), VI_SUCCESS);
  EXPECT_EQ(message_of(VI_ERROR_SYSTEM_ERROR), system_error_);
}

}  // namespace
}  // namespace pgx::driver
