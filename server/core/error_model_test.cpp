// How failures reach a client: the HRESULT, the description of the error information and its GUID, the
// verbose decoration, and the instrument's error queue, with the driver scripted at the seam.
#include <gtest/gtest.h>

#include "automation/errorinfo.h"
#include "automation/hresult.h"
#include "server/core/call_name_stack.h"
#include "server/core/messages.h"
#include "server/session/err.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using testing::RecordedInstrument;
using testing::TakeErrorDescription;

constexpr ViStatus kTimeout = VI_ERROR_TMO;
constexpr ViStatus kParameter3 = static_cast<ViStatus>(0xBFFC0003);
constexpr ViStatus kInstrumentError = static_cast<ViStatus>(0xBFFC0D07);

Err* ErrOf(IInstrument* instrument) {
  IErr* err = nullptr;
  EXPECT_EQ(instrument->get_Err(&err), S_OK);
  err->Release();  // the instrument keeps it
  return static_cast<Err*>(err);
}

class ErrorModel : public ::testing::Test {
 protected:
  RecordedInstrument instrument_;
};

TEST_F(ErrorModel, ADriverFailureCarriesTheDriversMessage) {
  instrument_.driver.Fail("pgxgen_cmdReal64_Q", kTimeout);
  instrument_.driver.SetErrorMessage(kTimeout, "Timeout expired before operation completed.");
  DOUBLE frequency = -1;
  EXPECT_EQ(instrument_->get_Frequency(&frequency), kErrDriver);
  EXPECT_EQ(frequency, -1);  // nothing written on failure
  GUID guid{};
  EXPECT_EQ(TakeErrorDescription(&guid),
            u"The PNP driver or Visa library returned an error\nTimeout expired before operation completed.");
  EXPECT_EQ(guid, IID_IInstrument);
}

TEST_F(ErrorModel, VerboseDescriptionsNameTheOutermostMember) {
  ErrOf(instrument_.instrument.Get())->put_Verbose(VARIANT_TRUE);
  instrument_.driver.Fail("pgxgen_cmdReal64_Q", kTimeout);
  instrument_.driver.SetErrorMessage(kTimeout, "Timeout");
  DOUBLE frequency = 0;
  EXPECT_EQ(instrument_->get_Frequency(&frequency), kErrDriver);
  EXPECT_EQ(
      TakeErrorDescription(),
      u"The PNP driver or Visa library returned an error [in the call to PGXGEN....Instrument.Frequency]\n"
      u"Timeout");
}

TEST_F(ErrorModel, OneOutermostCallPublishesOneDecoratedError) {
  ErrOf(instrument_.instrument.Get())->put_Verbose(VARIANT_TRUE);
  instrument_.driver.Fail("pgxgen_cmdReal64_Q", kTimeout);
  DOUBLE value = 0;
  {
    CallFrame outer("Script.Step");
    EXPECT_EQ(instrument_->get_Frequency(&value), kErrDriver);
    EXPECT_EQ(instrument_->Transaction(static_cast<PgxTransaction>(7)), E_INVALIDARG);
  }
  std::u16string description = TakeErrorDescription();
  EXPECT_NE(description.find(u"[in the call to PGXGEN....Script.Step]"), std::u16string::npos);
  EXPECT_EQ(description.find(u"parameter"), std::u16string::npos);  // the second failure published nothing
  // The next outermost call starts afresh.
  EXPECT_EQ(instrument_->Transaction(static_cast<PgxTransaction>(7)), E_INVALIDARG);
  EXPECT_EQ(TakeErrorDescription(),
            u"The parameter is incorrect. [in the call to PGXGEN....Instrument.Transaction]");
}

TEST_F(ErrorModel, WithoutAnOpenCallTheDecorationSaysBadIndex) {
  Err* err = ErrOf(instrument_.instrument.Get());
  err->put_Verbose(VARIANT_TRUE);
  EXPECT_EQ(err->RecordHresult(E_INVALIDARG, IID_IErr), E_INVALIDARG);
  EXPECT_EQ(TakeErrorDescription(), u"The parameter is incorrect. [in the call to PGXGEN....Bad Index]");
}

