// ClkInput against the recording driver: the slope keywords of the clock input.
#include "server/trigger/clk_input.h"

#include <gtest/gtest.h>

#include <optional>

#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using testing::ChildOf;
using testing::RecordedInstrument;

using Lines = std::vector<std::string>;

class ClkInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    instrument_.emplace("Q520A,Q520A");
    clock_ = ChildOf(ChildOf(instrument_->instrument.Get(), &IInstrument::get_Trigger).Get(),
                     &ITrigger::get_ClockInput);
  }

  driver::testing::RecordingDriver& driver() { return instrument_->driver; }

  std::optional<RecordedInstrument> instrument_;
  auto_::ComPtr<IClkInput> clock_;
};

TEST_F(ClkInputTest, ClockSlopeTravelsAsItsKeyword) {
  driver().Answer(":TRIG:SLOP?", "NEG");
  auto slope = PgxTriggerSlope(-1);
  EXPECT_EQ(clock_->put_Slope(PgxTriggerSlopePositive), S_OK);
  EXPECT_EQ(clock_->get_Slope(&slope), S_OK);
  EXPECT_EQ(slope, PgxTriggerSlopeNegative);
  EXPECT_EQ(driver().Calls(), (Lines{"pgxgen_cmdString(1, \":TRIG:SLOP\", \"POS\")",
                                     "pgxgen_cmdString_Q(1, \":TRIG:SLOP?\", 256)"}));
}

TEST_F(ClkInputTest, ClockSlopeWithoutKeywordIsRefused) {
  for (LONG value : {2, 3, 4, -1}) {
    SCOPED_TRACE(value);
    EXPECT_EQ(clock_->put_Slope(PgxTriggerSlope(value)), E_INVALIDARG);
  }
  EXPECT_EQ(driver().CallCount(), 0u);
  driver().Answer(":TRIG:SLOP?", "EITH");
  auto slope = PgxTriggerSlope(-1);
  EXPECT_EQ(clock_->get_Slope(&slope), kErrInvalidResponse);
  EXPECT_EQ(slope, PgxTriggerSlope(-1));
}

}  // namespace
}  // namespace pgx::server
