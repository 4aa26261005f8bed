// Pulse, Delay, DoubleDelay and Transition against the recording driver: the calls with their channel and
// unit, the unit keywords (seconds are "S" for the delay but "SEC" for the others), the enumeration ranges
// that stop a member with nothing sent, and the model restrictions of the transitions.
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

// The timing objects of one channel.
struct Timing {
  ComPtr<IPulse> pulse;
  ComPtr<IDelay> delay;
  ComPtr<IDoubleDelay> double_delay;
  ComPtr<ITransition> transition;
};

Timing TimingOf(RecordedInstrument& bench, LONG channel) {
  Timing t;
  t.pulse = bench.Child<IPulse>(&IChannel::get_Pulse, channel);
  if (!t.pulse) return t;
  EXPECT_EQ(t.pulse->get_Delay(t.delay.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(t.pulse->get_DoubleDelay(t.double_delay.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(t.pulse->get_Transition(t.transition.ReleaseAndGetAddressOf()), S_OK);
  bench.driver.ClearCalls();
  return t;
}

struct TimingCall {
  const char* what;
  std::function<HRESULT(Timing&)> call;
  const char* sent;  // nullptr: nothing
};

// Every setting of a channel's timing, on channel 2 of a model that has them all.
TEST(Timing, SettingsGoToTheirChannelWithTheirUnit) {
  const TimingCall cases[] = {
      {"Pulse.Width", [](Timing& t) { return t.pulse->put_Width(1e-6); }, "pgxgen_timeWidth(1, 2, 1e-06)"},
      {"Pulse.DutyCycle", [](Timing& t) { return t.pulse->put_DutyCycle(25); },
       "pgxgen_timeWidthDutyCycle(1, 2, 25)"},
      {"Pulse.TrailingEdgeDelay", [](Timing& t) { return t.pulse->put_TrailingEdgeDelay(2.5e-8); },
       "pgxgen_timeWidthTrailingDelay(1, 2, 2.5e-08)"},
      {"Pulse.Hold", [](Timing& t) { return t.pulse->put_Hold(PgxPulseHoldTrailingDelay); },
       "pgxgen_timeWidthHold(1, 2, 2)"},
      {"Pulse.Type", [](Timing& t) { return t.pulse->put_Type(PgxPulseTypeDouble); },
       "pgxgen_modePulseType(1, 2, 2)"},
      {"Delay.Hold", [](Timing& t) { return t.delay->put_Hold(PgxPulseHoldRatio); },
       "pgxgen_timeDelayHold(1, 2, 2)"},
      {"Delay.Value",
       [](Timing& t) {
         PgxPulseUnitsX units = PgxPulseUnitXRadians;
         return t.delay->put_Value(&units, 1.5);
       },
       "pgxgen_timeDelay(1, 2, 3, 1.5)"},
      {"Delay.DefaultUnits", [](Timing& t) { return t.delay->put_DefaultUnits(PgxPulseUnitXSeconds); },
       "pgxgen_cmdString(1, \":PULS:DEL2:UNIT\", \"S\")"},
      {"Delay.DefaultUnits", [](Timing& t) { return t.delay->put_DefaultUnits(PgxPulseUnitXDegrees); },
       "pgxgen_cmdString(1, \":PULS:DEL2:UNIT\", \"DEG\")"},
      {"DoubleDelay.Hold", [](Timing& t) { return t.double_delay->put_Hold(PgxPulseHoldAbsolute); },
       "pgxgen_timeDelayDoubleHold(1, 2, 1)"},
      {"DoubleDelay.Value",
       [](Timing& t) {
         PgxPulseUnits units = PgxPulseUnitPercent;
         return t.double_delay->put_Value(&units, 40);
       },
       "pgxgen_timeDelayDouble(1, 2, 1, 40)"},
      {"DoubleDelay.DefaultUnits",
       [](Timing& t) { return t.double_delay->put_DefaultUnits(PgxPulseUnitSeconds); },
       "pgxgen_cmdString(1, \":PULS:DOUB2:DEL:UNIT\", \"SEC\")"},
      {"DoubleDelay.Enabled", [](Timing& t) { return t.double_delay->put_Enabled(VARIANT_TRUE); },
       "pgxgen_modePulseType(1, 2, 2)"},
      {"DoubleDelay.Enabled 1", [](Timing& t) { return t.double_delay->put_Enabled(1); },
       "pgxgen_modePulseType(1, 2, 2)"},
      {"DoubleDelay.Enabled off", [](Timing& t) { return t.double_delay->put_Enabled(VARIANT_FALSE); },
       "pgxgen_modePulseType(1, 2, 1)"},
      {"Transition.LeadingEdge",
       [](Timing& t) {
         PgxPulseUnits units = PgxPulseUnitSeconds;
         return t.transition->put_LeadingEdge(&units, 2e-9);
       },
       "pgxgen_timeEdgeLeading(1, 2, 0, 2e-09)"},
      {"Transition.TrailingEdge",
       [](Timing& t) {
         PgxPulseUnits units = PgxPulseUnitPercent;
         return t.transition->put_TrailingEdge(&units, 10);
       },
       "pgxgen_timeEdgeTrailing(1, 2, 1, 10)"},
      {"Transition.Hold", [](Timing& t) { return t.transition->put_Hold(PgxPulseHoldRatio); },
       "pgxgen_timeEdgeHold(1, 2, 2)"},
      {"Transition.AutoCoupleTrailingEdge",
       [](Timing& t) { return t.transition->put_AutoCoupleTrailingEdge(PgxTrailEdgeCoupleOnce); },
       "pgxgen_timeEdgeTrailingCoupling(1, 2, 2)"},
      {"Transition.DefaultUnits",
       [](Timing& t) { return t.transition->put_DefaultUnits(PgxPulseUnitSeconds); },
       "pgxgen_cmdString(1, \":PULS:TRAN2:UNIT\", \"SEC\")"},
      {"Transition.DefaultUnits",
       [](Timing& t) { return t.transition->put_DefaultUnits(PgxPulseUnitPercent); },
       "pgxgen_cmdString(1, \":PULS:TRAN2:UNIT\", \"PCT\")"},
      // The frequency is the instrument's.
      {"Pulse.Frequency", [](Timing& t) { return t.pulse->put_Frequency(1e6); },
       "pgxgen_cmdReal(1, \":FREQ\", 1000000)"},
  };
  RecordedInstrument bench("M4020A,M4020A");
  Timing timing = TimingOf(bench, 2);
  ASSERT_TRUE(timing.transition);
  for (const TimingCall& c : cases) {
    bench.driver.ClearCalls();
    EXPECT_EQ(c.call(timing), S_OK) << c.what;
    EXPECT_EQ(bench.driver.Calls(), Lines{c.sent}) << c.what;
  }
}

TEST(Timing, ValuesOutsideTheirEnumerationSendNothing) {
  const TimingCall cases[] = {
      {"Pulse.Hold -1", [](Timing& t) { return t.pulse->put_Hold(static_cast<PgxPulseHold>(-1)); }, nullptr},
      {"Pulse.Hold 3", [](Timing& t) { return t.pulse->put_Hold(PgxPulseHoldEnd); }, nullptr},
      {"Pulse.Type 0", [](Timing& t) { return t.pulse->put_Type(static_cast<PgxPulseType>(0)); }, nullptr},
      {"Pulse.Type 3", [](Timing& t) { return t.pulse->put_Type(PgxPulseTypeEnd); }, nullptr},
      {"Delay.Hold 0", [](Timing& t) { return t.delay->put_Hold(static_cast<PgxPulseHoldMode>(0)); },
       nullptr},
      {"Delay.Hold 3", [](Timing& t) { return t.delay->put_Hold(PgxPulseHoldModeEnd); }, nullptr},
      {"Delay.DefaultUnits 4", [](Timing& t) { return t.delay->put_DefaultUnits(PgxPulseUnitsXEnd); },
       nullptr},
      {"Delay.DefaultUnits -1",
       [](Timing& t) { return t.delay->put_DefaultUnits(static_cast<PgxPulseUnitsX>(-1)); }, nullptr},
      {"Delay.Value unit 4",
       [](Timing& t) {
         PgxPulseUnitsX units = PgxPulseUnitsXEnd;
         return t.delay->put_Value(&units, 1);
       },
       nullptr},
      {"DoubleDelay.Hold 0",
       [](Timing& t) { return t.double_delay->put_Hold(static_cast<PgxPulseHoldMode>(0)); }, nullptr},
      {"DoubleDelay.DefaultUnits 2",
       [](Timing& t) { return t.double_delay->put_DefaultUnits(PgxPulseUnitsEnd); }, nullptr},
      {"DoubleDelay.Value unit 2",
       [](Timing& t) {
         PgxPulseUnits units = PgxPulseUnitsEnd;
         return t.double_delay->put_Value(&units, 1);
       },
       nullptr},
      {"Transition.DefaultUnits 2",
       [](Timing& t) { return t.transition->put_DefaultUnits(PgxPulseUnitsEnd); }, nullptr},
      {"Transition.Hold 3", [](Timing& t) { return t.transition->put_Hold(PgxPulseHoldModeEnd); }, nullptr},
      {"Transition.AutoCoupleTrailingEdge 3",
       [](Timing& t) { return t.transition->put_AutoCoupleTrailingEdge(PgxTrailEdgeCouplingEnd); }, nullptr},
      {"Transition.LeadingEdge unit -1",
       [](Timing& t) {
         PgxPulseUnits units = static_cast<PgxPulseUnits>(-1);
         return t.transition->put_LeadingEdge(&units, 1);
       },
       nullptr},
  };
  RecordedInstrument bench("M4020A");
  Timing timing = TimingOf(bench, 1);
  for (const TimingCall& c : cases) {
    EXPECT_EQ(c.call(timing), E_INVALIDARG) << c.what;
  }
  EXPECT_TRUE(bench.driver.Calls().empty());
}

TEST(Timing, MissingPointersSendNothing) {
  const TimingCall cases[] = {
      {"Pulse.Width", [](Timing& t) { return t.pulse->get_Width(nullptr); }, nullptr},
      {"Pulse.DutyCycle", [](Timing& t) { return t.pulse->get_DutyCycle(nullptr); }, nullptr},
      {"Pulse.Hold", [](Timing& t) { return t.pulse->get_Hold(nullptr); }, nullptr},
      {"Pulse.Type", [](Timing& t) { return t.pulse->get_Type(nullptr); }, nullptr},
      {"Pulse.Delay", [](Timing& t) { return t.pulse->get_Delay(nullptr); }, nullptr},
      {"Delay.DefaultUnits", [](Timing& t) { return t.delay->get_DefaultUnits(nullptr); }, nullptr},
      {"Delay.Value units", [](Timing& t) { return t.delay->put_Value(nullptr, 1); }, nullptr},
      {"Delay.Value get units",
       [](Timing& t) {
         double v = 0;
         return t.delay->get_Value(nullptr, &v);
       },
       nullptr},
      {"Delay.Value get value",
       [](Timing& t) {
         PgxPulseUnitsX units = PgxPulseUnitXSeconds;
         return t.delay->get_Value(&units, nullptr);
       },
       nullptr},
      {"DoubleDelay.Enabled", [](Timing& t) { return t.double_delay->get_Enabled(nullptr); }, nullptr},
      {"Transition.TrailingEdge units", [](Timing& t) { return t.transition->put_TrailingEdge(nullptr, 1); },
       nullptr},
  };
  RecordedInstrument bench("M4020A");
  Timing timing = TimingOf(bench, 1);
  for (const TimingCall& c : cases) {
    EXPECT_EQ(c.call(timing), E_POINTER) << c.what;
  }
  EXPECT_TRUE(bench.driver.Calls().empty());
}

TEST(Timing, DefaultUnitsAreLookedUpExactlyInTheirOwnTable) {
  struct Case {
    bool delay;  // else the transition
    const char* answer;
    HRESULT result;
    LONG units;
  };
  const Case cases[] = {
      {true, "S", S_OK, PgxPulseUnitXSeconds},   {true, "SEC", S_OK, PgxPulseUnitXSeconds},
      {true, "PCT", S_OK, PgxPulseUnitXPercent}, {true, "DEG", S_OK, PgxPulseUnitXDegrees},
      {true, "RAD", S_OK, PgxPulseUnitXRadians}, {true, "sec", kErrInvalidResponse, -7},
      {true, "SECOND", kErrInvalidResponse, -7}, {false, "SEC", S_OK, PgxPulseUnitSeconds},
      {false, "S", S_OK, PgxPulseUnitSeconds},   {false, "PCT", S_OK, PgxPulseUnitPercent},
      {false, "DEG", kErrInvalidResponse, -7},   {false, "", kErrInvalidResponse, -7},
  };
  RecordedInstrument bench("M4020A,M4020A");
  Timing timing = TimingOf(bench, 2);
  for (const Case& c : cases) {
    bench.driver.ClearCalls();
    const char* query = c.delay ? ":PULS:DEL2:UNIT?" : ":PULS:TRAN2:UNIT?";
    bench.driver.Answer(query, c.answer);
    LONG units = -7;
    HRESULT hr = c.delay ? timing.delay->get_DefaultUnits(reinterpret_cast<PgxPulseUnitsX*>(&units))
                         : timing.transition->get_DefaultUnits(reinterpret_cast<PgxPulseUnits*>(&units));
    EXPECT_EQ(hr, c.result) << query << " " << c.answer;
    EXPECT_EQ(units, c.units) << query << " " << c.answer;
    EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmdString_Q(1, \"" + std::string(query) + "\", 256)"});
  }
  bench.driver.ClearCalls();
  bench.driver.Answer(":PULS:DOUB2:DEL:UNIT?", "PCT");
  PgxPulseUnits units = PgxPulseUnitSeconds;
  EXPECT_EQ(timing.double_delay->get_DefaultUnits(&units), S_OK);
  EXPECT_EQ(units, PgxPulseUnitPercent);
  EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmdString_Q(1, \":PULS:DOUB2:DEL:UNIT?\", 256)"});
}

TEST(Timing, AValueComesBackWithTheUnitTheInstrumentUses) {
  RecordedInstrument bench("M4020A");
  Timing timing = TimingOf(bench, 1);
  bench.driver.Return("pgxgen_timeDelay_Q", {PgxPulseUnitXDegrees, 90});
  bench.driver.Return("pgxgen_timeDelayDouble_Q", {PgxPulseUnitSeconds, 2e-7});
  bench.driver.Return("pgxgen_timeEdgeTrailing_Q", {PgxPulseUnitPercent, 5});
  PgxPulseUnitsX delay_units = PgxPulseUnitXSeconds;  // the incoming unit is not used
  PgxPulseUnits units = PgxPulseUnitPercent;
  double value = 0;
  EXPECT_EQ(timing.delay->get_Value(&delay_units, &value), S_OK);
  EXPECT_EQ(delay_units, PgxPulseUnitXDegrees);
  EXPECT_EQ(value, 90);
  EXPECT_EQ(timing.double_delay->get_Value(&units, &value), S_OK);
  EXPECT_EQ(units, PgxPulseUnitSeconds);
  EXPECT_EQ(value, 2e-7);
  EXPECT_EQ(timing.transition->get_TrailingEdge(&units, &value), S_OK);
  EXPECT_EQ(units, PgxPulseUnitPercent);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(bench.driver.Calls(), (Lines{"pgxgen_timeDelay_Q(1, 1)", "pgxgen_timeDelayDouble_Q(1, 1)",
                                         "pgxgen_timeEdgeTrailing_Q(1, 1)"}));

  // A failing query leaves both out-values.
  bench.driver.Fail("pgxgen_timeEdgeLeading_Q", PGXGEN_ERROR_INVALID_RESPONSE);
  EXPECT_EQ(timing.transition->get_LeadingEdge(&units, &value), kErrDriver);
  EXPECT_EQ(units, PgxPulseUnitPercent);
  EXPECT_EQ(value, 5);
}

TEST(Timing, DoubleDelayEnabledIsAViewOfThePulseType) {
  RecordedInstrument bench("M4020A");
  Timing timing = TimingOf(bench, 1);
  const std::pair<double, VARIANT_BOOL> cases[] = {{PgxPulseTypeDouble, VARIANT_TRUE},
                                                   {PgxPulseTypeSingle, VARIANT_FALSE},
                                                   {0, VARIANT_FALSE},
                                                   {3, VARIANT_FALSE}};
  for (auto [type, enabled] : cases) {
    bench.driver.Return("pgxgen_modePulseType_Q", {type});
    VARIANT_BOOL on = 7;
    EXPECT_EQ(timing.double_delay->get_Enabled(&on), S_OK);
    EXPECT_EQ(on, enabled) << type;
  }
  bench.driver.Return("pgxgen_modePulseType_Q", {PgxPulseTypeDouble});
  PgxPulseType type = PgxPulseTypeSingle;
  EXPECT_EQ(timing.pulse->get_Type(&type), S_OK);
  EXPECT_EQ(type, PgxPulseTypeDouble);
}

TEST(Timing, PulseFrequencyIsTheInstrumentsMember) {
  RecordedInstrument bench("M4020A");
  Timing timing = TimingOf(bench, 1);
  bench.driver.Answer(":FREQ?", 2.5e6);
  double frequency = 0;
  EXPECT_EQ(timing.pulse->get_Frequency(&frequency), S_OK);
  EXPECT_EQ(frequency, 2.5e6);
  EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmdReal64_Q(1, \":FREQ?\")"});

  // Its failures are the instrument's, and say so.
  ComPtr<IErr> err;
  ASSERT_EQ(bench.instrument.Get()->get_Err(err.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(err->put_Verbose(VARIANT_TRUE), S_OK);
  bench.driver.Fail(Scpi{":FREQ"}, PGXGEN_ERROR_INVALID_RESPONSE);
  bench.driver.SetErrorMessage(PGXGEN_ERROR_INVALID_RESPONSE, "No valid answer");
  EXPECT_EQ(timing.pulse->put_Frequency(1), kErrDriver);
  EXPECT_EQ(
      TakeErrorText(),
      "The PNP driver or Visa library returned an error [in the call to PGXGEN....Instrument.Frequency]\n"
      "No valid answer");
}

TEST(Timing, ErrorTextsNameTheMember) {
  struct Case {
    std::function<HRESULT(Timing&)> call;
    const char* member;
  };
  const Case cases[] = {
      {[](Timing& t) { return t.double_delay->put_DefaultUnits(PgxPulseUnitsEnd); },
       "DoubleDelay.DefaultUnits"},
      {[](Timing& t) { return t.delay->put_DefaultUnits(PgxPulseUnitsXEnd); }, "Delay.DefaultUnits"},
      {[](Timing& t) { return t.transition->put_Hold(PgxPulseHoldModeEnd); }, "Transition.Hold"},
      {[](Timing& t) { return t.pulse->put_Type(PgxPulseTypeEnd); }, "Pulse.Type"},
  };
  RecordedInstrument bench("M4020A");
  Timing timing = TimingOf(bench, 1);
  ComPtr<IErr> err;
  ASSERT_EQ(bench.instrument.Get()->get_Err(err.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(err->put_Verbose(VARIANT_TRUE), S_OK);
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(timing), E_INVALIDARG);
    std::string description = TakeErrorText();
    EXPECT_TRUE(description.ends_with(" [in the call to PGXGEN...." + std::string(c.member) + "]"))
        << description;
  }
}

TEST(Timing, TransitionsAreRefusedOnModelsWithoutThemBeforeAnyPointerCheck) {
  struct Case {
    const char* front_end;
    bool edges;
    bool hold;
    bool coupling;
  };
  const Case cases[] = {
      {"Q520A", false, false, false}, {"Q540A", true, false, false}, {"M4040A", true, false, false},
      {"Q510A", true, true, true},    {"M4020A", true, true, true},
  };
  for (const Case& c : cases) {
    RecordedInstrument bench(c.front_end);
    Timing timing = TimingOf(bench, 1);
    ITransition& transition = *timing.transition;
    // What a member answers: refused on a model without it, else `otherwise`.
    auto refused_or = [](bool supported, HRESULT otherwise) {
      return supported ? otherwise : kErrNotSupported;
    };
    PgxPulseUnits units = PgxPulseUnitSeconds;
    double value = 0;
    PgxPulseHoldMode hold{};
    PgxTrailEdgeCoupling coupling{};
    EXPECT_EQ(transition.get_LeadingEdge(nullptr, nullptr), refused_or(c.edges, E_POINTER)) << c.front_end;
    EXPECT_EQ(transition.put_LeadingEdge(nullptr, 1), refused_or(c.edges, E_POINTER)) << c.front_end;
    EXPECT_EQ(transition.get_TrailingEdge(&units, nullptr), refused_or(c.edges, E_POINTER)) << c.front_end;
    EXPECT_EQ(transition.put_TrailingEdge(&units, 1), c.edges ? S_OK : kErrNotSupported) << c.front_end;
    EXPECT_EQ(transition.get_LeadingEdge(&units, &value), c.edges ? S_OK : kErrNotSupported) << c.front_end;
    EXPECT_EQ(transition.get_Hold(nullptr), refused_or(c.hold, E_POINTER)) << c.front_end;
    EXPECT_EQ(transition.get_Hold(&hold), c.hold ? S_OK : kErrNotSupported) << c.front_end;
    EXPECT_EQ(transition.put_Hold(PgxPulseHoldModeEnd), refused_or(c.hold, E_INVALIDARG)) << c.front_end;
    EXPECT_EQ(transition.get_AutoCoupleTrailingEdge(&coupling), c.coupling ? S_OK : kErrNotSupported)
        << c.front_end;
    EXPECT_EQ(transition.put_AutoCoupleTrailingEdge(PgxTrailEdgeCouplingOn),
              c.coupling ? S_OK : kErrNotSupported)
        << c.front_end;
    // The default unit is no restricted member.
    EXPECT_EQ(transition.put_DefaultUnits(PgxPulseUnitPercent), S_OK) << c.front_end;
    const std::size_t sent = (c.edges ? 2u : 0u) + (c.hold ? 1u : 0u) + (c.coupling ? 2u : 0u) + 1u;
    EXPECT_EQ(bench.driver.CallCount(), sent) << c.front_end;
  }
}

}  // namespace
}  // namespace pgx::server
