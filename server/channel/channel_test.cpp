// Channel, Voltage, Current and Limit against the recording driver: the exact calls and SCPI texts, the
// checks that stop a member before anything is sent, and the model restrictions.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"
#include "visa/testing/test_files.h"

namespace pgx::server {
namespace {

using auto_::ComPtr;
using testing::RecordedInstrument;
using testing::TakeErrorText;
using Lines = std::vector<std::string>;

constexpr HRESULT kRefused = kErrNotSupported;

// ---- Levels
// -------------------------------------------------------------------------------------------------

template <class I>
struct LevelSet {
  HRESULT (I::*put)(DOUBLE);
  LONG channel;
  double value;
  const char* sent;
};

TEST(ChannelLevels, VoltageSettingsAreFormattedWithChannelAndUnit) {
  const LevelSet<IVoltage> cases[] = {
      {&IVoltage::put_Amplitude, 1, 0.0001, "VOLT1 0.0001V"},
      {&IVoltage::put_Amplitude, 1, 0.00001, "VOLT1 1E-05V"},
      {&IVoltage::put_Amplitude, 2, 5, "VOLT2 5V"},
      {&IVoltage::put_High, 1, 2.5, "VOLT1:HIGH 2.5V"},
      {&IVoltage::put_Low, 2, -1.25, "VOLT2:LOW -1.25V"},
      {&IVoltage::put_Offset, 2, 1234567.0, "VOLT2:OFFS 1.23457E+06V"},
      // No range check here: the instrument judges every value, however large or odd.
      {&IVoltage::put_Offset, 1, -1e300, "VOLT1:OFFS -1E+300V"},
      {&IVoltage::put_High, 1, std::numeric_limits<double>::infinity(), "VOLT1:HIGH INFV"},
      {&IVoltage::put_Low, 1, std::numeric_limits<double>::quiet_NaN(), "VOLT1:LOW NANV"},
  };
  RecordedInstrument bench("M4030A,M4040A");
  for (const auto& c : cases) {
    auto voltage = bench.Child<IVoltage>(&IChannel::get_Voltage, c.channel);
    ASSERT_TRUE(voltage);
    bench.driver.ClearCalls();
    EXPECT_EQ(((*voltage).*c.put)(c.value), S_OK) << c.sent;
    EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmd(1, \"" + std::string(c.sent) + "\")"});
  }
}

TEST(ChannelLevels, CurrentSettingsAreFormattedWithChannelAndUnit) {
  const LevelSet<ICurrent> cases[] = {
      {&ICurrent::put_Amplitude, 2, 0.015, ":CURR2 0.015A"},
      {&ICurrent::put_High, 1, 0.1, ":CURR1:HIGH 0.1A"},
      {&ICurrent::put_Low, 1, -0.0000025, ":CURR1:LOW -2.5E-06A"},
      {&ICurrent::put_Offset, 2, 0, ":CURR2:OFFS 0A"},
  };
  RecordedInstrument bench("M4030A,M4040A");
  for (const auto& c : cases) {
    auto current = bench.Child<ICurrent>(&IChannel::get_Current, c.channel);
    ASSERT_TRUE(current);
    bench.driver.ClearCalls();
    EXPECT_EQ(((*current).*c.put)(c.value), S_OK) << c.sent;
    EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmd(1, \"" + std::string(c.sent) + "\")"});
  }
}

// A client's process may run in a locale with a decimal comma (a Qt program takes the user's); the
// instrument reads only a decimal point. Without such a locale installed the test compiles one.
TEST(ChannelLevels, ValuesAreSentWithADecimalPointWhateverTheLocale) {
  visa::testing::TempDir compiled;
  visa::testing::ScopedEnv locale_path("LOCPATH", compiled.path().string());
  const std::string made =
      "localedef -i de_DE -f ISO-8859-1 '" + compiled.file("de_DE.ISO-8859-1") + "' >/dev/null 2>&1";
  if (std::system(made.c_str()) != 0 || !std::setlocale(LC_NUMERIC, "de_DE.ISO-8859-1")) {
    GTEST_SKIP() << "no locale with a decimal comma can be made here";
  }
  RecordedInstrument bench("M4030A");
  auto voltage = bench.Child<IVoltage>(&IChannel::get_Voltage);
  HRESULT hr = voltage->put_High(2.5);
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmd(1, \"VOLT1:HIGH 2.5V\")"});
}

