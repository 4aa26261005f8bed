// The model restrictions: which functions each front-end model lacks, and the checks members make.
#include <gtest/gtest.h>

#include <string>

#include "server/core/messages.h"
#include "server/session/restrictions.h"
#include "server/testing/recorded_instrument.h"
#include "sim/front_end.h"

namespace pgx::server {
namespace {

using testing::RecordedInstrument;

LONG BitMask(IInstrument* instrument) {
  IRestrictions* restrictions = nullptr;
  EXPECT_EQ(instrument->get_Restrictions(&restrictions), S_OK);
  LONG mask = -1;
  EXPECT_EQ(restrictions->get_BitMask(&mask), S_OK);
  restrictions->Release();
  return mask;
}

TEST(Restrictions, TheChannelsFrontEndSetsTheMask) {
  {
    RecordedInstrument m4010("M4010A");
    EXPECT_EQ(BitMask(m4010.instrument.Get()), 48648);
  }
  {
    RecordedInstrument q530("Q530");
    EXPECT_EQ(BitMask(q530.instrument.Get()), 33280);
  }
  RecordedInstrument unknown("m4010a");  // not a model of the table (letter case): nothing lacks
  EXPECT_EQ(BitMask(unknown.instrument.Get()), 0);
  EXPECT_EQ(unknown->Calibrate(), S_OK);
}

TEST(Restrictions, AnUnknownModelKeepsThePreviousMask) {
  RecordedInstrument instrument("M4010A");
  IChannels* channels = nullptr;
  ASSERT_EQ(instrument->get_Channels(&channels), S_OK);
  instrument.driver.Answer("*OPT?", "X9999");
  EXPECT_EQ(channels->Refresh(), S_OK);
  channels->Release();
  EXPECT_EQ(BitMask(instrument.instrument.Get()), 48648);
}

TEST(Restrictions, IdsMapToTheirFunctions) {
  EXPECT_EQ(Restrictions::RestrictionBits(0), static_cast<ULONG>(PgxNotImplTransTime));
  EXPECT_EQ(Restrictions::RestrictionBits(5), static_cast<ULONG>(PgxNotImplTransTime | PgxNotImplLeTeCouple));
  EXPECT_EQ(Restrictions::RestrictionBits(7), static_cast<ULONG>(PgxNotImplTransTime | PgxNotImplTransHold));
  EXPECT_EQ(Restrictions::RestrictionBits(8), static_cast<ULONG>(PgxNotImplAutoCalibrate));
  EXPECT_EQ(Restrictions::RestrictionBits(23), static_cast<ULONG>(PgxNotImplOutputMath));
  EXPECT_EQ(Restrictions::RestrictionBits(30), static_cast<ULONG>(PgxNotImplVxiTrigEnable));
  EXPECT_EQ(Restrictions::RestrictionBits(31), 0u);
}

TEST(Restrictions, BeforeAnyModelNothingLacksAndUnknownIdsAreRefused) {
  RecordedInstrument closed("");
  IRestrictions* itf = nullptr;
  ASSERT_EQ(closed->get_Restrictions(&itf), S_OK);
  auto* restrictions = static_cast<Restrictions*>(itf);
  for (int id = 0; id < Restrictions::kRestrictionIdCount; ++id)
    EXPECT_EQ(restrictions->CheckRestriction(id), S_OK);
  EXPECT_EQ(restrictions->CheckRestriction(-1), E_INVALIDARG);
  EXPECT_EQ(restrictions->CheckRestriction(31), E_INVALIDARG);
  EXPECT_EQ(restrictions->SetCurrModel(nullptr), E_POINTER);
  itf->Release();
}

// The server and the simulated instruments keep their tables independently (a real instrument may be on the
// other side); they must say the same of every model.
TEST(Restrictions, AgreeWithTheSimulatedFrontEnds) {
  for (const char* model : {"Q510", "Q510A", "Q520", "Q520A", "Q530", "Q530A", "Q540", "Q540A", "M4010",
                            "M4010A", "M4020", "M4020A", "M4030", "M4030A", "M4040", "M4040A"}) {
    const sim::FrontEndModel* simulated = sim::find_front_end(model);
    ASSERT_NE(simulated, nullptr) << model;
    EXPECT_EQ(Restrictions::ModelMask(model), static_cast<LONG>(simulated->lacks)) << model;
  }
}

}  // namespace
}  // namespace pgx::server
