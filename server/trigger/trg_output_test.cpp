// TrgOutput against the recording driver: the levels indexed by output, the automatic coupling, and the
// source and VXI members with their ranges and restrictions.
#include "server/trigger/trg_output.h"

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

using Lines = std::vector<std::string>;

// Q520A lacks the VXI trigger source only; Q530A the trigger-output source only; the VXI modules lack all
// three.
constexpr const char* kLacksVxiSource = "Q520A";
constexpr const char* kLacksOutputSource = "Q530A";
constexpr const char* kVxiModule = "M4030A";

class TrgOutputTest : public ::testing::Test {
 protected:
  auto_::ComPtr<ITrgOutput> Open(const char* front_ends) {
    instrument_.emplace(front_ends);
    return ChildOf(ChildOf(instrument_->instrument.Get(), &IInstrument::get_Trigger).Get(),
                   &ITrigger::get_Output);
  }

  driver::testing::RecordingDriver& driver() { return instrument_->driver; }

  std::optional<RecordedInstrument> instrument_;
};

TEST_F(TrgOutputTest, LevelIsSetAndReadPerOutput) {
  auto output = Open(kVxiModule);
  driver().Return("pgxgen_configTriggerOutLevel_Q", {2});
  auto level = PgxTriggerLevel(-1);
  EXPECT_EQ(output->put_Level(PgxTriggerOutputStrobe, PgxTriggerLevelECL), S_OK);
  EXPECT_EQ(output->get_Level(PgxTriggerOutputImmediate, &level), S_OK);
  EXPECT_EQ(level, PgxTriggerLevelSTA);
  EXPECT_EQ(driver().Calls(),
            (Lines{"pgxgen_configTriggerOutLevel(1, 2, 1)", "pgxgen_configTriggerOutLevel_Q(1, 0)"}));
}

// An output or level outside the three is refused before it could be cut to the driver's 16 bits and name
// another one (65537 would read output 1).
TEST_F(TrgOutputTest, LevelOutsideTheOutputsOrLevelsIsRefused) {
  auto output = Open(kVxiModule);
  auto level = PgxTriggerLevel(-1);
  EXPECT_EQ(output->put_Level(PgxTriggerOutput(3), PgxTriggerLevelTTL), E_INVALIDARG);
  EXPECT_EQ(output->put_Level(PgxTriggerOutput(-1), PgxTriggerLevelTTL), E_INVALIDARG);
  EXPECT_EQ(output->put_Level(PgxTriggerOutputTrigger, PgxTriggerLevel(3)), E_INVALIDARG);
  EXPECT_EQ(output->put_Level(PgxTriggerOutputTrigger, PgxTriggerLevel(65536)), E_INVALIDARG);
  EXPECT_EQ(output->get_Level(PgxTriggerOutput(65537), &level), E_INVALIDARG);
  EXPECT_EQ(output->get_Level(PgxTriggerOutputTrigger, nullptr), E_POINTER);
  EXPECT_EQ(level, PgxTriggerLevel(-1));
  EXPECT_EQ(driver().CallCount(), 0u);
}

TEST_F(TrgOutputTest, AutoCoupleIsOnlyForTheReplyOne) {
  auto output = Open(kVxiModule);
  for (auto [reply, expected] : {std::pair{"1", VARIANT_TRUE}, {"0", VARIANT_FALSE}, {"ON", VARIANT_FALSE}}) {
    SCOPED_TRACE(reply);
    driver().Answer(":PULS:TRIG:SOUR:AUTO?", reply);
    VARIANT_BOOL on = 7;
    EXPECT_EQ(output->get_AutoCouple(&on), S_OK);
    EXPECT_EQ(on, expected);
  }
  driver().ClearCalls();
  EXPECT_EQ(output->put_AutoCouple(VARIANT_TRUE), S_OK);
  EXPECT_EQ(output->put_AutoCouple(VARIANT_FALSE), S_OK);
  EXPECT_EQ(driver().Calls(), (Lines{"pgxgen_cmdString(1, \":PULS:TRIG:SOUR:AUTO\", \"ON\")",
                                     "pgxgen_cmdString(1, \":PULS:TRIG:SOUR:AUTO\", \"OFF\")"}));
}