// The real driver knows no text for an HRESULT that is not one of its statuses.
void DriverKnowsNoTextForHresults(driver::testing::RecordingDriver& driver) {
  driver.Fail("pgxgen_error_message", static_cast<ViStatus>(0x3FFC0001));
}

TEST_F(ErrorModel, TheDriversParameterErrorsBecomeInvalidArg) {
  DriverKnowsNoTextForHresults(instrument_.driver);
  instrument_.driver.Fail("pgxgen_cmdReal", kParameter3);
  EXPECT_EQ(instrument_->put_Frequency(1e6), E_INVALIDARG);
  EXPECT_EQ(TakeErrorDescription(), u"The parameter is incorrect.");
  BSTR last = nullptr;
  ASSERT_EQ(ErrOf(instrument_.instrument.Get())->get_LastError(&last), S_OK);
  EXPECT_EQ(auto_::BstrView(last), u"The parameter is incorrect.");
  SysFreeString(last);
}

TEST_F(ErrorModel, AnInstrumentErrorListsTheInstrumentsQueue) {
  instrument_.driver.Fail("pgxgen_cmdReal", kInstrumentError);
  instrument_.driver.QueueInstrumentError(-222, "Data out of range");
  instrument_.driver.QueueInstrumentError(-113, "Undefined header");
  EXPECT_EQ(instrument_->put_Frequency(1e12), kErrDriver);
  EXPECT_EQ(TakeErrorDescription(),
            u"The PNP driver or Visa library returned an error\n"
            u"Instr. Error [-222]: Data out of range\nInstr. Error [-113]: Undefined header");
}

TEST_F(ErrorModel, AnInstrumentThatNeverEmptiesItsQueueCannotHoldTheCallerForEver) {
  instrument_.driver.Fail("pgxgen_cmdReal", kInstrumentError);
  for (int i = 0; i < 500; ++i) instrument_.driver.QueueInstrumentError(-350, "Queue overflow");
  EXPECT_EQ(instrument_->put_Frequency(1e12), kErrDriver);
  EXPECT_LE(instrument_.driver.CallCount("pgxgen_error_query"), 100u);
}

TEST_F(ErrorModel, WarningsAreNotFailures) {
  instrument_.driver.Fail("pgxgen_cmdReal", static_cast<ViStatus>(0x3FFC0101));
  EXPECT_EQ(instrument_->put_Frequency(1e6), S_OK);
  EXPECT_EQ(TakeErrorDescription(), u"");
}

TEST_F(ErrorModel, ADriverFailureLeavesTheLastErrorAlone) {
  DriverKnowsNoTextForHresults(instrument_.driver);
  EXPECT_EQ(instrument_->Transaction(static_cast<PgxTransaction>(9)), E_INVALIDARG);
  instrument_.driver.Fail("pgxgen_cmdReal", kTimeout);
  EXPECT_EQ(instrument_->put_Frequency(1e6), kErrDriver);
  BSTR last = nullptr;
  ASSERT_EQ(ErrOf(instrument_.instrument.Get())->get_LastError(&last), S_OK);
  EXPECT_EQ(auto_::BstrView(last), u"The parameter is incorrect.");
  SysFreeString(last);
}

TEST_F(ErrorModel, AMissingMemberSaysNotImplemented) {
  IMode* mode = nullptr;
  HRESULT hr = instrument_->get_Mode(&mode);
  if (hr == E_NOTIMPL) {
    EXPECT_EQ(mode, nullptr);
    EXPECT_EQ(TakeErrorDescription(), u"Not implemented");
  } else {
    EXPECT_EQ(hr, S_OK);  // the class exists by now
    mode->Release();
  }
}

}  // namespace
}  // namespace pgx::server
