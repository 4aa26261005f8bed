// Output against the recording driver: the calls with their channel, the hold keywords, the level pair with
// the hold read back, and the refusals that send nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using auto_::ComPtr;
using driver::testing::Scpi;
using testing::RecordedInstrument;
using testing::TakeErrorText;
using Lines = std::vector<std::string>;

struct OutputCall {
  const char* what;
  std::function<HRESULT(IOutput&)> call;
  const char* sent;
};

TEST(Output, SettingsGoToTheirChannel) {
  const OutputCall cases[] = {
      {"ComplementState on", [](IOutput& o) { return o.put_ComplementState(VARIANT_TRUE); },
       "pgxgen_outputStateComplement(1, 2, 1)"},
      {"ComplementState 1", [](IOutput& o) { return o.put_ComplementState(1); },
       "pgxgen_outputStateComplement(1, 2, 1)"},
      {"NormalState off", [](IOutput& o) { return o.put_NormalState(VARIANT_FALSE); },
       "pgxgen_outputStateNormal(1, 2, 0)"},
      {"ImpedanceInternal", [](IOutput& o) { return o.put_ImpedanceInternal(50); },
       "pgxgen_configOutputImpedance(1, 2, 50)"},
      {"ImpedanceExternalLoad", [](IOutput& o) { return o.put_ImpedanceExternalLoad(1e6); },
       "pgxgen_configOutputLoadCompensation(1, 2, 1000000)"},
      {"Polarity", [](IOutput& o) { return o.put_Polarity(PgxOutputPolarityInverted); },
       "pgxgen_outputPolarity(1, 2, 1)"},
      // The hold is one setting of the instrument, not of a channel.
      {"Hold", [](IOutput& o) { return o.put_Hold(PgxOutputTypeCurrent); },
       "pgxgen_cmdString(1, \":HOLD\", \"CURR\")"},
      {"Hold", [](IOutput& o) { return o.put_Hold(PgxOutputTypeVoltage); },
       "pgxgen_cmdString(1, \":HOLD\", \"VOLT\")"},
  };
  for (const OutputCall& c : cases) {
    // No model has every output function: the impedances are set on one that has them.
    RecordedInstrument bench(std::string(c.what).starts_with("Impedance") ? "M4030A,M4030A"
                                                                          : "M4040A,M4040A");
    auto output = bench.Child<IOutput>(&IChannel::get_Output, 2);
    ASSERT_TRUE(output);
    bench.driver.ClearCalls();
    EXPECT_EQ(c.call(*output), S_OK) << c.what;
    EXPECT_EQ(bench.driver.Calls(), Lines{c.sent}) << c.what;
  }
}

TEST(Output, BadValuesAndMissingPointersSendNothing) {
  const OutputCall cases[] = {
      {"Hold as is", [](IOutput& o) { return o.put_Hold(PgxOutputTypeAsIs); }, nullptr},
      {"Hold 3", [](IOutput& o) { return o.put_Hold(static_cast<PgxOutputType>(3)); }, nullptr},
      {"Hold -1", [](IOutput& o) { return o.put_Hold(static_cast<PgxOutputType>(-1)); }, nullptr},
      {"Polarity 2", [](IOutput& o) { return o.put_Polarity(PgxOutputPolarityEnd); }, nullptr},
      {"SetLevel type 3", [](IOutput& o) { return o.SetLevel(PgxFormatHighLow, PgxOutputTypeEnd, 1, 0); },
       nullptr},
      {"SetLevel format 2",
       [](IOutput& o) { return o.SetLevel(PgxOutputLevelFormatEnd, PgxOutputTypeVoltage, 1, 0); }, nullptr},
  };
  RecordedInstrument bench("M4040A");
  auto output = bench.Child<IOutput>(&IChannel::get_Output);
  for (const OutputCall& c : cases) {
    EXPECT_EQ(c.call(*output), E_INVALIDARG) << c.what;
  }
  PgxOutputType type{};
  double a = 0, b = 0;
  EXPECT_EQ(output->get_Hold(nullptr), E_POINTER);
  EXPECT_EQ(output->get_NormalState(nullptr), E_POINTER);
  EXPECT_EQ(output->get_Polarity(nullptr), E_POINTER);
  EXPECT_EQ(output->get_ComplementState(nullptr), E_POINTER);
  EXPECT_EQ(output->GetLevel(PgxFormatHighLow, nullptr, &a, &b), E_POINTER);
  EXPECT_EQ(output->GetLevel(PgxFormatHighLow, &type, nullptr, &b), E_POINTER);
  EXPECT_EQ(output->GetLevel(PgxFormatHighLow, &type, &a, nullptr), E_POINTER);
  EXPECT_TRUE(bench.driver.Calls().empty());
}

