// Instrument members against the recording driver: what each sends, in which order its checks stop it, and
// what it answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "automation/safearray.h"
#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::RecordedInstrument;
using testing::TakeErrorDescription;

TEST(Instrument, SetsAndReadsFrequencyAndPeriodWithTheirScpi) {
  RecordedInstrument instrument;
  instrument.driver.Answer(":FREQ?", 2.5e6);
  DOUBLE value = 0;
  EXPECT_EQ(instrument->put_Frequency(1e6), S_OK);
  EXPECT_EQ(instrument->get_Frequency(&value), S_OK);
  EXPECT_EQ(value, 2.5e6);
  EXPECT_EQ(instrument->put_Period(1e-6), S_OK);
  EXPECT_EQ(instrument->get_Frequency(nullptr), E_POINTER);
  EXPECT_THAT(instrument.driver.Calls(),
              ElementsAre("pgxgen_cmdReal(1, \":FREQ\", 1000000)", "pgxgen_cmdReal64_Q(1, \":FREQ?\")",
                          "pgxgen_cmdReal(1, \":PULS:PER\", 1e-06)"));
}

struct PulseModePut {
  const char* name;
  LONG mode;
  LONG length;  // -1: not given
  HRESULT result;
  const char* command;  // what pgxgen_cmd sends, or nullptr
};

class InstrumentPulseModePut : public ::testing::TestWithParam<PulseModePut> {};

