// Pulse timing as a script uses it: late-bound by name through the registered module and the real driver,
// against the simulated instruments of the built-in bench.
#include "server/testing/on_bench.h"

namespace {

using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;
using namespace pgx::server::testing;

using TimingOnBench = OnBench;

TEST_F(TimingOnBench, PulseTimingRoundTripsOnEveryChannelOfSeveralModels) {
  for (const BenchInstrument& which : {kM4020Ax2, kQ530Ax2, kM4030A, kQ540A}) {
    SCOPED_TRACE(which.front_ends);
    DispatchPtr instrument = Open(which);
    for (LONG number = 1; number <= which.channels; ++number) {
      SCOPED_TRACE(number);
      DispatchPtr pulse = Object(ChannelOf(instrument, number).InvokeByName(u"Pulse", kGet));
      // The frequency is the instrument's, whichever channel sets it.
      pulse.InvokeByName(u"Frequency", kPut, {Variant(1e6)});
      EXPECT_DOUBLE_EQ(Get(instrument, u"Frequency"), 1e6);
      EXPECT_DOUBLE_EQ(Get(pulse, u"Frequency"), 1e6);

      const double width = 100e-9 * number;
      pulse.InvokeByName(u"Width", kPut, {Variant(width)});
      EXPECT_DOUBLE_EQ(Get(pulse, u"Width"), width);
      EXPECT_DOUBLE_EQ(Get(pulse, u"DutyCycle"), 10.0 * number);
      pulse.InvokeByName(u"DutyCycle", kPut, {Variant(25.0)});
      EXPECT_DOUBLE_EQ(Get(pulse, u"Width"), 250e-9);
      pulse.InvokeByName(u"TrailingEdgeDelay", kPut, {Variant(400e-9)});
      EXPECT_DOUBLE_EQ(Get(pulse, u"TrailingEdgeDelay"), 400e-9);

      pulse.InvokeByName(u"Hold", kPut, {Variant(LONG{1})});
      EXPECT_EQ(pulse.InvokeByName(u"Hold", kGet).lVal, 1);
      pulse.InvokeByName(u"Width", kPut, {Variant(width)});  // back to holding the width
      pulse.InvokeByName(u"Hold", kPut, {Variant(LONG{0})});

      DispatchPtr double_delay = Object(pulse.InvokeByName(u"DoubleDelay", kGet));
      double_delay.InvokeByName(u"Enabled", kPut, {Variant(true)});
      EXPECT_EQ(pulse.InvokeByName(u"Type", kGet).lVal, 2);
      pulse.InvokeByName(u"Type", kPut, {Variant(LONG{1})});
      EXPECT_EQ(double_delay.InvokeByName(u"Enabled", kGet).boolVal, VARIANT_FALSE);
    }
    if (which.channels == 2) {
      EXPECT_DOUBLE_EQ(Get(Object(ChannelOf(instrument, 1).InvokeByName(u"Pulse", kGet)), u"Width"), 100e-9);
    }
    instrument.InvokeByName(u"Close", kCall);
  }
}

TEST_F(TimingOnBench, DelaysTravelWithTheirUnits) {
  DispatchPtr instrument = Open(kM4020Ax2);
  instrument.InvokeByName(u"Frequency", kPut, {Variant(1e6)});
  DispatchPtr pulse = Object(ChannelOf(instrument, 2).InvokeByName(u"Pulse", kGet));
  DispatchPtr delay = Object(pulse.InvokeByName(u"Delay", kGet));

  LONG units = 0;
  delay.InvokeByName(u"Value", kPut, {Ref(&units), Variant(50e-9)});
  units = 3;  // what comes in is not used
  EXPECT_DOUBLE_EQ(delay.InvokeByName(u"Value", kGet, {Ref(&units)}).dblVal, 50e-9);
  EXPECT_EQ(units, 0);

  // In degrees by default from now on: 50 ns of a 1 us period are 18 degrees.
  delay.InvokeByName(u"DefaultUnits", kPut, {Variant(LONG{2})});
  EXPECT_EQ(delay.InvokeByName(u"DefaultUnits", kGet).lVal, 2);
  EXPECT_NEAR(delay.InvokeByName(u"Value", kGet, {Ref(&units)}).dblVal, 18.0, 1e-9);
  EXPECT_EQ(units, 2);
  units = 1;  // 10 percent of the period
  delay.InvokeByName(u"Value", kPut, {Ref(&units), Variant(10.0)});
  EXPECT_NEAR(delay.InvokeByName(u"Value", kGet, {Ref(&units)}).dblVal, 36.0, 1e-9);
  delay.InvokeByName(u"DefaultUnits", kPut, {Variant(LONG{0})});
  EXPECT_EQ(delay.InvokeByName(u"DefaultUnits", kGet).lVal, 0);
  delay.InvokeByName(u"Hold", kPut, {Variant(LONG{2})});
  EXPECT_EQ(delay.InvokeByName(u"Hold", kGet).lVal, 2);

  DispatchPtr double_delay = Object(pulse.InvokeByName(u"DoubleDelay", kGet));
  double_delay.InvokeByName(u"Enabled", kPut, {Variant(true)});
  units = 0;
  double_delay.InvokeByName(u"Value", kPut, {Ref(&units), Variant(300e-9)});
  EXPECT_DOUBLE_EQ(double_delay.InvokeByName(u"Value", kGet, {Ref(&units)}).dblVal, 300e-9);
  // Seconds go out as "SEC" here and come back as they may.
  for (LONG unit : {1L, 0L}) {
    double_delay.InvokeByName(u"DefaultUnits", kPut, {Variant(unit)});
    EXPECT_EQ(double_delay.InvokeByName(u"DefaultUnits", kGet).lVal, unit);
  }
  double_delay.InvokeByName(u"Hold", kPut, {Variant(LONG{1})});
  EXPECT_EQ(double_delay.InvokeByName(u"Hold", kGet).lVal, 1);
  instrument.InvokeByName(u"Close", kCall);
}

TEST_F(TimingOnBench, TransitionsRoundTripWhereTheModelHasThem) {
  DispatchPtr instrument = Open(kM4020Ax2);
  for (LONG number : {1L, 2L}) {
    SCOPED_TRACE(number);
    DispatchPtr transition = Object(
        Object(ChannelOf(instrument, number).InvokeByName(u"Pulse", kGet)).InvokeByName(u"Transition", kGet));
    transition.InvokeByName(u"AutoCoupleTrailingEdge", kPut, {Variant(LONG{0})});
    EXPECT_EQ(transition.InvokeByName(u"AutoCoupleTrailingEdge", kGet).lVal, 0);
    LONG units = 0;
    transition.InvokeByName(u"LeadingEdge", kPut, {Ref(&units), Variant(10e-9 * number)});
    transition.InvokeByName(u"TrailingEdge", kPut, {Ref(&units), Variant(20e-9)});
    EXPECT_DOUBLE_EQ(transition.InvokeByName(u"LeadingEdge", kGet, {Ref(&units)}).dblVal, 10e-9 * number);
    EXPECT_EQ(units, 0);
    EXPECT_DOUBLE_EQ(transition.InvokeByName(u"TrailingEdge", kGet, {Ref(&units)}).dblVal, 20e-9);
    transition.InvokeByName(u"Hold", kPut, {Variant(LONG{1})});
    EXPECT_EQ(transition.InvokeByName(u"Hold", kGet).lVal, 1);
    transition.InvokeByName(u"DefaultUnits", kPut, {Variant(LONG{1})});
    EXPECT_EQ(transition.InvokeByName(u"DefaultUnits", kGet).lVal, 1);
    transition.InvokeByName(u"DefaultUnits", kPut, {Variant(LONG{0})});
    EXPECT_EQ(transition.InvokeByName(u"DefaultUnits", kGet).lVal, 0);
  }
  instrument.InvokeByName(u"Close", kCall);
}

TEST_F(TimingOnBench, RestrictedTransitionMembersAreRefusedOnlyOnTheModelsThatLackThem) {
  struct Case {
    BenchInstrument which;
    bool edges;
    bool hold_and_coupling;
  };
  const Case cases[] = {
      {kQ520Ax2, false, false}, {kQ540A, true, false}, {kM4040Ax2, true, false},
      {kQ510A, true, true},     {kM4030A, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.which.front_ends);
    DispatchPtr instrument = Open(c.which);
    DispatchPtr transition = Object(
        Object(ChannelOf(instrument, 1).InvokeByName(u"Pulse", kGet)).InvokeByName(u"Transition", kGet));
    auto expected = [](bool has) { return has ? S_OK : kRefused; };
    LONG units = 0;
    EXPECT_EQ(FailureOf([&] { transition.InvokeByName(u"LeadingEdge", kGet, {Ref(&units)}); }),
              expected(c.edges));
    EXPECT_EQ(FailureOf([&] {
                transition.InvokeByName(u"LeadingEdge", kPut, {Ref(&units), Variant(10e-9)});
              }),
              expected(c.edges));
    EXPECT_EQ(FailureOf([&] { transition.InvokeByName(u"TrailingEdge", kGet, {Ref(&units)}); }),
              expected(c.edges));
    EXPECT_EQ(FailureOf([&] { transition.InvokeByName(u"Hold", kGet); }), expected(c.hold_and_coupling));
    EXPECT_EQ(
        FailureOf([&] { transition.InvokeByName(u"AutoCoupleTrailingEdge", kPut, {Variant(LONG{1})}); }),
        expected(c.hold_and_coupling));
    // The default unit is no restricted member.
    transition.InvokeByName(u"DefaultUnits", kPut, {Variant(LONG{1})});
    EXPECT_EQ(transition.InvokeByName(u"DefaultUnits", kGet).lVal, 1);
    instrument.InvokeByName(u"Close", kCall);
  }
}

}  // namespace
