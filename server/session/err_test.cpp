// The error object as a client reads it: texts of numbers, the instrument's error queue and warnings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using driver::testing::Scpi;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::RecordedInstrument;

class ErrObject : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(instrument_->get_Err(err_.ReleaseAndGetAddressOf()), S_OK); }

  std::u16string Text(LONG number) {
    BSTR text = nullptr;
    EXPECT_EQ(err_->get_Text(number, &text), S_OK);
    std::u16string result(auto_::BstrView(text));
    SysFreeString(text);
    return result;
  }

  RecordedInstrument instrument_;
  auto_::ComPtr<IErr> err_;
};

TEST_F(ErrObject, TextOfOwnCodesDriverStatusesAndForeignNumbers) {
  EXPECT_EQ(Text(kErrNotSupported), u"The current instrument does not support this function.");
  instrument_.driver.SetErrorMessage(VI_ERROR_TMO, "Timeout expired before operation completed.");
  EXPECT_EQ(Text(VI_ERROR_TMO), u"Timeout expired before operation completed.");
  // The driver has no text for what is not one of its statuses (a warning says so); the system may have.
  instrument_.driver.Fail("pgxgen_error_message", static_cast<ViStatus>(0x3FFC0001));
  EXPECT_EQ(Text(E_INVALIDARG), u"The parameter is incorrect.");
  EXPECT_EQ(Text(0x12345678), u"Unknown Error Code");
}

TEST_F(ErrObject, AFreshListIsEmpty) {
  LONG count = -1;
  EXPECT_EQ(err_->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  BSTR text = nullptr;
  EXPECT_EQ(err_->get_Item(0, &text), E_INVALIDARG);
  IUnknown* items = nullptr;
  ASSERT_EQ(err_->get__NewEnum(&items), S_OK);
  items->Release();
}

TEST_F(ErrObject, InstrumentErrorsListTheQueueLineByLine) {
  instrument_.driver.QueueInstrumentError(-222, "Data out of range");
  instrument_.driver.QueueInstrumentError(-410, "Query INTERRUPTED");
  BSTR text = nullptr;
  ASSERT_EQ(err_->get_InstrumentErrors(&text), S_OK);
  EXPECT_EQ(auto_::BstrView(text),
            u"Instr. Error [-222]: Data out of range\nInstr. Error [-410]: Query INTERRUPTED");
  SysFreeString(text);
  ASSERT_EQ(err_->get_InstrumentErrors(&text), S_OK);
  EXPECT_EQ(auto_::BstrView(text), u"");
  SysFreeString(text);
}

TEST_F(ErrObject, TheCollectionsErrHasNoInstrumentToAsk) {
  auto_::ComPtr<IErr> root_err;
  ASSERT_EQ(instrument_.root->get_Err(root_err.ReleaseAndGetAddressOf()), S_OK);
  instrument_.driver.QueueInstrumentError(-222, "Data out of range");
  BSTR text = nullptr;
  ASSERT_EQ(root_err->get_InstrumentErrors(&text), S_OK);
  EXPECT_EQ(auto_::BstrView(text), u"");
  SysFreeString(text);
  EXPECT_THAT(instrument_.driver.Calls(), IsEmpty());
}

TEST_F(ErrObject, WarningsAreReadOnlyWhenThereAreAny) {
  instrument_.driver.Answer(":SYST:WARN:COUN?", 0.0);
  BSTR text = nullptr;
  ASSERT_EQ(err_->get_Warnings(&text), S_OK);
  EXPECT_EQ(text, nullptr);
  EXPECT_THAT(instrument_.driver.Calls(), ElementsAre("pgxgen_cmdInt16_Q(1, \":SYST:WARN:COUN?\")"));

  instrument_.driver.ClearCalls();
  instrument_.driver.Answer(":SYST:WARN:COUN?", 2.0);
  std::string many(40000, 'w');  // longer than the answer the server takes
  instrument_.driver.Answer(":SYST:WARN:STRING?", "Width clipped;Delay clipped;" + many);
  ASSERT_EQ(err_->get_Warnings(&text), S_OK);
  EXPECT_EQ(SysStringLen(text), 30719u);
  EXPECT_EQ(auto_::BstrView(text).substr(0, 14), u"Width clipped;");
  SysFreeString(text);
  EXPECT_THAT(instrument_.driver.Calls(),
              ElementsAre("pgxgen_cmdInt16_Q(1, \":SYST:WARN:COUN?\")",
                          "pgxgen_cmdString_Q(1, \":SYST:WARN:STRING?\", 30720)"));
}

// A failure of either query is the result with its own description: a parameter error stays E_INVALIDARG and
// a driver failure keeps the driver's message.
TEST_F(ErrObject, AFailingWarningQueryKeepsItsFailure) {
  BSTR text = nullptr;
  instrument_.driver.FailOnce("pgxgen_cmdInt16_Q", static_cast<ViStatus>(0xBFFC0003));
  EXPECT_EQ(err_->get_Warnings(&text), E_INVALIDARG);
  EXPECT_EQ(testing::TakeErrorDescription(), u"The parameter is incorrect.");
  instrument_.driver.Answer(":SYST:WARN:COUN?", 1.0);
  instrument_.driver.Fail(Scpi{":SYST:WARN:STRING?"}, VI_ERROR_TMO);
  instrument_.driver.SetErrorMessage(VI_ERROR_TMO, "Timeout expired before operation completed.");
  EXPECT_EQ(err_->get_Warnings(&text), kErrDriver);
  EXPECT_EQ(testing::TakeErrorDescription(),
            u"The PNP driver or Visa library returned an error\nTimeout expired before operation completed.");
  EXPECT_EQ(text, nullptr);
}

TEST_F(ErrObject, VerboseIsAFlag) {
  VARIANT_BOOL verbose = VARIANT_TRUE;
  EXPECT_EQ(err_->get_Verbose(&verbose), S_OK);
  EXPECT_EQ(verbose, VARIANT_FALSE);
  EXPECT_EQ(err_->put_Verbose(2), S_OK);
  EXPECT_EQ(err_->get_Verbose(&verbose), S_OK);
  EXPECT_EQ(verbose, VARIANT_TRUE);
  EXPECT_EQ(err_->get_Verbose(nullptr), E_POINTER);
}

}  // namespace
}  // namespace pgx::server