TEST(Output, TheHoldIsReadByItsKeywordExactly) {
  struct Case {
    const char* answer;
    HRESULT result;
    PgxOutputType type;
  };
  const Case cases[] = {
      {"VOLT", S_OK, PgxOutputTypeVoltage},
      {"CURR", S_OK, PgxOutputTypeCurrent},
      {" CURR ", S_OK, PgxOutputTypeCurrent},
      {"curr", kErrInvalidResponse, PgxOutputTypeAsIs},
      {"CURRENT", kErrInvalidResponse, PgxOutputTypeAsIs},
      {"", kErrInvalidResponse, PgxOutputTypeAsIs},
  };
  RecordedInstrument bench("M4040A");
  auto output = bench.Child<IOutput>(&IChannel::get_Output);
  for (const Case& c : cases) {
    bench.driver.ClearCalls();
    bench.driver.Answer(":HOLD?", c.answer);
    PgxOutputType type = PgxOutputTypeAsIs;
    EXPECT_EQ(output->get_Hold(&type), c.result) << c.answer;
    EXPECT_EQ(type, c.type) << c.answer;
    EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmdString_Q(1, \":HOLD?\", 256)"});
  }
  EXPECT_EQ(TakeErrorText(), "The instrument returned an invalid response.");
}

TEST(Output, AnUnknownPolarityIsHandedOutAndReported) {
  RecordedInstrument bench("M4040A");
  auto output = bench.Child<IOutput>(&IChannel::get_Output);
  PgxOutputPolarity polarity = PgxOutputPolarityNormal;
  bench.driver.Return("pgxgen_outputPolarity_Q", {1});
  EXPECT_EQ(output->get_Polarity(&polarity), S_OK);
  EXPECT_EQ(polarity, PgxOutputPolarityInverted);
  bench.driver.Return("pgxgen_outputPolarity_Q", {5});
  EXPECT_EQ(output->get_Polarity(&polarity), E_INVALIDARG);
  EXPECT_EQ(polarity, 5);
}

TEST(Output, GetLevelReadsTheHoldThenThePairInTheAskedForm) {
  RecordedInstrument bench("M4040A");
  auto output = bench.Child<IOutput>(&IChannel::get_Output);
  bench.driver.Answer(":HOLD?", "VOLT");
  bench.driver.Return("pgxgen_levelOffsetAmplitude_Q", {1, 0.5, 2.0});
  bench.driver.Return("pgxgen_levelHighLow_Q", {0, 1.5, -0.5});
  PgxOutputType type = PgxOutputTypeAsIs;
  double first = 0, second = 0;
  EXPECT_EQ(output->GetLevel(PgxFormatAmplitudeOffset, &type, &first, &second), S_OK);
  // The driver's level type wins over the hold read first.
  EXPECT_EQ(type, PgxOutputTypeCurrent);
  EXPECT_EQ(first, 0.5);
  EXPECT_EQ(second, 2.0);
  EXPECT_EQ(output->GetLevel(PgxFormatHighLow, &type, &first, &second), S_OK);
  EXPECT_EQ(type, PgxOutputTypeVoltage);
  EXPECT_EQ(first, 1.5);
  EXPECT_EQ(second, -0.5);
  EXPECT_EQ(bench.driver.Calls(),
            (Lines{"pgxgen_cmdString_Q(1, \":HOLD?\", 256)", "pgxgen_levelOffsetAmplitude_Q(1, 1)",
                   "pgxgen_cmdString_Q(1, \":HOLD?\", 256)", "pgxgen_levelHighLow_Q(1, 1)"}));

  // An unknown form is found out after the hold is read; the hold is handed out.
  bench.driver.ClearCalls();
  bench.driver.Answer(":HOLD?", "CURR");
  EXPECT_EQ(output->GetLevel(PgxOutputLevelFormatEnd, &type, &first, &second), E_INVALIDARG);
  EXPECT_EQ(type, PgxOutputTypeCurrent);
  EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmdString_Q(1, \":HOLD?\", 256)"});

  // A failing hold ends it before any level is read.
  bench.driver.ClearCalls();
  bench.driver.Answer(":HOLD?", "AMPS");
  EXPECT_EQ(output->GetLevel(PgxFormatHighLow, &type, &first, &second), kErrInvalidResponse);
  EXPECT_EQ(bench.driver.CallCount("pgxgen_levelHighLow_Q"), 0u);
}

