#pragma once
// Inside the recording driver: the list of functions, the shared state (scripts, log, counts, instrument
// errors) and Invocation, the part of every recorded call that logs its arguments and picks its reply.
// The C functions (recorded_functions.cpp) and the test API (recording_driver.cpp) share it.

#include <array>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "driver/pgxgen.h"
#include "driver/testing/recording_driver.h"

namespace pgx::driver::testing::recording {

// Every function of driver/pgxgen.h, without its "pgxgen_" prefix.
// clang-format off
#define PGX_RECORDED_FUNCTIONS(X)                                                                            \
  X(init) X(close) X(reset) X(dcl) X(self_test) X(revision_query) X(timeOut) X(timeOut_Q) X(opc_Q)          \
  X(error_message) X(error_query) X(errorQueryDetect) X(errorQueryDetect_Q)                                 \
  X(transactionStart) X(transactionFinish) X(transactionCancel) X(transaction_Q)                            \
  X(cmd) X(cmdInt) X(cmdUInt) X(cmdReal) X(cmdString) X(cmdInt8Arr)                                         \
  X(cmdInt16_Q) X(cmdInt32_Q) X(cmdUInt16_Q) X(cmdUInt32_Q) X(cmdReal64_Q) X(cmdString_Q) X(cmdInt8Arr_Q)   \
  X(levelHighLow) X(levelHighLow_Q) X(levelOffsetAmplitude) X(levelOffsetAmplitude_Q)                       \
  X(limitState) X(limitState_Q) X(outputStateNormal) X(outputStateNormal_Q)                                 \
  X(outputStateComplement) X(outputStateComplement_Q) X(outputPolarity) X(outputPolarity_Q)                 \
  X(configOutputImpedance) X(configOutputImpedance_Q)                                                       \
  X(configOutputLoadCompensation) X(configOutputLoadCompensation_Q) X(outputMath_Q)                         \
  X(modePatternDataFormat) X(modePatternDataFormat_Q)                                                       \
  X(timeWidth) X(timeWidth_Q) X(timeWidthDutyCycle) X(timeWidthDutyCycle_Q)                                 \
  X(timeWidthTrailingDelay) X(timeWidthTrailingDelay_Q) X(timeWidthHold) X(timeWidthHold_Q)                 \
  X(modePulseType) X(modePulseType_Q) X(timeDelay) X(timeDelay_Q) X(timeDelayHold) X(timeDelayHold_Q)       \
  X(timeDelayDouble) X(timeDelayDouble_Q) X(timeDelayDoubleHold) X(timeDelayDoubleHold_Q)                   \
  X(timeEdgeLeading) X(timeEdgeLeading_Q) X(timeEdgeTrailing) X(timeEdgeTrailing_Q)                         \
  X(timeEdgeTrailingCoupling) X(timeEdgeTrailingCoupling_Q) X(timeEdgeHold) X(timeEdgeHold_Q)               \
  X(timeCalibration) X(timeFrequencyMeasure) X(timePeriodMeasure)                                           \
  X(modeContinuousPulses) X(modeContinuousBurst) X(modeContinuousPattern)                                   \
  X(modeGatedPulses) X(modeGatedBurst) X(modeGatedPattern)                                                  \
  X(modeTriggeredPulses) X(modeTriggeredBurst) X(modeTriggeredPattern)                                      \
  X(configTriggerOutLevel) X(configTriggerOutLevel_Q) X(configTriggerOutSource_Q)                           \
  X(outputSourceVxiTrigger) X(outputSourceVxiTrigger_Q) X(outputEnableVxiTrigger)                           \
  X(outputEnableVxiTrigger_Q) X(configPllReference) X(configPllReference_Q)                                 \
  X(patternDataDownloadBuffer) X(patternDataDownloadBuffer_Q)                                               \
  X(patternDataDownloadFile) X(patternDataDownloadFile_Q) X(patternDataPRBS) X(patternDataPreset)           \
  X(patternUpdate) X(patternUpdate_Q) X(settingStore) X(settingRecall) X(settingFile) X(settingFile_Q)
// clang-format on

enum class Function : std::size_t {
#define PGX_RECORDED_ENUM(name) name,
  PGX_RECORDED_FUNCTIONS(PGX_RECORDED_ENUM)
#undef PGX_RECORDED_ENUM
};

constexpr const char* kFunctionNames[] = {
#define PGX_RECORDED_NAME(name) "pgxgen_" #name,
    PGX_RECORDED_FUNCTIONS(PGX_RECORDED_NAME)
#undef PGX_RECORDED_NAME
};
constexpr std::size_t kFunctionCount = std::size(kFunctionNames);

constexpr const char* name_of(Function function) {
  return kFunctionNames[static_cast<std::size_t>(function)];
}
// The function of a full name ("pgxgen_cmdReal"); std::invalid_argument for any other name.
Function function_named(std::string_view name);

// The replies scripted for one function or one raw command text.
struct Script {
  std::deque<Reply> once;
  std::optional<Reply> standing;
};

struct InstrumentError {
  ViInt32 code = 0;
  std::string message;
};

struct State {
  std::mutex mutex;
  bool driver_alive = false;  // a RecordingDriver exists (survives reset)
  bool quiet = false;
  std::array<Script, kFunctionCount> functions;
  std::map<std::string, Script, std::less<>> commands;
  std::array<std::size_t, kFunctionCount> counts{};
  std::vector<Call> log;
  std::deque<InstrumentError> instrument_errors;
  std::map<ViStatus, std::string> messages;

