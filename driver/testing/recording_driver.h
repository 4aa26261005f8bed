#pragma once
// The recording driver: a stand-in for libpgxgen at the server-to-driver seam. Library
// `pgxgen_recording` defines every pgxgen_* function of driver/pgxgen.h; a test program links it
// instead of `pgxgen` and drives it through RecordingDriver.
//
// Every call is logged as one line with its arguments, e.g.
//   pgxgen_cmdReal(1, ":FREQ", 1000000)
//   pgxgen_cmdString_Q(1, "*OPT?", 256)
//   pgxgen_error_message(1, 0xBFFC0D07)
//   pgxgen_cmdInt8Arr(1, ":DATA", [01 00 01], 3)
// Integers are decimal, reals in the shortest text that reads back to the same double (0.0001, 1e-05,
// 2.5, 1000000), statuses in hexadecimal, texts quoted with C escapes (NULL for a null pointer), input
// arrays as hexadecimal bytes (the first 32; Call::bytes holds all of them). Sizes and capacities that the
// caller passes are logged as numbers; out-parameters are not logged.
//
// What a call gives back is scripted with a Reply: a status, the numeric out-values and the text (or
// byte) out-values, each in the order of the function's out-parameters. A reply is looked up in this
// order, the first that exists wins:
//   1. the next one-shot reply for the raw command or query text (Scpi{":FREQ?"}),
//   2. the next one-shot reply for the function,
//   3. the standing reply for the raw command or query text,
//   4. the standing reply for the function,
//   5. status 0 with zero and empty out-values.
// The raw command and query texts are those of pgxgen_cmd* (the command, header or query argument, matched
// exactly). Like the real driver, a function writes its out-parameters only when its status is not
// negative, and a text is cut to the caller's buffer (at most size - 1 characters and a NUL; 256 for the
// fixed [256] buffers). A NULL out-pointer, a NULL text or a negative size gives
// PGXGEN_ERROR_PARAMETERn (the session is parameter 1) before any reply is used.
//
// Functions with their own rules:
// - pgxgen_init logs the resource name and flags; its session is values[0] of its reply (default 1) and
//   0 when the status is an error.
// - The raw numeric queries (pgxgen_cmdInt16_Q ... pgxgen_cmdReal64_Q) take values[0], or else read
//   texts[0] as the instrument's answer: an answer that is not a number of the C type gives
//   PGXGEN_ERROR_INVALID_RESPONSE, as in the real driver. pgxgen_cmdString_Q formats values[0] when the
//   reply has no text.
// - pgxgen_cmdInt8Arr_Q copies at most `size` bytes of texts[0] and gives their number;
//   pgxgen_patternDataDownloadBuffer_Q reads texts[0] as pattern positions (bytes 0/1 or characters
//   '0'/'1') and writes at most `capacity` of them as the ascii flag asks.
// - pgxgen_error_query hands out the queued instrument errors, oldest first, then code 0 "No error" (its
//   reply gives only the status).
// - pgxgen_error_message writes texts[0] of its reply when there is one, else the text set for the status
//   with SetErrorMessage, else DefaultErrorMessage(status) ("Status 0xBFFC0D07").
// - The file functions touch no files.
//
// The state is one per process (the C functions are global) and guarded by a mutex, so calls may come
// from several threads. Create one RecordingDriver per test (a fixture member is the usual place): it
// starts from a clean state and leaves one behind.
//
// Quiet mode (SetQuiet(true)) is for benchmarks that measure the server's own cost: calls are counted
// but not logged, and a call that uses a standing reply, a one-shot reply or the default allocates no
// memory (recording_driver_test.cpp counts the allocations of a run of calls to check it).

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/pgxgen.h"

namespace pgx::driver::testing {

// What a recorded function gives back.
struct Reply {
  ViStatus status = VI_SUCCESS;
  std::vector<double> values;      // numeric out-parameters (integers, reals, flags), in order
  std::vector<std::string> texts;  // text and byte out-parameters, in order; a raw query's answer
};

// A raw command or query, picked out by its text: the command of pgxgen_cmd, the header of
// pgxgen_cmdInt ... pgxgen_cmdInt8Arr, the query of pgxgen_cmdInt16_Q ... pgxgen_cmdInt8Arr_Q.
struct Scpi {
  std::string text;
};

// One logged call.
struct Call {
  std::string function;           // "pgxgen_cmdReal"
  std::vector<std::string> args;  // as in the line: "1", "\":FREQ\"", "1000000"
  std::string bytes;              // all the bytes of an input array (block or pattern data)

  // "pgxgen_cmdReal(1, \":FREQ\", 1000000)"
  std::string line() const;
};
std::ostream& operator<<(std::ostream& out, const Call& call);

class RecordingDriver {
 public:
  // Resets the shared state. Only one RecordingDriver may exist at a time (std::logic_error otherwise).
  RecordingDriver();
  // Resets the shared state again, so nothing a test scripted reaches the next one.
  ~RecordingDriver();
  RecordingDriver(const RecordingDriver&) = delete;
  RecordingDriver& operator=(const RecordingDriver&) = delete;

  // Forgets every script, the log, the counts, the instrument errors and the error messages; quiet off.
  void Reset();

  // ---- Scripting (an unknown function name throws std::invalid_argument) ----

  // The reply of every later call (that no one-shot reply serves), replacing an earlier standing reply.
  void Script(std::string_view function, Reply reply);
  void Script(const Scpi& command, Reply reply);
  // The reply of one later call; one-shot replies are used in the order they were queued.
  void ScriptOnce(std::string_view function, Reply reply);
  void ScriptOnce(const Scpi& command, Reply reply);

  // A raw query's answer, as the instrument's text ("M4030A,M4040A", "1e+06") or as a number.
  void Answer(std::string_view query, std::string_view answer);
  void Answer(std::string_view query, double value);
  void AnswerOnce(std::string_view query, std::string_view answer);
  // A function's numeric out-values: Return("pgxgen_levelHighLow_Q", {0, 2.5, 0}).
  void Return(std::string_view function, std::vector<double> values);
  void ReturnOnce(std::string_view function, std::vector<double> values);
  // A status without out-values.
  void Fail(std::string_view function, ViStatus status);
  void Fail(const Scpi& command, ViStatus status);
  void FailOnce(std::string_view function, ViStatus status);
  void FailOnce(const Scpi& command, ViStatus status);

  // An entry of the instrument's error queue, handed out by pgxgen_error_query after the earlier ones.
  void QueueInstrumentError(ViInt32 code, std::string_view message);
  // The text pgxgen_error_message gives for a status.
  void SetErrorMessage(ViStatus status, std::string_view message);
  // The text pgxgen_error_message gives for a status nothing was set for: "Status 0xBFFC0D07".
  static std::string DefaultErrorMessage(ViStatus status);

  // Quiet: calls are counted but not logged, and allocate nothing.
  void SetQuiet(bool quiet);

  // ---- The log ----

  // Every logged call as its line, oldest first.
  std::vector<std::string> Calls() const;
  // The logged calls of one function, as lines.
  std::vector<std::string> CallsTo(std::string_view function) const;
  // Every logged call with its fields.
  std::vector<Call> Records() const;
  // Calls made (quiet ones included) since the last Reset or ClearCalls.
  std::size_t CallCount() const;
  std::size_t CallCount(std::string_view function) const;
  // Forgets the log and the counts; the scripts stay.
  void ClearCalls();

  // The name of every function the recording driver defines.
  static std::vector<std::string> Functions();
};

}  // namespace pgx::driver::testing
