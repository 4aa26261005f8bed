// The mode and trigger objects as a script uses them: late-bound by name, through the registry, the real
// driver and the simulated instruments of the built-in bench. Each operating mode that Mode sets must read
// back through Trigger.Mode, Instrument.PulseMode and the settings it is made of, on a VXI module and on a
// benchtop instrument alike.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "automation/activation.h"
#include "automation/client.h"
#include "automation/com_error.h"
#include "server/testing/on_bench.h"

namespace {

using pgx::auto_::com_error;
using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;
using namespace pgx::server::testing;

// Enumeration values of the type library, as a script passes them.
enum : LONG {
  kOsc = 0,
  kPll = 1,
  kClockIn = 2,  // PgxPulsePeriodSource
  kNegative = 0,
  kPositive = 1,
  kEither = 2,
  kAsIs = 3,  // PgxTriggerSlope, PgxArmSlope
  kImmediate = 0,
  kArmPll = 1,
  kExternal = 3,
  kManual = 4,
  kTtlT0 = 7,  // PgxArmSource
  kPeriod = 0,
  kFrequency = 1,  // PgxArmPllFormat
  kContinuous = 0,
  kTriggered = 1,
  kGated = 2,
  kExternalWidth = 3,  // PgxTriggerMode
  kPulses = 0,
  kBurst = 1,
  kPattern = 2,  // PgxPulseMode
  kEdge = 0,
  kLevel = 1,  // PgxArmSense
};

LONG Long(const Variant& v) {
  Variant copy(v);
  EXPECT_EQ(VariantChangeType(&copy, &copy, 0, VT_I4), S_OK);
  return copy.lVal;
}

Variant L(LONG v) {
  return Variant(v);
}

class TriggerOnBench : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr) >= 0, true);
    root_ = CreateRoot();
    ASSERT_TRUE(root_);
    DispatchPtr instruments = Object(root_.InvokeByName(u"Instruments", kGet));
    instrument_ = Object(instruments.InvokeByName(u"Item", kGet, {Variant(GetParam())}));
    // Opened with the identity check, a reset and the instrument's errors checked after every call.
    ASSERT_EQ(instrument_.InvokeByName(u"Open", kGet, {Variant(true), Variant(true), Variant(true)}).boolVal,
              VARIANT_TRUE);
    mode_ = Object(instrument_.InvokeByName(u"Mode", kGet));
    trigger_ = Object(instrument_.InvokeByName(u"Trigger", kGet));
    arm_ = Object(trigger_.InvokeByName(u"Arm", kGet));
    clock_ = Object(trigger_.InvokeByName(u"ClockInput", kGet));
  }
  void TearDown() override {
    if (instrument_) instrument_.InvokeByName(u"Close", kCall);
    root_ = instrument_ = mode_ = trigger_ = arm_ = clock_ = nullptr;
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  LONG PulseMode(LONG* length) {
    Variant count(LONG{0});
    VARIANTARG args[1];
    VariantInit(&args[0]);
    args[0].vt = VT_I4 | VT_BYREF;
    args[0].plVal = &count.lVal;
    Variant result;
    instrument_.Invoke(instrument_.GetIDOfName(u"PulseMode"), kGet, args, 1, &result);
    *length = count.lVal;
    return Long(result);
  }

  DispatchPtr root_, instrument_, mode_, trigger_, arm_, clock_;
};

// What a mode leaves on the instrument; -1: not looked at.
struct Readback {
  LONG trigger_mode, pulse_mode, count, period_source, clock_slope, arm_source, arm_sense, arm_slope;
  double arm_frequency;
};

struct ModeCase {
  const char* method;
  std::vector<Variant> args;
  Readback expected;
};

