// Channels, levels, limits and outputs as a script uses them: late-bound by name through the registered
// module and the real driver, against the simulated instruments of the built-in bench.
#include "server/testing/on_bench.h"

namespace {

using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;
using namespace pgx::server::testing;

using ChannelOnBench = OnBench;

TEST_F(ChannelOnBench, LevelsRoundTripOnEveryChannelOfSeveralModels) {
  for (const BenchInstrument& which : {kM4040Ax2, kQ530Ax2, kM4030A, kQ510A}) {
    SCOPED_TRACE(which.front_ends);
    DispatchPtr instrument = Open(which);
    for (LONG number = 1; number <= which.channels; ++number) {
      SCOPED_TRACE(number);
      DispatchPtr channel = ChannelOf(instrument, number);
      EXPECT_EQ(channel.InvokeByName(u"Number", kGet).lVal, number);
      DispatchPtr voltage = Object(channel.InvokeByName(u"Voltage", kGet));
      // Each channel its own levels: channel 2 ends 0.25 V above channel 1.
      const double shift = 0.25 * (number - 1);
      voltage.InvokeByName(u"High", kPut, {Variant(1.5 + shift)});
      voltage.InvokeByName(u"Low", kPut, {Variant(-0.5 + shift)});
      EXPECT_DOUBLE_EQ(Get(voltage, u"High"), 1.5 + shift);
      EXPECT_DOUBLE_EQ(Get(voltage, u"Low"), -0.5 + shift);
      EXPECT_DOUBLE_EQ(Get(voltage, u"Amplitude"), 2.0);
      EXPECT_DOUBLE_EQ(Get(voltage, u"Offset"), 0.5 + shift);
      voltage.InvokeByName(u"Amplitude", kPut, {Variant(1.0)});
      voltage.InvokeByName(u"Offset", kPut, {Variant(0.25 + shift)});
      EXPECT_DOUBLE_EQ(Get(voltage, u"High"), 0.75 + shift);
      EXPECT_DOUBLE_EQ(Get(voltage, u"Low"), -0.25 + shift);

      DispatchPtr current = Object(channel.InvokeByName(u"Current", kGet));
      current.InvokeByName(u"High", kPut, {Variant(0.02 + shift / 50)});
      current.InvokeByName(u"Low", kPut, {Variant(-0.01)});
      EXPECT_DOUBLE_EQ(Get(current, u"High"), 0.02 + shift / 50);
      EXPECT_DOUBLE_EQ(Get(current, u"Low"), -0.01);
      EXPECT_DOUBLE_EQ(Get(current, u"Amplitude"), 0.03 + shift / 50);
      // The same levels in volts, into the 50 ohm load.
      EXPECT_DOUBLE_EQ(Get(voltage, u"High"), 1.0 + shift);
      EXPECT_DOUBLE_EQ(Get(voltage, u"Low"), -0.5);
    }
    // Setting channel 2 left channel 1 alone.
    EXPECT_DOUBLE_EQ(Get(Object(ChannelOf(instrument, 1).InvokeByName(u"Voltage", kGet)), u"High"), 1.0);
    instrument.InvokeByName(u"Close", kCall);
  }
}

TEST_F(ChannelOnBench, LimitsAndTheirStateRoundTrip) {
  for (const BenchInstrument& which : {kM4040Ax2, kQ510A}) {
    SCOPED_TRACE(which.front_ends);
    DispatchPtr instrument = Open(which);
    DispatchPtr channel = ChannelOf(instrument, which.channels);
    DispatchPtr voltage_limit =
        Object(Object(channel.InvokeByName(u"Voltage", kGet)).InvokeByName(u"Limit", kGet));
    DispatchPtr current_limit =
        Object(Object(channel.InvokeByName(u"Current", kGet)).InvokeByName(u"Limit", kGet));
    voltage_limit.InvokeByName(u"High", kPut, {Variant(2.0)});
    voltage_limit.InvokeByName(u"Low", kPut, {Variant(-1.0)});
    current_limit.InvokeByName(u"High", kPut, {Variant(0.04)});
    current_limit.InvokeByName(u"Low", kPut, {Variant(-0.02)});
    EXPECT_DOUBLE_EQ(Get(voltage_limit, u"High"), 2.0);
    EXPECT_DOUBLE_EQ(Get(voltage_limit, u"Low"), -1.0);
    EXPECT_DOUBLE_EQ(Get(current_limit, u"High"), 0.04);
    EXPECT_DOUBLE_EQ(Get(current_limit, u"Low"), -0.02);

    // One limit state per channel, whichever object sets it.
    voltage_limit.InvokeByName(u"Enabled", kPut, {Variant(true)});
    EXPECT_EQ(channel.InvokeByName(u"LimitEnabled", kGet).boolVal, VARIANT_TRUE);
    EXPECT_EQ(current_limit.InvokeByName(u"Enabled", kGet).boolVal, VARIANT_TRUE);
    channel.InvokeByName(u"LimitEnabled", kPut, {Variant(false)});
    EXPECT_EQ(voltage_limit.InvokeByName(u"Enabled", kGet).boolVal, VARIANT_FALSE);
    instrument.InvokeByName(u"Close", kCall);
  }
}

TEST_F(ChannelOnBench, OutputsRoundTrip) {
  DispatchPtr instrument = Open(kQ530Ax2);
  for (LONG number : {1L, 2L}) {
    SCOPED_TRACE(number);
    DispatchPtr output = Object(ChannelOf(instrument, number).InvokeByName(u"Output", kGet));
    output.InvokeByName(u"NormalState", kPut, {Variant(true)});
    EXPECT_EQ(output.InvokeByName(u"NormalState", kGet).boolVal, VARIANT_TRUE);
    output.InvokeByName(u"Polarity", kPut, {Variant(LONG{1})});
    EXPECT_EQ(output.InvokeByName(u"Polarity", kGet).lVal, 1);
    output.InvokeByName(u"ImpedanceInternal", kPut, {Variant(1000.0)});
    EXPECT_DOUBLE_EQ(Get(output, u"ImpedanceInternal"), 1000.0);
    output.InvokeByName(u"ImpedanceExternalLoad", kPut, {Variant(75.0)});
    EXPECT_DOUBLE_EQ(Get(output, u"ImpedanceExternalLoad"), 75.0);

    output.InvokeByName(u"Hold", kPut, {Variant(LONG{0})});
    EXPECT_EQ(output.InvokeByName(u"Hold", kGet).lVal, 0);
    // High/low 1.0/-0.5 as is (the held volts), read back as amplitude/offset.
    output.InvokeByName(u"SetLevel", kCall,
                        {Variant(LONG{1}), Variant(LONG{2}), Variant(1.0), Variant(-0.5)});
    LONG type = 7;
    double offset = 0, amplitude = 0;
    output.InvokeByName(u"GetLevel", kCall, {Variant(LONG{0}), Ref(&type), Ref(&offset), Ref(&amplitude)});
    EXPECT_EQ(type, 0);
    EXPECT_DOUBLE_EQ(offset, 0.25);
    EXPECT_DOUBLE_EQ(amplitude, 1.5);
  }
  instrument.InvokeByName(u"Close", kCall);
}

TEST_F(ChannelOnBench, RestrictedMembersAreRefusedOnlyOnTheModelsThatLackThem) {
  struct Case {
    BenchInstrument which;
    bool levels;
    bool impedance;
    bool complement;
  };
  const Case cases[] = {
      {kQ520Ax2, false, false, false}, {kQ510A, true, false, false},   {kM4030A, true, true, false},
      {kQ540A, true, false, true},     {kM4040Ax2, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.which.front_ends);
    DispatchPtr instrument = Open(c.which);
    DispatchPtr channel = ChannelOf(instrument, 1);
    DispatchPtr output = Object(channel.InvokeByName(u"Output", kGet));
    auto expected = [](bool has) { return has ? S_OK : kRefused; };
    EXPECT_EQ(FailureOf([&] { channel.InvokeByName(u"Voltage", kGet); }), expected(c.levels));
    EXPECT_EQ(FailureOf([&] { channel.InvokeByName(u"Current", kGet); }), expected(c.levels));
    EXPECT_EQ(FailureOf([&] { channel.InvokeByName(u"LimitEnabled", kPut, {Variant(true)}); }),
              expected(c.levels));
    EXPECT_EQ(FailureOf([&] { output.InvokeByName(u"ImpedanceInternal", kGet); }), expected(c.impedance));
    EXPECT_EQ(FailureOf([&] { output.InvokeByName(u"ImpedanceExternalLoad", kPut, {Variant(50.0)}); }),
              expected(c.impedance));
    EXPECT_EQ(FailureOf([&] { output.InvokeByName(u"ComplementState", kPut, {Variant(true)}); }),
              expected(c.complement));
    if (c.complement) {
      EXPECT_EQ(output.InvokeByName(u"ComplementState", kGet).boolVal, VARIANT_TRUE);
    }
    // What no model lacks works everywhere.
    output.InvokeByName(u"NormalState", kPut, {Variant(false)});
    EXPECT_EQ(output.InvokeByName(u"NormalState", kGet).boolVal, VARIANT_FALSE);
    instrument.InvokeByName(u"Close", kCall);
  }
}

TEST_F(ChannelOnBench, AOneChannelInstrumentHasNoSecondChannel) {
  for (const BenchInstrument& which : {kM4030A, kQ510A}) {
    DispatchPtr instrument = Open(which);
    DispatchPtr channels = Object(instrument.InvokeByName(u"Channels", kGet));
    EXPECT_EQ(FailureOf([&] { channels.InvokeByName(u"Item", kGet, {Variant(LONG{2})}); }), E_INVALIDARG);
    instrument.InvokeByName(u"Close", kCall);
  }
}

}  // namespace