TEST_F(TrgOutputTest, EachRestrictedMemberReachesTheDriverOnAModelThatHasIt) {
  auto output = Open(kLacksVxiSource);
  driver().Return("pgxgen_configTriggerOutSource_Q", {0});
  driver().Return("pgxgen_outputEnableVxiTrigger_Q", {15});
  auto source = PgxTriggerOutputSource(-1);
  auto line = PgxVxiTriggerLine(-1);
  EXPECT_EQ(output->get_Source(&source), S_OK);
  EXPECT_EQ(output->put_VxiTrigger(PgxVxiTriggerLineNone), S_OK);
  EXPECT_EQ(output->put_VxiTrigger(PgxVxiTriggerLineECLT0), S_OK);
  EXPECT_EQ(output->get_VxiTrigger(&line), S_OK);
  EXPECT_EQ(source, PgxTriggerOutputAutoCouple);
  EXPECT_EQ(line, PgxVxiTriggerLineNone);

  output = nullptr;
  output = Open(kLacksOutputSource);
  driver().Return("pgxgen_outputSourceVxiTrigger_Q", {3});
  auto vxi_source = PgxVxiTriggerSource(-1);
  EXPECT_EQ(output->put_VxiSource(PgxVxiTriggerSourceTrigger), S_OK);
  EXPECT_EQ(output->put_VxiSource(PgxVxiTriggerSourceSameAsStrobe), S_OK);
  EXPECT_EQ(output->get_VxiSource(&vxi_source), S_OK);
  EXPECT_EQ(vxi_source, PgxVxiTriggerSourceSameAsStrobe);
  EXPECT_EQ(driver().Calls(),
            (Lines{"pgxgen_outputSourceVxiTrigger(1, 1)", "pgxgen_outputSourceVxiTrigger(1, 3)",
                   "pgxgen_outputSourceVxiTrigger_Q(1)"}));
}

struct Refusal {
  const char* name;
  const char* front_ends;
  std::function<HRESULT(ITrgOutput*)> call;
  HRESULT result;
};

// Gets check the out-pointer, then the restriction; puts check the range, then the restriction. The source
// cannot be set on any model. Nothing is sent in any of these cases.
TEST_F(TrgOutputTest, RefusalsComeInTheirOrderWithNothingSent) {
  const Refusal cases[] = {
      {"Source get restricted", kLacksOutputSource,
       [](ITrgOutput* o) {
         PgxTriggerOutputSource v;
         return o->get_Source(&v);
       },
       kErrNotSupported},
      {"Source get without pointer", kLacksOutputSource, [](ITrgOutput* o) { return o->get_Source(nullptr); },
       E_POINTER},
      {"Source put", kLacksVxiSource, [](ITrgOutput* o) { return o->put_Source(PgxTriggerOutputSource1); },
       E_INVALIDARG},
      {"Source put automatic", kLacksVxiSource,
       [](ITrgOutput* o) { return o->put_Source(PgxTriggerOutputAutoCouple); }, E_INVALIDARG},
      {"Source put restricted", kLacksOutputSource,
       [](ITrgOutput* o) { return o->put_Source(PgxTriggerOutputSource1); }, kErrNotSupported},
      {"VxiSource get restricted", kLacksVxiSource,
       [](ITrgOutput* o) {
         PgxVxiTriggerSource v;
         return o->get_VxiSource(&v);
       },
       kErrNotSupported},
      {"VxiSource get without pointer", kVxiModule, [](ITrgOutput* o) { return o->get_VxiSource(nullptr); },
       E_POINTER},
      {"VxiSource put 0", kLacksOutputSource,
       [](ITrgOutput* o) { return o->put_VxiSource(PgxVxiTriggerSource(0)); }, E_INVALIDARG},
      {"VxiSource put 4 restricted", kVxiModule,
       [](ITrgOutput* o) { return o->put_VxiSource(PgxVxiTriggerSourceEnd); }, E_INVALIDARG},
      {"VxiSource put restricted", kVxiModule,
       [](ITrgOutput* o) { return o->put_VxiSource(PgxVxiTriggerSourceStrobe); }, kErrNotSupported},
      {"VxiTrigger get restricted", kVxiModule,
       [](ITrgOutput* o) {
         PgxVxiTriggerLine v;
         return o->get_VxiTrigger(&v);
       },
       kErrNotSupported},
      {"VxiTrigger get without pointer", kVxiModule, [](ITrgOutput* o) { return o->get_VxiTrigger(nullptr); },
       E_POINTER},
      {"VxiTrigger put 4 restricted", kVxiModule,
       [](ITrgOutput* o) { return o->put_VxiTrigger(PgxVxiTriggerLine(4)); }, E_INVALIDARG},
      {"VxiTrigger put 16 restricted", kVxiModule,
       [](ITrgOutput* o) { return o->put_VxiTrigger(PgxVxiTriggerLineEnd); }, E_INVALIDARG},
      {"VxiTrigger put 4", kLacksVxiSource,
       [](ITrgOutput* o) { return o->put_VxiTrigger(PgxVxiTriggerLine(4)); }, E_INVALIDARG},
      {"VxiTrigger put restricted", kVxiModule,
       [](ITrgOutput* o) { return o->put_VxiTrigger(PgxVxiTriggerLineNone); }, kErrNotSupported},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    auto output = Open(c.front_ends);
    EXPECT_EQ(c.call(output.Get()), c.result);
    EXPECT_EQ(driver().CallCount(), 0u);
    if (c.result == kErrNotSupported) {
      EXPECT_EQ(TakeErrorDescription(), u"The current instrument does not support this function.");
    }
  }
}

}  // namespace
}  // namespace pgx::server
