// Trigger against the recording driver: the trigger mode read from the three settings it is made of and set
// through them, the children, and the plain members.
#include "server/trigger/trigger.h"

#include <gtest/gtest.h>

#include <optional>

#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using driver::testing::Scpi;
using testing::ChildOf;
using testing::RecordedInstrument;
using testing::TakeErrorDescription;

using Lines = std::vector<std::string>;

class TriggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    instrument_.emplace("M4030A");
    trigger_ = ChildOf(instrument_->instrument.Get(), &IInstrument::get_Trigger);
  }

  driver::testing::RecordingDriver& driver() { return instrument_->driver; }

  std::optional<RecordedInstrument> instrument_;
  auto_::ComPtr<ITrigger> trigger_;
};

struct ModeReading {
  const char* external_width;
  const char* arm_source;  // nullptr: not asked
  const char* arm_sense;   // nullptr: not asked
  HRESULT result;
  PgxTriggerMode mode;
};

// External width wins over the arming; immediate arming is continuous whatever the sense; any other source
// reads as triggered or gated by its sense. A reply outside the keywords leaves the mode at its end value.
TEST_F(TriggerTest, ModeIsReadFromExternalWidthArmingSourceAndSense) {
  const ModeReading cases[] = {
      {"1", nullptr, nullptr, S_OK, PgxTriggerModeExternalWidth},
      {"0", "IMM", nullptr, S_OK, PgxTriggerModeContinuous},
      {"0", "EXT", "LEV", S_OK, PgxTriggerModeGated},
      {"0", "MAN", "EDGE", S_OK, PgxTriggerModeTriggered},
      {"0", "INT2", "EDGE", S_OK, PgxTriggerModeTriggered},
      {"ON", "IMM", nullptr, S_OK, PgxTriggerModeContinuous},  // only "1" is on
      {"0", "EXT", "EITH", kErrInvalidResponse, PgxTriggerModeEnd},
      {"0", "imm", nullptr, kErrInvalidResponse, PgxTriggerModeEnd},
  };
  for (const ModeReading& c : cases) {
    SCOPED_TRACE(std::string(c.external_width) + " " + (c.arm_source ? c.arm_source : "-") + " " +
                 (c.arm_sense ? c.arm_sense : "-"));
    driver().ClearCalls();
    driver().Answer(":ARM:EWID?", c.external_width);
    Lines expected = {"pgxgen_cmdString_Q(1, \":ARM:EWID?\", 256)"};
    if (c.arm_source) {
      driver().Answer(":ARM:SOUR?", c.arm_source);
      expected.push_back("pgxgen_cmdString_Q(1, \":ARM:SOUR?\", 256)");
    }
    if (c.arm_sense) {
      driver().Answer(":ARM:SENS?", c.arm_sense);
      expected.push_back("pgxgen_cmdString_Q(1, \":ARM:SENS?\", 256)");
    }
    auto mode = PgxTriggerMode(-1);
    EXPECT_EQ(trigger_->get_Mode(&mode), c.result);
    EXPECT_EQ(mode, c.mode);
    EXPECT_EQ(driver().Calls(), expected);
  }
}

TEST_F(TriggerTest, AFailedReadingOfTheModeLeavesItsEndValue) {
  driver().Fail(Scpi{":ARM:SOUR?"}, PGXGEN_ERROR_INSTRUMENT);
  driver().Answer(":ARM:EWID?", "0");
  auto mode = PgxTriggerMode(-1);
  EXPECT_EQ(trigger_->get_Mode(&mode), kErrDriver);
  EXPECT_EQ(mode, PgxTriggerModeEnd);
  EXPECT_EQ(trigger_->get_Mode(nullptr), E_POINTER);
}

struct ModeSetting {
  LONG mode;
  HRESULT result;
  Lines sent;
};

TEST_F(TriggerTest, ModeIsSetThroughExternalWidthAndTheArming) {
  const std::string off = "pgxgen_cmdString(1, \":ARM:EWID\", \"OFF\")";
  const ModeSetting cases[] = {
      {PgxTriggerModeContinuous, S_OK, {off, "pgxgen_cmd(1, \":ARM:SOUR IMM\")"}},
      {PgxTriggerModeTriggered, S_OK, {off, "pgxgen_cmd(1, \":ARM:SENS EDGE\")"}},
      {PgxTriggerModeGated, S_OK, {off, "pgxgen_cmd(1, \":ARM:SENS LEV\")"}},
      {PgxTriggerModeExternalWidth, S_OK, {"pgxgen_cmdString(1, \":ARM:EWID\", \"ON\")"}},
      {PgxTriggerModeEnd, E_INVALIDARG, {}},
      {-1, E_INVALIDARG, {}},
  };
  for (const ModeSetting& c : cases) {
    SCOPED_TRACE(c.mode);
    driver().ClearCalls();
    EXPECT_EQ(trigger_->put_Mode(PgxTriggerMode(c.mode)), c.result);
    EXPECT_EQ(driver().Calls(), c.sent);
  }
}

// Setting a mode while external width cannot be switched off would leave the instrument in external width;
// the failure is the result and the arming is left alone.
TEST_F(TriggerTest, ModeIsNotSetWhenExternalWidthStaysOn) {
  driver().Fail(Scpi{":ARM:EWID"}, VI_ERROR_TMO);
  driver().SetErrorMessage(VI_ERROR_TMO, "Timeout expired before operation completed.");
  EXPECT_EQ(trigger_->put_Mode(PgxTriggerModeContinuous), kErrDriver);
  EXPECT_EQ(driver().CallsTo("pgxgen_cmd"), Lines{});
  EXPECT_EQ(TakeErrorDescription(),
            u"The PNP driver or Visa library returned an error\nTimeout expired before operation completed.");
}

TEST_F(TriggerTest, HandsOutEachChildOnceAndKeepsIt) {
  auto arm = ChildOf(trigger_.Get(), &ITrigger::get_Arm);
  EXPECT_EQ(ChildOf(trigger_.Get(), &ITrigger::get_Arm).Get(), arm.Get());
  auto clock = ChildOf(trigger_.Get(), &ITrigger::get_ClockInput);
  EXPECT_EQ(ChildOf(trigger_.Get(), &ITrigger::get_ClockInput).Get(), clock.Get());
  auto external = ChildOf(trigger_.Get(), &ITrigger::get_ExternalInput);
  EXPECT_EQ(ChildOf(trigger_.Get(), &ITrigger::get_ExternalInput).Get(), external.Get());
  auto output = ChildOf(trigger_.Get(), &ITrigger::get_Output);
  EXPECT_EQ(ChildOf(trigger_.Get(), &ITrigger::get_Output).Get(), output.Get());
  EXPECT_EQ(trigger_->get_Arm(nullptr), E_POINTER);
  EXPECT_EQ(trigger_->get_Output(nullptr), E_POINTER);
  EXPECT_EQ(driver().CallCount(), 0u);
}

}  // namespace
}  // namespace pgx::server