TEST_P(InstrumentPulseModePut, ChecksTheCountAndSendsOneCommand) {
  const PulseModePut& c = GetParam();
  RecordedInstrument instrument;
  instrument.driver.Answer(":ARM:EWID?", "0");
  instrument.driver.Answer(":TRIG:COUN?", 1.0);
  LONG length = c.length;
  EXPECT_EQ(instrument->put_PulseMode(c.length < 0 ? nullptr : &length, static_cast<PgxPulseMode>(c.mode)),
            c.result);
  std::vector<std::string> commands = instrument.driver.CallsTo("pgxgen_cmd");
  if (c.command) {
    EXPECT_THAT(commands, ElementsAre(std::string("pgxgen_cmd(1, \"") + c.command + "\")"));
  } else {
    EXPECT_THAT(commands, IsEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstrumentPulseModePut,
    ::testing::Values(
        PulseModePut{"PulsesNeedOnePeriod", PgxPulseModePulses, -1, S_OK, ":DIG:PATT OFF; :TRIG:COUN 1"},
        PulseModePut{"PulsesRefuseThree", PgxPulseModePulses, 3, kErrPulseModeCount, nullptr},
        PulseModePut{"BurstRefusesOne", PgxPulseModeBurst, 1, kErrPulseModeCount, nullptr},
        PulseModePut{"BurstOfFive", PgxPulseModeBurst, 5, S_OK, ":DIG:PATT OFF; :TRIG:COUN 5"},
        PulseModePut{"BurstWithoutLengthTakesAtLeastTwo", PgxPulseModeBurst, -1, S_OK,
                     ":DIG:PATT OFF; :TRIG:COUN 2"},
        PulseModePut{"PatternBeyondTheMemoryFallsBackToTwo", PgxPulseModePattern, 20000, S_OK,
                     ":DIG:PATT ON; :TRIG:COUN 2"},
        PulseModePut{"PatternOf16384", PgxPulseModePattern, 16384, S_OK, ":DIG:PATT ON; :TRIG:COUN 16384"},
        PulseModePut{"OutOfRange", PgxPulseModeEnd, -1, E_INVALIDARG, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Instrument, AModelWithoutPatternMemoryHasNoPatternModeToAskOrSwitch) {
  RecordedInstrument m4010("M4010A");
  m4010.driver.Answer(":ARM:EWID?", "0");
  m4010.driver.Answer(":TRIG:COUN?", 3.0);
  PgxPulseMode mode = PgxPulseModeEnd;
  LONG length = 0;
  EXPECT_EQ(m4010->get_PulseMode(&length, &mode), S_OK);
  EXPECT_EQ(mode, PgxPulseModeBurst);
  EXPECT_THAT(m4010.driver.CallsTo("pgxgen_cmdString_Q"),
              ElementsAre("pgxgen_cmdString_Q(1, \":ARM:EWID?\", 256)"));  // no ":DIG:PATT?"
  LONG two = 2;
  EXPECT_EQ(m4010->put_PulseMode(&two, PgxPulseModePattern), kErrNotSupported);
  EXPECT_EQ(m4010->put_PulseMode(&two, PgxPulseModeBurst), S_OK);
  EXPECT_THAT(m4010.driver.CallsTo("pgxgen_cmd"), ElementsAre("pgxgen_cmd(1, \":TRIG:COUN 2\")"));
}

TEST(Instrument, ExternalWidthIsATriggerSettingOfItsOwn) {
  RecordedInstrument instrument;
  EXPECT_EQ(instrument->put_PulseMode(nullptr, PgxPulseModeExternalWidth), S_OK);
  EXPECT_THAT(instrument.driver.Calls(), ElementsAre("pgxgen_cmdString(1, \":ARM:EWID\", \"ON\")"));
  instrument.driver.ClearCalls();
  instrument.driver.Answer(":ARM:EWID?", "1");
  EXPECT_EQ(instrument->put_PulseMode(nullptr, PgxPulseModePulses), S_OK);
  EXPECT_THAT(instrument.driver.Calls(), ElementsAre("pgxgen_cmdString_Q(1, \":ARM:EWID?\", 256)",
                                                     "pgxgen_cmdString(1, \":ARM:EWID\", \"OFF\")",
                                                     "pgxgen_cmd(1, \":DIG:PATT OFF; :TRIG:COUN 1\")"));
}

struct PulseModeGet {
  const char* name;
  const char* external_width;
  const char* pattern;
  double count;
  HRESULT result;
  LONG mode;
  LONG length;
};

class InstrumentPulseModeGet : public ::testing::TestWithParam<PulseModeGet> {};

TEST_P(InstrumentPulseModeGet, DerivesTheModeFromTriggerAndPattern) {
  const PulseModeGet& c = GetParam();
  RecordedInstrument instrument;
  instrument.driver.Answer(":ARM:EWID?", c.external_width);
  instrument.driver.Answer(":DIG:PATT?", c.pattern);
  instrument.driver.Answer(":TRIG:COUN?", c.count);
  PgxPulseMode mode = static_cast<PgxPulseMode>(-1);
  LONG length = -1;
  EXPECT_EQ(instrument->get_PulseMode(&length, &mode), c.result);
  EXPECT_EQ(mode, c.mode);
  if (SUCCEEDED(c.result)) {
    EXPECT_EQ(length, c.length);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, InstrumentPulseModeGet,
                         ::testing::Values(PulseModeGet{"ExternalWidth", "1", "1", 7, S_OK, 3, 1},
                                           PulseModeGet{"Pattern", "0", "1", 7, S_OK, 2, 7},
                                           PulseModeGet{"Pulses", "0", "0", 1, S_OK, 0, 1},
                                           PulseModeGet{"Burst", "0", "0", 3, S_OK, 1, 3},
                                           PulseModeGet{"OnlyOneCountsAsOn", "0", "ON", 3, S_OK, 1, 3},
                                           PulseModeGet{"NoPeriods", "0", "0", 0, kErrInvalidResponse, 4, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Instrument, VersionAllStacksTheVersionsLineByLine) {
  RecordedInstrument instrument;
  instrument.driver.Answer(":SYST:VERS?", "1999.0");
  driver::testing::Reply revisions;
  revisions.texts = {"pgxgen 0.1.0", "FW 2.04"};
  instrument.driver.Script("pgxgen_revision_query", revisions);
  BSTR version = nullptr;
  ASSERT_EQ(instrument->get_Version(PgxVersionAll, &version), S_OK);
  std::string expected = std::string("1999.0\npgxgen 0.1.0\nFW 2.04\nProduct Version: ") +
                         PGXSRV_PRODUCT_VERSION + "\nFile Version: \n" + PGXSRV_FILE_VERSION;
  EXPECT_EQ(auto_::BstrView(version), std::u16string(expected.begin(), expected.end()));
  SysFreeString(version);
  ASSERT_EQ(instrument->get_Version(PgxVersionFirmware, &version), S_OK);
  EXPECT_EQ(auto_::BstrView(version), u"FW 2.04");
  SysFreeString(version);
  ASSERT_EQ(instrument->get_Version(PgxVersionActiveX, &version), S_OK);
  EXPECT_EQ(auto_::BstrView(version).substr(0, 17), u"Product Version: ");
  SysFreeString(version);
  EXPECT_EQ(instrument->get_Version(static_cast<PgxVersionData>(5), &version), E_INVALIDARG);
}

TEST(Instrument, ChannelMathNeedsTwoChannelsAndTheModelsOutputMath) {
  PgxChannelMath math = PgxChannelMathOff;
  {
    RecordedInstrument one_channel("M4030A");
    EXPECT_EQ(one_channel->get_ChannelMath(&math), E_NOTIMPL);
  }
  {
    RecordedInstrument no_math("M4040A,M4040A");  // the M4040A has no output math
    EXPECT_EQ(no_math->put_ChannelMath(PgxChannelMathPlus), kErrNotSupported);
    EXPECT_THAT(no_math.driver.CallsTo("pgxgen_cmdString"), IsEmpty());
  }
  RecordedInstrument two("M4030A,M4030A");
  two.driver.Return("pgxgen_outputMath_Q", {1});
  EXPECT_EQ(two->get_ChannelMath(&math), S_OK);
  EXPECT_EQ(math, PgxChannelMathPlus);
  EXPECT_EQ(two->put_ChannelMath(PgxChannelMathPlus), S_OK);
  EXPECT_EQ(two->put_ChannelMath(PgxChannelMathEnd), E_INVALIDARG);
  EXPECT_THAT(two.driver.CallsTo("pgxgen_cmdString"),
              ElementsAre("pgxgen_cmdString(1, \":CHAN:MATH\", \"PLUS\")"));
}

TEST(Instrument, AttributeInfoCopiesTheRecordIntoALargeEnoughArray) {
  RecordedInstrument instrument;
  auto_::SafeArray small = auto_::SafeArray::Attach(SafeArrayCreateVector(VT_UI1, 0, 27));
  SAFEARRAY* array = small.get();
  EXPECT_EQ(instrument->AttributeInfo(&array), kErrArrayTooSmall);
  auto_::SafeArray fits = auto_::SafeArray::Attach(SafeArrayCreateVector(VT_UI1, 0, 28));
  array = fits.get();
  ASSERT_EQ(instrument->AttributeInfo(&array), S_OK);
  ViAttributeInfo record{};
  std::memcpy(&record, array->pvData, sizeof record);
  EXPECT_EQ(record.ManfId, 4095);
  EXPECT_EQ(record.IntfType, PgxViIntfVxi);  // the bench's first resource is a VXI module
  EXPECT_EQ(record.GpibPriAddr, 0);
  SAFEARRAY* none = nullptr;
  EXPECT_EQ(instrument->AttributeInfo(&none), E_POINTER);
}

TEST(Instrument, OpenAndClose) {
  RecordedInstrument instrument("");
  VARIANT_BOOL open = VARIANT_FALSE;
  instrument.driver.Answer("*OPT?", "M4030A");
  ASSERT_EQ(instrument->get_Open(VARIANT_TRUE, VARIANT_FALSE, VARIANT_TRUE, &open), S_OK);
  EXPECT_EQ(open, VARIANT_TRUE);
  EXPECT_THAT(instrument.driver.Calls(),
              ElementsAre("pgxgen_init(\"VXI0::8::INSTR\", 1, 0)", "pgxgen_errorQueryDetect(1, 1)",
                          "pgxgen_cmdString_Q(1, \"*OPT?\", 256)"));
  instrument.driver.ClearCalls();
  EXPECT_EQ(instrument->get_Open(VARIANT_FALSE, VARIANT_FALSE, VARIANT_FALSE, &open), S_OK);  // already open
  EXPECT_THAT(instrument.driver.Calls(), IsEmpty());

  instrument.driver.Fail("pgxgen_close", VI_ERROR_CONN_LOST);
  EXPECT_EQ(instrument->Close(), S_OK);  // a failing close still closes
  EXPECT_EQ(instrument->get_IsOpen(&open), S_OK);
  EXPECT_EQ(open, VARIANT_FALSE);
  EXPECT_EQ(instrument->Close(), S_OK);
  EXPECT_THAT(instrument.driver.CallsTo("pgxgen_close"), ElementsAre("pgxgen_close(1)"));
}

TEST(Instrument, OpenFailsWithTheDriversStatus) {
  RecordedInstrument instrument("");
  instrument.driver.Fail("pgxgen_init", VI_ERROR_RSRC_NFOUND);
  VARIANT_BOOL open = VARIANT_TRUE;
  EXPECT_EQ(instrument->get_Open(VARIANT_TRUE, VARIANT_TRUE, VARIANT_FALSE, &open), kErrDriver);
  EXPECT_EQ(instrument->get_IsOpen(&open), S_OK);
  EXPECT_EQ(open, VARIANT_FALSE);
}

TEST(Instrument, CalibrateIsRefusedOnModelsWithoutIt) {
  {
    RecordedInstrument m4010("M4010A");
    EXPECT_EQ(m4010->Calibrate(), kErrNotSupported);
    EXPECT_EQ(TakeErrorDescription(), u"The current instrument does not support this function.");
    EXPECT_THAT(m4010.driver.Calls(), IsEmpty());
  }
  RecordedInstrument m4030("M4030A");
  EXPECT_EQ(m4030->Calibrate(), S_OK);
  EXPECT_THAT(m4030.driver.Calls(), ElementsAre("pgxgen_timeCalibration(1)"));
}

TEST(Instrument, FlagsComeFromExactAnswers) {
  RecordedInstrument instrument;
  VARIANT_BOOL flag = VARIANT_FALSE;
  instrument.driver.AnswerOnce(":CAL:ALL?", "0");
  EXPECT_EQ(instrument->get_IsCalibrated(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_TRUE);
  instrument.driver.AnswerOnce(":CAL:ALL?", "0 ");
  EXPECT_EQ(instrument->get_IsCalibrated(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_FALSE);
  instrument.driver.AnswerOnce(":SYST:SEC?", "1");
  EXPECT_EQ(instrument->get_SecurityState(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_TRUE);
  EXPECT_EQ(instrument->put_SecurityState(VARIANT_FALSE), S_OK);
  EXPECT_THAT(instrument.driver.CallsTo("pgxgen_cmd"), ElementsAre("pgxgen_cmd(1, \":SYST:SEC OFF\")"));
}

TEST(Instrument, TransactionsAndTheirState) {
  RecordedInstrument instrument;
  EXPECT_EQ(instrument->Transaction(PgxTransactionStart), S_OK);
  EXPECT_EQ(instrument->Transaction(PgxTransactionFinish), S_OK);
  EXPECT_EQ(instrument->Transaction(PgxTransactionCancel), S_OK);
  EXPECT_EQ(instrument->Transaction(PgxTransactionEnd), E_INVALIDARG);
  instrument.driver.Return("pgxgen_transaction_Q", {1, 42});
  VARIANT_BOOL active = VARIANT_FALSE;
  LONG bytes = 0;
  EXPECT_EQ(instrument->get_IsTransactionActive(&bytes, &active), S_OK);
  EXPECT_EQ(active, VARIANT_TRUE);
  EXPECT_EQ(bytes, 42);
  EXPECT_EQ(instrument->get_IsTransactionActive(nullptr, &active), S_OK);
  EXPECT_EQ(instrument->get_IsTransactionActive(&bytes, nullptr), E_POINTER);
  EXPECT_THAT(
      instrument.driver.Calls(),
      ElementsAre("pgxgen_transactionStart(1)", "pgxgen_transactionFinish(1)", "pgxgen_transactionCancel(1)",
                  "pgxgen_transaction_Q(1)", "pgxgen_transaction_Q(1)"));
}

TEST(Instrument, SelfTestGivesTheNumberAndTheText) {
  RecordedInstrument instrument;
  driver::testing::Reply result;
  result.values = {PgxErrOnCh2Board};
  result.texts = {"Channel 2 board failed"};
  instrument.driver.Script("pgxgen_self_test", result);
  SHORT number = 0;
  BSTR text = nullptr;
  EXPECT_EQ(instrument->get_SelfTest(nullptr, &text), E_POINTER);
  ASSERT_EQ(instrument->get_SelfTest(&number, &text), S_OK);
  EXPECT_EQ(number, PgxErrOnCh2Board);
  EXPECT_EQ(auto_::BstrView(text), u"Channel 2 board failed");
  SysFreeString(text);
}

TEST(Instrument, CaptionAndNameAreKeptByTheServer) {
  RecordedInstrument instrument;
  BSTR caption = SysAllocString(u"Bench A");
  EXPECT_EQ(instrument->put_Caption(caption), S_OK);
  SysFreeString(caption);
  BSTR text = nullptr;
  ASSERT_EQ(instrument->get_Caption(&text), S_OK);
  EXPECT_EQ(auto_::BstrView(text), u"Bench A");
  SysFreeString(text);
  ASSERT_EQ(instrument->get_Name(&text), S_OK);
  EXPECT_EQ(auto_::BstrView(text), u"VXI0::8::INSTR");
  SysFreeString(text);
  EXPECT_THAT(instrument.driver.Calls(), IsEmpty());
}

}  // namespace
}  // namespace pgx::server