// Before each mode the instrument is put in external width with settings the mode must change (or, for
// "as is", keep): CLK IN slope negative, arming slope either, arming rate 1 kHz.
TEST_P(TriggerOnBench, EveryModeReadsBackWhatItSet) {
  const ModeCase cases[] = {
      {"ContinuousPulses",
       {L(kClockIn), L(kPositive)},
       {kContinuous, kPulses, 1, kClockIn, kPositive, kImmediate, -1, -1, -1}},
      {"ContinuousBurst",
       {L(5), L(kPll), L(kAsIs)},
       {kContinuous, kBurst, 5, kPll, kNegative, kImmediate, -1, -1, -1}},
      {"ContinuousPattern",
       {L(kOsc), L(kPositive)},
       {kContinuous, kPattern, -1, kOsc, kPositive, kImmediate, -1, -1, -1}},
      {"GatedPulses",
       {L(kOsc), L(kNegative), L(kExternal), L(kPositive)},
       {kGated, kPulses, 1, kOsc, kNegative, kExternal, kLevel, kPositive, -1}},
      {"GatedBurst",
       {L(100), L(kClockIn), L(kPositive), L(kManual), L(kAsIs)},
       {kGated, kBurst, 100, kClockIn, kPositive, kManual, kLevel, kEither, -1}},
      {"GatedPattern",
       {L(kPll), L(kAsIs), L(kExternal), L(kNegative)},
       {kGated, kPattern, -1, kPll, kNegative, kExternal, kLevel, kNegative, -1}},
      {"TriggeredPulses",
       {L(kExternal), L(kNegative)},
       {kTriggered, kPulses, 1, -1, kNegative, kExternal, kEdge, kNegative, -1}},
      {"TriggeredBurst",
       {L(16), L(kOsc), L(kPositive), L(kArmPll), L(kPositive), L(kFrequency), Variant(2e6)},
       {kTriggered, kBurst, 16, kOsc, kPositive, kArmPll, kEdge, kPositive, 2e6}},
      {"TriggeredPattern",
       {L(kClockIn), L(kNegative), L(kArmPll), L(kAsIs), L(kPeriod), Variant(4e-6)},
       {kTriggered, kPattern, -1, kClockIn, kNegative, kArmPll, kEdge, kEither, 250e3}},
      // "As is" for the arming rate leaves 1 kHz.
      {"TriggeredBurst",
       {L(2), L(kOsc), L(kAsIs), L(kArmPll), L(kNegative), L(kAsIs), Variant(5e6)},
       {kTriggered, kBurst, 2, kOsc, kNegative, kArmPll, kEdge, kNegative, 1e3}},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.method);
    trigger_.InvokeByName(u"Mode", kPut, {L(kExternalWidth)});
    clock_.InvokeByName(u"Slope", kPut, {L(kNegative)});
    arm_.InvokeByName(u"Slope", kPut, {L(kEither)});
    arm_.InvokeByName(u"Frequency", kPut, {Variant(1e3)});
    ASSERT_EQ(Long(trigger_.InvokeByName(u"Mode", kGet)), kExternalWidth);

    std::u16string method(c.method, c.method + std::char_traits<char>::length(c.method));
    DISPID id = mode_.GetIDOfName(method);
    std::vector<VARIANTARG> reversed(c.args.rbegin(), c.args.rend());
    mode_.Invoke(id, kCall, reversed.data(), static_cast<UINT>(reversed.size()), nullptr);

    const Readback& e = c.expected;
    EXPECT_EQ(Long(trigger_.InvokeByName(u"Mode", kGet)), e.trigger_mode);
    LONG length = 0;
    EXPECT_EQ(PulseMode(&length), e.pulse_mode);
    if (e.count >= 0) {
      EXPECT_EQ(length, e.count);
    }
    if (e.period_source >= 0) {
      EXPECT_EQ(Long(trigger_.InvokeByName(u"Source", kGet)), e.period_source);
    }
    EXPECT_EQ(Long(clock_.InvokeByName(u"Slope", kGet)), e.clock_slope);
    EXPECT_EQ(Long(arm_.InvokeByName(u"Source", kGet)), e.arm_source);
    if (e.arm_sense >= 0) {
      EXPECT_EQ(Long(arm_.InvokeByName(u"Sense", kGet)), e.arm_sense);
    }
    if (e.arm_slope >= 0) {
      EXPECT_EQ(Long(arm_.InvokeByName(u"Slope", kGet)), e.arm_slope);
    }
    if (e.arm_frequency >= 0) {
      EXPECT_DOUBLE_EQ(arm_.InvokeByName(u"Frequency", kGet).dblVal, e.arm_frequency);
    }
  }
}