template <class I>
struct LevelGet {
  HRESULT (I::*get)(DOUBLE*);
  LONG channel;
  const char* query;
};

TEST(ChannelLevels, ReadingsQueryTheirChannelAndReturnTheAnswer) {
  const LevelGet<IVoltage> voltages[] = {
      {&IVoltage::get_Amplitude, 2, "VOLT2?"},
      {&IVoltage::get_High, 1, "VOLT1:HIGH?"},
      {&IVoltage::get_Low, 2, "VOLT2:LOW?"},
      {&IVoltage::get_Offset, 1, "VOLT1:OFFS?"},
  };
  const LevelGet<ICurrent> currents[] = {
      {&ICurrent::get_Amplitude, 1, ":CURR1?"},
      {&ICurrent::get_High, 2, ":CURR2:HIGH?"},
      {&ICurrent::get_Low, 1, ":CURR1:LOW?"},
      {&ICurrent::get_Offset, 2, ":CURR2:OFFS?"},
  };
  RecordedInstrument bench("M4030A,M4040A");
  auto expect_reading = [&](auto* level, auto get, const char* query) {
    bench.driver.ClearCalls();
    bench.driver.Answer(query, -0.125);
    double value = 0;
    EXPECT_EQ((level->*get)(&value), S_OK) << query;
    EXPECT_EQ(value, -0.125) << query;
    EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmdReal64_Q(1, \"" + std::string(query) + "\")"});
  };
  for (const auto& c : voltages) {
    auto voltage = bench.Child<IVoltage>(&IChannel::get_Voltage, c.channel);
    expect_reading(voltage.Get(), c.get, c.query);
  }
  for (const auto& c : currents) {
    auto current = bench.Child<ICurrent>(&IChannel::get_Current, c.channel);
    expect_reading(current.Get(), c.get, c.query);
  }
}

TEST(ChannelLevels, AFailedReadingLeavesTheValueAndCarriesTheDriversMessage) {
  RecordedInstrument bench("M4030A");
  auto voltage = bench.Child<IVoltage>(&IChannel::get_Voltage);
  EXPECT_EQ(voltage->get_High(nullptr), E_POINTER);
  EXPECT_TRUE(bench.driver.Calls().empty());

  bench.driver.Fail(driver::testing::Scpi{"VOLT1:HIGH?"}, PGXGEN_ERROR_INVALID_RESPONSE);
  bench.driver.SetErrorMessage(PGXGEN_ERROR_INVALID_RESPONSE, "No valid answer");
  double value = 7;
  EXPECT_EQ(voltage->get_High(&value), kErrDriver);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(TakeErrorText(), "The PNP driver or Visa library returned an error\nNo valid answer");
}

