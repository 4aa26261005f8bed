// An Instrument of the server on the recording driver, made the way a client makes one: the root object,
// its Instruments collection (the resources of the built-in bench, which the recording driver all accepts),
// the first instrument, opened with the front-ends the test names.
#pragma once

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

  driver::testing::RecordingDriver driver;
  auto_::ComPtr<IPgxGen> root;
  auto_::ComPtr<IInstruments> instruments;
  auto_::ComPtr<IInstrument> instrument;
};

// The thread's error information: its description ("" when there is none), taken from the thread.
std::u16string TakeErrorDescription();
// Same, and the GUID of the interface that reported.
std::u16string TakeErrorDescription(GUID* guid);

}  // namespace pgx::server::testing