  // Everything but driver_alive back to the start. The caller holds the mutex.
  void reset();
};

// The one state of the process.
State& shared_state();

// ---- Texts ----

// A short text built without the heap.
struct ShortText {
  char text[48];
  std::size_t size = 0;
  std::string_view view() const { return {text, size}; }
};

// The shortest text that reads back to the same double, in fixed notation for decimal exponents -4 .. 16
// ("0.0001", "1000000", "2.5") and in scientific notation otherwise ("1e-05", "1e+17").
ShortText format_real(double value);
// "0xBFFC0D07"
ShortText format_status(ViStatus status);
// "Status 0xBFFC0D07": what pgxgen_error_message gives for a status nothing was scripted for.
ShortText default_message(ViStatus status);

// A text in double quotes with C escapes; NULL for a null pointer.
std::string quote(const char* text);
// Hexadecimal bytes in brackets, "[01 00 ff]"; beyond the first 32 bytes "...".
std::string hex_bytes(const unsigned char* data, std::size_t count);

// At most size - 1 characters and a NUL; nothing when size < 1.
void copy_text(char* buffer, std::size_t size, std::string_view text);

// An instrument's answer read as a number of the C type, as the real driver reads it: blanks around a
// decimal integer with an optional sign, or a finite decimal real.
std::optional<long long> parse_integer(std::string_view text);
std::optional<double> parse_real(std::string_view text);

// A scripted value as an out-parameter of type T: integers are cut to T's range (NaN gives 0).
template <class T>
T out_value(double value) {
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(value);
  } else {
    if (value != value) return 0;
    if (value <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (value >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(value);
  }
}

// PGXGEN_ERROR_PARAMETERn for n in 1 .. 8.
ViStatus parameter_error(int position);

// ---- One call ----

// Holds the state's mutex for the whole call, counts the call and, unless quiet, logs it with the
// arguments given to the describe functions in order.
class Invocation {
 public:
  // `vi` is logged as the first argument unless null (pgxgen_init has no session).
  Invocation(Function function, const ViSession* vi);
  Invocation(const Invocation&) = delete;
  Invocation& operator=(const Invocation&) = delete;

  State& state() { return state_; }

  void describe_number(long long value);
  void describe_unsigned(unsigned long long value);
  void describe_real(double value);
  void describe_text(const char* text);
  void describe_status(ViStatus status);
  // An input array of `count` bytes (nothing is read when data is null or count < 1).
  void describe_bytes(const void* data, ViInt32 count);

  // The reply of this call (see the lookup order in recording_driver.h); `command` is the raw command or
  // query text, null for typed functions. Valid until the Invocation ends.
  const Reply& reply(const char* command = nullptr);

 private:
  void add(std::string text);

  State& state_;
  std::lock_guard<std::mutex> lock_;
  Function function_;
  Call* record_ = nullptr;
  std::optional<Reply> taken_;
};

}  // namespace pgx::driver::testing::recording