TEST(ChannelLevels, ChildrenAreCachedButEveryLimitIsNew) {
  RecordedInstrument bench("M4030A");
  auto channel = bench.Channel(1);
  ComPtr<IVoltage> first, second;
  ASSERT_EQ(channel->get_Voltage(first.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(channel->get_Voltage(second.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(first.Get(), second.Get());
  ComPtr<ILimit> limit_a, limit_b;
  ASSERT_EQ(first->get_Limit(limit_a.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(first->get_Limit(limit_b.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_NE(limit_a.Get(), limit_b.Get());
  EXPECT_TRUE(bench.driver.Calls().empty());
}

// ---- Limits
// -------------------------------------------------------------------------------------------------

TEST(ChannelLimits, TheLevelKindGivesTheSubsystem) {
  RecordedInstrument bench("M4030A,M4040A");
  struct Case {
    bool current;
    LONG channel;
    const char* high_header;
    const char* low_query;
  };
  const Case cases[] = {
      {false, 1, ":VOLT1:LIM", ":VOLT1:LIM:LOW?"},
      {false, 2, ":VOLT2:LIM", ":VOLT2:LIM:LOW?"},
      {true, 1, ":CURR1:LIM", ":CURR1:LIM:LOW?"},
      {true, 2, ":CURR2:LIM", ":CURR2:LIM:LOW?"},
  };
  for (const Case& c : cases) {
    ComPtr<ILimit> limit;
    if (c.current) {
      ASSERT_EQ(
          bench.Child<ICurrent>(&IChannel::get_Current, c.channel)->get_Limit(limit.ReleaseAndGetAddressOf()),
          S_OK);
    } else {
      ASSERT_EQ(
          bench.Child<IVoltage>(&IChannel::get_Voltage, c.channel)->get_Limit(limit.ReleaseAndGetAddressOf()),
          S_OK);
    }
    bench.driver.ClearCalls();
    bench.driver.Answer(c.low_query, -2.0);
    double low = 0;
    EXPECT_EQ(limit->put_High(0.1), S_OK);
    EXPECT_EQ(limit->get_Low(&low), S_OK);
    EXPECT_EQ(low, -2.0);
    EXPECT_EQ(bench.driver.Calls(), (Lines{"pgxgen_cmdReal(1, \"" + std::string(c.high_header) + "\", 0.1)",
                                           "pgxgen_cmdReal64_Q(1, \"" + std::string(c.low_query) + "\")"}));
  }
}

TEST(ChannelLimits, ALimitFailsWithoutPublishingAnything) {
  RecordedInstrument bench("M4030A");
  ComPtr<ILimit> limit;
  ASSERT_EQ(bench.Child<IVoltage>(&IChannel::get_Voltage)->get_Limit(limit.ReleaseAndGetAddressOf()), S_OK);
  bench.driver.Fail(driver::testing::Scpi{":VOLT1:LIM?"}, PGXGEN_ERROR_INVALID_RESPONSE);
  double high = 3;
  EXPECT_EQ(limit->get_High(&high), kErrDriver);
  EXPECT_EQ(high, 3);
  EXPECT_EQ(limit->get_Low(nullptr), E_POINTER);
  // A driver's parameter error is E_INVALIDARG, as for every other object.
  bench.driver.Fail(driver::testing::Scpi{":VOLT1:LIM:LOW"}, PGXGEN_ERROR_NOT_SUPPORTED);
  EXPECT_EQ(limit->put_Low(-1), E_INVALIDARG);
  EXPECT_EQ(TakeErrorText(), "");
}

TEST(ChannelLimits, TheLimitStateIsOneSettingOfTheChannel) {
  RecordedInstrument bench("M4030A,M4040A");
  auto channel = bench.Channel(2);
  ComPtr<ILimit> limit;
  ASSERT_EQ(bench.Child<ICurrent>(&IChannel::get_Current, 2)->get_Limit(limit.ReleaseAndGetAddressOf()),
            S_OK);
  bench.driver.ClearCalls();
  EXPECT_EQ(channel->put_LimitEnabled(VARIANT_TRUE), S_OK);
  EXPECT_EQ(limit->put_Enabled(1), S_OK);  // any non-zero value is true
  EXPECT_EQ(limit->put_Enabled(VARIANT_FALSE), S_OK);
  bench.driver.Return("pgxgen_limitState_Q", {1});
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(channel->get_LimitEnabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  bench.driver.Return("pgxgen_limitState_Q", {0});
  EXPECT_EQ(limit->get_Enabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_EQ(bench.driver.Calls(),
            (Lines{"pgxgen_limitState(1, 2, 1)", "pgxgen_limitState(1, 2, 1)", "pgxgen_limitState(1, 2, 0)",
                   "pgxgen_limitState_Q(1, 2)", "pgxgen_limitState_Q(1, 2)"}));
}

// ---- Model restrictions
// --------------------------------------------------------------------------------------

TEST(ChannelRestrictions, AModelWithoutLevelControlRefusesBeforeAnythingElse) {
  RecordedInstrument bench("Q520A");
  auto channel = bench.Channel(1);
  ASSERT_TRUE(channel);
  VARIANT_BOOL on = VARIANT_FALSE;
  // Refused even for a missing out-pointer: the restriction is tested first.
  EXPECT_EQ(channel->get_Voltage(nullptr), kRefused);
  EXPECT_EQ(channel->get_Current(nullptr), kRefused);
  EXPECT_EQ(channel->get_LimitEnabled(nullptr), kRefused);
  EXPECT_EQ(channel->get_LimitEnabled(&on), kRefused);
  EXPECT_EQ(channel->put_LimitEnabled(VARIANT_TRUE), kRefused);
  EXPECT_EQ(TakeErrorText(), "The current instrument does not support this function.");
  EXPECT_TRUE(bench.driver.Calls().empty());
}

TEST(ChannelRestrictions, LimitsAreRefusedOnceTheModelLacksThem) {
  RecordedInstrument bench("M4030A");
  auto voltage = bench.Child<IVoltage>(&IChannel::get_Voltage);
  ComPtr<ILimit> limit;
  ASSERT_EQ(voltage->get_Limit(limit.ReleaseAndGetAddressOf()), S_OK);
  // The instrument's front-end is found again, now of a model without limits.
  bench.driver.Answer("*OPT?", "Q520A");
  ComPtr<IChannels> channels;
  ASSERT_EQ(bench.instrument.Get()->get_Channels(channels.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(channels->Refresh(), S_OK);
  bench.driver.ClearCalls();
  ComPtr<ILimit> refused;
  EXPECT_EQ(voltage->get_Limit(nullptr), kRefused);
  EXPECT_EQ(voltage->get_Limit(refused.ReleaseAndGetAddressOf()), kRefused);
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(limit->get_Enabled(&on), kRefused);
  EXPECT_EQ(limit->put_Enabled(VARIANT_TRUE), kRefused);
  // The limit values themselves carry no restriction of their own.
  EXPECT_EQ(limit->put_Low(-1), S_OK);
  EXPECT_EQ(bench.driver.Calls(), Lines{"pgxgen_cmdReal(1, \":VOLT1:LIM:LOW\", -1)"});
}

// ---- Channel's own members
// ------------------------------------------------------------------------------------

TEST(ChannelMembers, NumberAndSignalFormat) {
  RecordedInstrument bench("M4030A,M4040A");
  auto second = bench.Channel(2);
  LONG number = 0;
  EXPECT_EQ(second->get_Number(&number), S_OK);
  EXPECT_EQ(number, 2);

  for (LONG refused : {-1L, 2L}) {
    EXPECT_EQ(second->put_SignalFormat(static_cast<PgxSignalFormat>(refused)), E_INVALIDARG) << refused;
  }
  EXPECT_TRUE(bench.driver.Calls().empty());
  EXPECT_EQ(second->put_SignalFormat(PgxSignalFormatRZ), S_OK);
  bench.driver.Return("pgxgen_modePatternDataFormat_Q", {1});
  PgxSignalFormat format = PgxSignalFormatNRZ;
  EXPECT_EQ(second->get_SignalFormat(&format), S_OK);
  EXPECT_EQ(format, PgxSignalFormatRZ);
  EXPECT_EQ(second->get_SignalFormat(nullptr), E_POINTER);
  EXPECT_EQ(bench.driver.Calls(),
            (Lines{"pgxgen_modePatternDataFormat(1, 2, 1)", "pgxgen_modePatternDataFormat_Q(1, 2)"}));
}

TEST(ChannelMembers, ChildGettersNeedAnOutPointer) {
  RecordedInstrument bench("M4030A");
  auto channel = bench.Channel(1);
  EXPECT_EQ(channel->get_Voltage(nullptr), E_POINTER);
  EXPECT_EQ(channel->get_Current(nullptr), E_POINTER);
  EXPECT_EQ(channel->get_Output(nullptr), E_POINTER);
  EXPECT_EQ(channel->get_Pulse(nullptr), E_POINTER);
  ComPtr<IPulse> pulse;
  EXPECT_EQ(channel->get_Pulse(pulse.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_TRUE(pulse);
}

}  // namespace
}  // namespace pgx::server