// No instrument of the family arms from the VXI trigger lines: a VXI module is refused by the server's
// restriction check, a benchtop instrument by the driver (it has no backplane). The mode stays as it was.
TEST_P(TriggerOnBench, VxiArmingIsRefusedAndChangesNothing) {
  mode_.InvokeByName(u"ContinuousBurst", kCall, {L(3), L(kOsc), L(kPositive)});
  const bool vxi = std::string(GetParam()).rfind("VXI", 0) == 0;
  try {
    mode_.InvokeByName(u"TriggeredPulses", kCall, {L(kTtlT0), L(kPositive)});
    FAIL() << "VXI arming was accepted";
  } catch (const com_error& e) {
    EXPECT_EQ(e.Error(), vxi ? kRefused : E_INVALIDARG) << e.what();
  }
  try {
    arm_.InvokeByName(u"Source", kPut, {L(kTtlT0)});
    FAIL() << "VXI arming was accepted";
  } catch (const com_error& e) {
    EXPECT_EQ(e.Error(), vxi ? kRefused : static_cast<HRESULT>(0x8004046C)) << e.what();
    if (!vxi) {
      EXPECT_NE(e.Description().find(u"Instr. Error [-241]"), std::u16string::npos) << e.what();
    }
  }
  EXPECT_EQ(Long(trigger_.InvokeByName(u"Mode", kGet)), kContinuous);
  LONG length = 0;
  EXPECT_EQ(PulseMode(&length), kBurst);
  EXPECT_EQ(length, 3);
}

// The settings of the trigger and its connectors read back what was set.
TEST_P(TriggerOnBench, TriggerAndConnectorSettingsReadBack) {
  DispatchPtr external = Object(trigger_.InvokeByName(u"ExternalInput", kGet));
  DispatchPtr output = Object(trigger_.InvokeByName(u"Output", kGet));
  trigger_.InvokeByName(u"CountPerArmEvent", kPut, {L(7)});
  trigger_.InvokeByName(u"Source", kPut, {L(kClockIn)});
  arm_.InvokeByName(u"Source", kPut, {L(kExternal)});
  arm_.InvokeByName(u"Period", kPut, {Variant(2e-3)});
  clock_.InvokeByName(u"Impedance", kPut, {Variant(10000.0)});
  clock_.InvokeByName(u"ThresholdLevel", kPut, {Variant(-0.5)});
  external.InvokeByName(u"Impedance", kPut, {Variant(50.0)});
  external.InvokeByName(u"ThresholdLevel", kPut, {Variant(2.5)});
  output.InvokeByName(u"Level", kPut, {L(2), L(1)});  // strobe output: ECL
  output.InvokeByName(u"Level", kPut, {L(0), L(2)});  // trigger output in immediate mode: STA
  output.InvokeByName(u"AutoCouple", kPut, {Variant(true)});
  trigger_.InvokeByName(u"Fire", kCall);

  EXPECT_EQ(Long(trigger_.InvokeByName(u"CountPerArmEvent", kGet)), 7);
  EXPECT_EQ(Long(trigger_.InvokeByName(u"Source", kGet)), kClockIn);
  EXPECT_DOUBLE_EQ(arm_.InvokeByName(u"Frequency", kGet).dblVal, 500);
  EXPECT_DOUBLE_EQ(clock_.InvokeByName(u"Impedance", kGet).dblVal, 10000);
  EXPECT_DOUBLE_EQ(clock_.InvokeByName(u"ThresholdLevel", kGet).dblVal, -0.5);
  EXPECT_DOUBLE_EQ(external.InvokeByName(u"Impedance", kGet).dblVal, 50);
  EXPECT_DOUBLE_EQ(external.InvokeByName(u"ThresholdLevel", kGet).dblVal, 2.5);
  EXPECT_EQ(Long(output.InvokeByName(u"Level", kGet, {L(2)})), 1);
  EXPECT_EQ(Long(output.InvokeByName(u"Level", kGet, {L(0)})), 2);
  EXPECT_EQ(Long(output.InvokeByName(u"Level", kGet, {L(1)})), 0);
  EXPECT_EQ(output.InvokeByName(u"AutoCouple", kGet).boolVal, VARIANT_TRUE);

  // Triggered and gated change the arming sense only.
  trigger_.InvokeByName(u"Mode", kPut, {L(kGated)});
  EXPECT_EQ(Long(trigger_.InvokeByName(u"Mode", kGet)), kGated);
  trigger_.InvokeByName(u"Mode", kPut, {L(kTriggered)});
  EXPECT_EQ(Long(trigger_.InvokeByName(u"Mode", kGet)), kTriggered);
  trigger_.InvokeByName(u"Mode", kPut, {L(kContinuous)});
  EXPECT_EQ(Long(trigger_.InvokeByName(u"Mode", kGet)), kContinuous);
  trigger_.InvokeByName(u"Mode", kPut, {L(kTriggered)});
  EXPECT_EQ(Long(trigger_.InvokeByName(u"Mode", kGet)), kContinuous);
}