TEST(Output, SetLevelAsIsKeepsTheInstrumentsHold) {
  struct Case {
    PgxOutputLevelFormat format;
    PgxOutputType type;
    const char* hold_answer;
    Lines sent;
  };
  const Case cases[] = {
      {PgxFormatHighLow,
       PgxOutputTypeAsIs,
       "VOLT",
       {"pgxgen_cmdString_Q(1, \":HOLD?\", 256)", "pgxgen_levelHighLow(1, 1, 0, 2, 0)"}},
      {PgxFormatAmplitudeOffset,
       PgxOutputTypeAsIs,
       "CURR",
       {"pgxgen_cmdString_Q(1, \":HOLD?\", 256)", "pgxgen_levelOffsetAmplitude(1, 1, 1, 2, 0)"}},
      {PgxFormatHighLow, PgxOutputTypeCurrent, "VOLT", {"pgxgen_levelHighLow(1, 1, 1, 2, 0)"}},
      {PgxFormatAmplitudeOffset,
       PgxOutputTypeVoltage,
       "CURR",
       {"pgxgen_levelOffsetAmplitude(1, 1, 0, 2, 0)"}},
  };
  RecordedInstrument bench("M4040A");
  auto output = bench.Child<IOutput>(&IChannel::get_Output);
  for (const Case& c : cases) {
    bench.driver.ClearCalls();
    bench.driver.Answer(":HOLD?", c.hold_answer);
    EXPECT_EQ(output->SetLevel(c.format, c.type, 2.0, 0.0), S_OK);
    EXPECT_EQ(bench.driver.Calls(), c.sent);
  }
  // As is, with an unknown form: the hold is read, then the form refused.
  bench.driver.ClearCalls();
  EXPECT_EQ(output->SetLevel(PgxOutputLevelFormatEnd, PgxOutputTypeAsIs, 2.0, 0.0), E_INVALIDARG);
  EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmdString_Q(1, \":HOLD?\", 256)"});
}

TEST(Output, ModelsWithoutAnOutputStageFunctionRefuseIt) {
  struct Case {
    const char* front_end;
    bool impedances;
    bool complement;
  };
  const Case cases[] = {
      {"Q510A", false, false}, {"M4030A", true, false}, {"Q540A", false, true},
      {"M4040A", false, true}, {"Q530A", true, false},
  };
  for (const Case& c : cases) {
    RecordedInstrument bench(c.front_end);
    auto output = bench.Child<IOutput>(&IChannel::get_Output);
    const HRESULT impedance = c.impedances ? S_OK : kErrNotSupported;
    const HRESULT complement = c.complement ? S_OK : kErrNotSupported;
    double ohms = 0;
    VARIANT_BOOL on = VARIANT_FALSE;
    EXPECT_EQ(output->get_ImpedanceInternal(&ohms), impedance) << c.front_end;
    EXPECT_EQ(output->put_ImpedanceInternal(50), impedance) << c.front_end;
    EXPECT_EQ(output->get_ImpedanceExternalLoad(&ohms), impedance) << c.front_end;
    EXPECT_EQ(output->put_ImpedanceExternalLoad(50), impedance) << c.front_end;
    EXPECT_EQ(output->get_ComplementState(&on), complement) << c.front_end;
    EXPECT_EQ(output->put_ComplementState(VARIANT_TRUE), complement) << c.front_end;
    // The restriction is tested before the out-pointer.
    EXPECT_EQ(output->get_ImpedanceInternal(nullptr), c.impedances ? E_POINTER : kErrNotSupported);
    EXPECT_EQ(output->get_ComplementState(nullptr), c.complement ? E_POINTER : kErrNotSupported);
    EXPECT_EQ(bench.driver.CallCount(), (c.impedances ? 4u : 0u) + (c.complement ? 2u : 0u)) << c.front_end;
  }
}

}  // namespace
}  // namespace pgx::server
