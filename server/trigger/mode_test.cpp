// Mode against the recording driver: the exact driver call of each method, the argument checks and the VXI
// arming restriction that stop a method with nothing sent.
#include "server/trigger/mode.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using testing::ChildOf;
using testing::RecordedInstrument;
using testing::TakeErrorDescription;

using ModeCall = std::function<HRESULT(IMode*)>;

// A model that cannot arm from the VXI trigger lines (every VXI module) and one that has no such restriction.
constexpr const char* kNoVxiArming = "M4030A";
constexpr const char* kBenchtop = "Q530A";

struct Sent {
  const char* name;
  ModeCall call;
  const char* line;
};

// The Mode of an instrument opened with `front_ends`.
class ModeTest : public ::testing::Test {
 protected:
  auto_::ComPtr<IMode> Open(const char* front_ends) {
    instrument_.emplace(front_ends);
    return ChildOf(instrument_->instrument.Get(), &IInstrument::get_Mode);
  }
  driver::testing::RecordingDriver& driver() { return instrument_->driver; }

  std::optional<RecordedInstrument> instrument_;
};

// Every argument reaches the driver in its place and unchanged, including the values that pass the checks
// without a constant of their own (trigger slope 2, arming source 2) and burst lengths the driver judges.
TEST_F(ModeTest, EachMethodMakesOneDriverCallWithItsArgumentsInOrder) {
  const Sent cases[] = {
      {"ContinuousBurst",
       [](IMode* m) { return m->ContinuousBurst(0, PgxPulsePeriodClockInput, PgxTriggerSlopeAsIs); },
       "pgxgen_modeContinuousBurst(1, 0, 2, 3)"},
      {"ContinuousPattern",
       [](IMode* m) { return m->ContinuousPattern(PgxPulsePeriodInternalPll, PgxTriggerSlope(2)); },
       "pgxgen_modeContinuousPattern(1, 1, 2)"},
      {"ContinuousPulses",
       [](IMode* m) { return m->ContinuousPulses(PgxPulsePeriodClockInput, PgxTriggerSlopeAsIs); },
       "pgxgen_modeContinuousPulses(1, 2, 3)"},
      {"GatedBurst",
       [](IMode* m) {
         return m->GatedBurst(-7, PgxPulsePeriodInternalOsc, PgxTriggerSlopePositive, PgxArmSourceExternal,
                              PgxArmSlopeNegative);
       },
       "pgxgen_modeGatedBurst(1, -7, 0, 1, 3, 0)"},
      {"GatedPattern",
       [](IMode* m) {
         return m->GatedPattern(PgxPulsePeriodInternalPll, PgxTriggerSlopeNegative, PgxArmSource(2),
                                PgxArmSlopeAsIs);
       },
       "pgxgen_modeGatedPattern(1, 1, 0, 2, 3)"},
      {"GatedPulses",
       [](IMode* m) {
         return m->GatedPulses(PgxPulsePeriodClockInput, PgxTriggerSlopeAsIs, PgxArmSourceManual,
                               PgxArmSlopePositive);
       },
       "pgxgen_modeGatedPulses(1, 2, 3, 4, 1)"},
      {"TriggeredBurst",
       [](IMode* m) {
         return m->TriggeredBurst(65536, PgxPulsePeriodInternalPll, PgxTriggerSlopePositive,
                                  PgxArmSourceInternalPll, PgxArmSlopeEither, PgxArmPllFormatFreq, 2.5e6);
       },
       "pgxgen_modeTriggeredBurst(1, 65536, 1, 1, 1, 2, 1, 2500000)"},
      {"TriggeredPattern",
       [](IMode* m) {
         return m->TriggeredPattern(PgxPulsePeriodClockInput, PgxTriggerSlopeNegative,
                                    PgxArmSourceInternalPll, PgxArmSlopeAsIs, PgxArmPllFormatPeriod, 1e-05);
       },
       "pgxgen_modeTriggeredPattern(1, 2, 0, 1, 3, 0, 1e-05)"},
      {"TriggeredPulses",
       [](IMode* m) { return m->TriggeredPulses(PgxArmSourceExternal, PgxArmSlopeEither); },
       "pgxgen_modeTriggeredPulses(1, 3, 2)"},
  };
  auto mode = Open(kNoVxiArming);
  for (const Sent& c : cases) {
    SCOPED_TRACE(c.name);
    driver().ClearCalls();
    EXPECT_EQ(c.call(mode.Get()), S_OK);
    EXPECT_EQ(driver().Calls(), std::vector<std::string>{c.line});
  }
}

struct Refused {
  const char* name;
  ModeCall call;
  HRESULT expected;
};