HRESULT Failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const com_error& e) {
    return e.Error();
  }
  return S_OK;
}

// The trigger output's source can be read where the model has one and set nowhere; the VXI trigger members
// are refused by the server's restriction check on the VXI modules and by the instrument elsewhere.
TEST(TrgOutputOnBench, SourceAndVxiMembersAreRefusedWhereTheModelLacksThem) {
  ASSERT_EQ(CoInitialize(nullptr) >= 0, true);
  {
    DispatchPtr root = CreateRoot();
    ASSERT_TRUE(root);
    DispatchPtr instruments = Object(root.InvokeByName(u"Instruments", kGet));
    struct Case {
      const char* resource;
      HRESULT source_get, vxi_source, vxi_trigger;
    };
    // The driver's refusal of a VXI function on a benchtop instrument is one of its parameter errors.
    const HRESULT kNoBackplane = E_INVALIDARG;
    const Case cases[] = {
        {"GPIB0::11::INSTR", S_OK, kRefused, kNoBackplane},          // Q520A
        {"GPIB0::12::INSTR", kRefused, kNoBackplane, kNoBackplane},  // Q530A
        {"VXI0::32::INSTR", kRefused, kRefused, kRefused},           // M4040A
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.resource);
      DispatchPtr instrument = Object(instruments.InvokeByName(u"Item", kGet, {Variant(c.resource)}));
      instrument.InvokeByName(u"Open", kGet, {Variant(true), Variant(true), Variant(true)});
      DispatchPtr output =
          Object(Object(instrument.InvokeByName(u"Trigger", kGet)).InvokeByName(u"Output", kGet));
      EXPECT_EQ(Failure([&] { output.InvokeByName(u"Source", kGet); }), c.source_get);
      EXPECT_EQ(Failure([&] { output.InvokeByName(u"Source", kPut, {L(1)}); }),
                c.source_get == S_OK ? E_INVALIDARG : kRefused);
      EXPECT_EQ(Failure([&] { output.InvokeByName(u"VxiSource", kGet); }), c.vxi_source);
      EXPECT_EQ(Failure([&] { output.InvokeByName(u"VxiSource", kPut, {L(1)}); }), c.vxi_source);
      EXPECT_EQ(Failure([&] { output.InvokeByName(u"VxiTrigger", kGet); }), c.vxi_trigger);
      EXPECT_EQ(Failure([&] { output.InvokeByName(u"VxiTrigger", kPut, {L(15)}); }), c.vxi_trigger);
      instrument.InvokeByName(u"Close", kCall);
    }
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
}

// The first channel of a VXI module and of a benchtop instrument, both with pattern mode.
INSTANTIATE_TEST_SUITE_P(Models, TriggerOnBench, ::testing::Values("VXI0::24::INSTR", "GPIB0::12::INSTR"),
                         [](const auto& info) { return std::string(info.index == 0 ? "M4030A" : "Q530A"); });

}  // namespace
