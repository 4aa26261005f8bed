// An Instrument of the server opened on the recording driver, for unit tests of the classes below it.
//
//   RecordedInstrument bench("M4030A,M4040A");   // the answer to "*OPT?": two channels
//   auto voltage = bench.Child<IVoltage>(&IChannel::get_Voltage, 1);
//   voltage->put_High(2.5);
//   EXPECT_EQ(bench.driver().Calls(), ...);
//
// The objects are made through the public tree, as a client makes them: the root PgxGen, the first
// instrument the built-in bench offers, opened, and its channels found from the scripted front-ends. The
// driver's log is cleared once the instrument is open, so a test sees only the calls of its own members.
#pragma once

#include <string>
#include <string_view>

#include "automation/comptr.h"
#include "driver/testing/recording_driver.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server::testing {

class RecordedInstrument {
 public:
  // `front_ends` answers "*OPT?" when the instrument opens. A failing step fails the current test.
  explicit RecordedInstrument(std::string_view front_ends);
  ~RecordedInstrument();
  RecordedInstrument(const RecordedInstrument&) = delete;
  RecordedInstrument& operator=(const RecordedInstrument&) = delete;

  driver::testing::RecordingDriver& driver() noexcept { return driver_; }
  IInstrument* instrument() const noexcept { return instrument_.Get(); }

  // Channel `number` (1-based), or NULL (and a test failure) when the instrument has no such channel.
  auto_::ComPtr<IChannel> Channel(LONG number);
  // A child that `getter` hands out on channel `number`: Child<IPulse>(&IChannel::get_Pulse, 1).
  template <class I>
  auto_::ComPtr<I> Child(HRESULT (IChannel::*getter)(I**), LONG number = 1) {
    auto_::ComPtr<I> child;
    auto_::ComPtr<IChannel> channel = Channel(number);
    if (channel) ExpectOk(((*channel).*getter)(child.ReleaseAndGetAddressOf()), "a channel's child");
    return child;
  }

  // The description of the calling thread's error information, which it clears; "" when there is none.
  static std::string TakeErrorDescription();

 private:
  static void ExpectOk(HRESULT hr, const char* what);

  driver::testing::RecordingDriver driver_;
  auto_::ComPtr<IPgxGen> root_;
  auto_::ComPtr<IInstrument> instrument_;
};

}  // namespace pgx::server::testing