// The enumerations are checked, in argument order, before the arming restriction; a value out of range
// never reaches the driver, nor does a VXI arming source on a model that cannot arm from the backplane.
TEST_F(ModeTest, ChecksStopAMethodWithNothingSent) {
  constexpr auto kEcl0 = PgxArmSourceECLT0;
  constexpr auto kTtl7 = PgxArmSourceTTLT7;
  const Refused cases[] = {
      {"period source 3",
       [](IMode* m) { return m->ContinuousPulses(PgxPulsePeriodSource(3), PgxTriggerSlopeNegative); },
       E_INVALIDARG},
      {"period source -1",
       [](IMode* m) { return m->ContinuousBurst(2, PgxPulsePeriodSource(-1), PgxTriggerSlopeNegative); },
       E_INVALIDARG},
      {"trigger slope 4",
       [](IMode* m) { return m->ContinuousPattern(PgxPulsePeriodInternalOsc, PgxTriggerSlope(4)); },
       E_INVALIDARG},
      {"arming source 15", [](IMode* m) { return m->TriggeredPulses(PgxArmSource(15), PgxArmSlopePositive); },
       E_INVALIDARG},
      {"arming source -1",
       [](IMode* m) {
         return m->GatedPulses(PgxPulsePeriodInternalOsc, PgxTriggerSlopeNegative, PgxArmSource(-1),
                               PgxArmSlopeNegative);
       },
       E_INVALIDARG},
      {"gate level 4",
       [](IMode* m) {
         return m->GatedPattern(PgxPulsePeriodInternalOsc, PgxTriggerSlopeNegative, PgxArmSourceExternal,
                                PgxArmSlope(4));
       },
       E_INVALIDARG},
      {"PLL format 4",
       [](IMode* m) {
         return m->TriggeredBurst(2, PgxPulsePeriodInternalOsc, PgxTriggerSlopeNegative, PgxArmSourceExternal,
                                  PgxArmSlopePositive, PgxArmPllFormat(4), 1e6);
       },
       E_INVALIDARG},
      // An argument out of range outranks the restriction that an earlier VXI arming source would meet.
      {"VXI line and arming slope 4", [=](IMode* m) { return m->TriggeredPulses(kTtl7, PgxArmSlope(4)); },
       E_INVALIDARG},
      {"VXI line and PLL format -1",
       [=](IMode* m) {
         return m->TriggeredPattern(PgxPulsePeriodInternalOsc, PgxTriggerSlopeNegative, kEcl0,
                                    PgxArmSlopePositive, PgxArmPllFormat(-1), 1e6);
       },
       E_INVALIDARG},
      {"GatedBurst on ECLT0",
       [=](IMode* m) {
         return m->GatedBurst(2, PgxPulsePeriodInternalOsc, PgxTriggerSlopeNegative, kEcl0,
                              PgxArmSlopePositive);
       },
       kErrNotSupported},
      {"GatedPattern on TTLT7",
       [=](IMode* m) {
         return m->GatedPattern(PgxPulsePeriodInternalOsc, PgxTriggerSlopeNegative, kTtl7,
                                PgxArmSlopeNegative);
       },
       kErrNotSupported},
      {"GatedPulses on ECLT1",
       [](IMode* m) {
         return m->GatedPulses(PgxPulsePeriodInternalOsc, PgxTriggerSlopeNegative, PgxArmSourceECLT1,
                               PgxArmSlopeNegative);
       },
       kErrNotSupported},
      {"TriggeredBurst on TTLT0",
       [](IMode* m) {
         return m->TriggeredBurst(2, PgxPulsePeriodInternalOsc, PgxTriggerSlopeNegative, PgxArmSourceTTLT0,
                                  PgxArmSlopePositive, PgxArmPllFormatAsIs, 0);
       },
       kErrNotSupported},
      {"TriggeredPattern on TTLT3",
       [](IMode* m) {
         return m->TriggeredPattern(PgxPulsePeriodInternalOsc, PgxTriggerSlopeNegative, PgxArmSourceTTLT3,
                                    PgxArmSlopePositive, PgxArmPllFormatAsIs, 0);
       },
       kErrNotSupported},
      {"TriggeredPulses on TTLT0",
       [](IMode* m) { return m->TriggeredPulses(PgxArmSourceTTLT0, PgxArmSlopePositive); }, kErrNotSupported},
  };
  auto mode = Open(kNoVxiArming);
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(mode.Get()), c.expected);
    EXPECT_EQ(driver().CallCount(), 0u);
    EXPECT_EQ(TakeErrorDescription(), c.expected == kErrNotSupported
                                          ? u"The current instrument does not support this function."
                                          : u"The parameter is incorrect.");
  }
}

// The restriction belongs to the model: a benchtop model passes a VXI arming source on to the driver, and
// the driver's refusal reaches the client as the driver's parameter error.
TEST_F(ModeTest, AModelWithoutTheRestrictionLeavesTheVxiLinesToTheDriver) {
  auto mode = Open(kBenchtop);
  driver().Fail("pgxgen_modeTriggeredPulses", PGXGEN_ERROR_NOT_VXI);
  EXPECT_EQ(mode->TriggeredPulses(PgxArmSourceTTLT0, PgxArmSlopePositive), E_INVALIDARG);
  EXPECT_EQ(driver().Calls(), std::vector<std::string>{"pgxgen_modeTriggeredPulses(1, 7, 1)"});
}

TEST_F(ModeTest, ADriverFailureCarriesTheDriversMessage) {
  auto mode = Open(kBenchtop);
  driver().Fail("pgxgen_modeGatedBurst", PGXGEN_ERROR_INSTRUMENT);
  driver().QueueInstrumentError(-221, "Settings conflict");
  EXPECT_EQ(mode->GatedBurst(4, PgxPulsePeriodInternalOsc, PgxTriggerSlopePositive, PgxArmSourceExternal,
                             PgxArmSlopePositive),
            kErrDriver);
  EXPECT_EQ(TakeErrorDescription(),
            u"The PNP driver or Visa library returned an error\nInstr. Error [-221]: Settings conflict");
}

}  // namespace
}  // namespace pgx::server
