// An Instrument of the server on the recording driver, made the way a client makes one: the root object,
// its Instruments collection (the resources of the built-in bench, which the recording driver all accepts),
// the first instrument, opened with the front-ends the test names.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "automation/bstr.h"
#include "automation/comptr.h"
#include "driver/testing/recording_driver.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server::testing {

class RecordedInstrument {
 public:
  // Opens the instrument whose "*OPT?" answers `front_ends` ("" leaves it closed), then forgets the calls
  // the opening made, so that a test sees only its own.
  explicit RecordedInstrument(std::string_view front_ends = "M4030A,M4040A");
  ~RecordedInstrument();

  IInstrument* operator->() const { return instrument.Get(); }

  // Channel `number` (1-based); std::runtime_error when the instrument has no such channel.
  auto_::ComPtr<IChannel> Channel(LONG number);
  // A child that `getter` hands out on channel `number`: Child<IPulse>(&IChannel::get_Pulse, 1).
  template <class I>
  auto_::ComPtr<I> Child(HRESULT (STDMETHODCALLTYPE IChannel::*getter)(I**), LONG number = 1) {
    auto_::ComPtr<IChannel> channel = Channel(number);
    auto_::ComPtr<I> child;
    if (FAILED(((*channel).*getter)(child.ReleaseAndGetAddressOf())) || !child)
      throw std::runtime_error("the channel handed out no child");
    return child;
  }

  driver::testing::RecordingDriver driver;
  auto_::ComPtr<IPgxGen> root;
  auto_::ComPtr<IInstruments> instruments;
  auto_::ComPtr<IInstrument> instrument;
};

// A child object through its getter, e.g. ChildOf(instrument.instrument.Get(), &IInstrument::get_Trigger);
// std::runtime_error when the getter hands out none.
template <class Parent, class Child>
auto_::ComPtr<Child> ChildOf(Parent* parent, HRESULT (STDMETHODCALLTYPE Parent::*getter)(Child**)) {
  auto_::ComPtr<Child> child;
  if (FAILED((parent->*getter)(child.ReleaseAndGetAddressOf())) || !child)
    throw std::runtime_error("a child object was not handed out");
  return child;
}

// The thread's error information: its description ("" when there is none), taken from the thread.
std::u16string TakeErrorDescription();
// Same, and the GUID of the interface that reported.
std::u16string TakeErrorDescription(GUID* guid);
// Same, as UTF-8.
std::string TakeErrorText();

}  // namespace pgx::server::testing
