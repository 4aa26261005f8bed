// PllReference and Setting against the recording driver: the source with its frequency both ways, the
// source range, the learn string read whole, memory numbers and file names passed as given.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "automation/bstr.h"
#include "server/core/messages.h"
#include "server/pattern/pll_reference.h"
#include "server/pattern/setting.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using driver::testing::Reply;
using testing::ChildOf;
using testing::RecordedInstrument;
using Lines = std::vector<std::string>;

TEST(PllReference, TheSourceTravelsWithTheFrequency) {
  RecordedInstrument instrument;
  auto reference = ChildOf(instrument.instrument.Get(), &IInstrument::get_PllReference);
  DOUBLE frequency = 5e6;
  EXPECT_EQ(reference->put_Source(&frequency, PgxPllRefSourceInternal2), S_OK);
  EXPECT_EQ(reference->put_Source(&frequency, PgxPllRefSourceClockIn), S_OK);
  instrument.driver.Return("pgxgen_configPllReference_Q", {0, 2.5e7});
  auto source = PgxPllRefSource(-1);
  EXPECT_EQ(reference->get_Source(&frequency, &source), S_OK);
  EXPECT_EQ(source, PgxPllRefSourceClockIn);
  EXPECT_EQ(frequency, 2.5e7);
  EXPECT_EQ(instrument.driver.Calls(), (Lines{
                                           "pgxgen_configPllReference(1, 2, 5000000)",
                                           "pgxgen_configPllReference(1, 0, 5000000)",
                                           "pgxgen_configPllReference_Q(1)",
                                       }));
}

TEST(PllReference, RefusesWithNothingSentAndKeepsItsOutValuesOnFailure) {
  RecordedInstrument instrument;
  auto reference = ChildOf(instrument.instrument.Get(), &IInstrument::get_PllReference);
  DOUBLE frequency = 1e6;
  auto source = PgxPllRefSource(-1);
  EXPECT_EQ(reference->put_Source(&frequency, PgxPllRefSourceEnd), E_INVALIDARG);
  EXPECT_EQ(reference->put_Source(&frequency, PgxPllRefSource(-1)), E_INVALIDARG);
  EXPECT_EQ(reference->put_Source(nullptr, PgxPllRefSourceInternal1), E_POINTER);
  EXPECT_EQ(reference->get_Source(nullptr, &source), E_POINTER);
  EXPECT_EQ(reference->get_Source(&frequency, nullptr), E_POINTER);
  EXPECT_EQ(instrument.driver.CallCount(), 0u);
  instrument.driver.Script("pgxgen_configPllReference_Q", Reply{VI_ERROR_TMO, {1, 2e6}, {}});
  EXPECT_EQ(reference->get_Source(&frequency, &source), kErrDriver);
  EXPECT_EQ(frequency, 1e6);
  EXPECT_EQ(source, PgxPllRefSource(-1));
}

TEST(Setting, MemoriesAndFilesAreTheDriversToJudge) {
  RecordedInstrument instrument;
  auto setting = ChildOf(instrument.instrument.Get(), &IInstrument::get_Setting);
  auto_::Bstr file(u"settings/bench 1.lrn");
  EXPECT_EQ(setting->LoadFromMem(0), S_OK);
  EXPECT_EQ(setting->SaveToMem(-3), S_OK);
  EXPECT_EQ(setting->SaveToFile(file.get()), S_OK);
  EXPECT_EQ(setting->LoadFromFile(file.get()), S_OK);
  EXPECT_EQ(instrument.driver.Calls(), (Lines{
                                           "pgxgen_settingRecall(1, 0)",
                                           "pgxgen_settingStore(1, -3)",
                                           "pgxgen_settingFile_Q(1, \"settings/bench 1.lrn\")",
                                           "pgxgen_settingFile(1, \"settings/bench 1.lrn\")",
                                       }));
  instrument.driver.ClearCalls();
  auto_::Bstr cut = auto_::Bstr::Attach(SysAllocStringLen(u"a.lrn\0b", 7));
  EXPECT_EQ(setting->SaveToFile(cut.get()), E_ACCESSDENIED);
  EXPECT_EQ(setting->LoadFromFile(cut.get()), E_ACCESSDENIED);
  EXPECT_EQ(instrument.driver.CallCount(), 0u);
  instrument.driver.Fail("pgxgen_settingRecall", PGXGEN_ERROR_MEMORY_NUMBER);
  EXPECT_EQ(setting->LoadFromMem(10), E_INVALIDARG);
}

// A learn string is read whole however long it is: a cut one would restore another setting.
TEST(Setting, TheLearnStringIsReadWhole) {
  RecordedInstrument instrument;
  auto setting = ChildOf(instrument.instrument.Get(), &IInstrument::get_Setting);
  auto* object = static_cast<Setting*>(setting.Get());
  for (std::size_t length : {10u, 254u, 255u, 3000u}) {
    SCOPED_TRACE(length);
    instrument.driver.ClearCalls();
    std::string learn = ":FREQ 1000000";
    while (learn.size() < length) learn += ";:VOLT1:HIGH 2.5";
    learn.resize(length);
    instrument.driver.Answer("*LRN?", learn);
    BSTR value = nullptr;
    ASSERT_EQ(object->GetValue(&value), S_OK);
    EXPECT_EQ(auto_::Bstr::Attach(value).ToUtf8(), learn);
    const Lines calls = instrument.driver.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "pgxgen_cmdString_Q(1, \"*LRN?\", 256)");
  }
  EXPECT_EQ(object->GetValue(nullptr), E_POINTER);
}

}  // namespace
}  // namespace pgx::server
