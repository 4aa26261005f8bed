#pragma once
// The I/O trace: one line per VISA call in the file that PGX_VISA_TRACE names.
//
// Lines are handed to a writer thread, so a slow or full disk, or a pipe that nobody reads, never holds up
// the call being traced; a file that cannot be opened is reported once on stderr and tracing stays off.

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include "visa/visa.h"

namespace pgx::visa {

class Trace {
 public:
  static Trace& instance();

  // Follows PGX_VISA_TRACE: opens, switches or closes the trace file when the variable changed.
  void configure_from_environment();
  // Traces to `path` (empty: off).
  void open(const std::string& path);

  bool enabled() const { return enabled_.load(std::memory_order_relaxed); }
  // Appends one line (without its newline).
  void record(std::string_view line);
  // Waits until everything recorded so far has been written, or a short while (2 s) when the file does
  // not take it. Runs at program exit too.
  void flush();

 private:
  Trace() = default;
  struct State;
  State* state();
  // Opens `path` as the trace file; with `unless_open`, does nothing when it is the file traced to now.
  void open(const std::string& path, bool unless_open);

  std::atomic<bool> enabled_{false};
  std::atomic<State*> state_{nullptr};
};

// Builds one trace line: "<UTC time> T<thread> <session> <resource> <call> <details> -> <status> <duration>".
class TraceLine {
 public:
  // Starts timing; the line is only built when tracing is on.
  TraceLine() : start_(std::chrono::steady_clock::now()) {}

  // Writes the line: `details` are the call's arguments and data, already formatted.
  void finish(ViObject vi, std::string_view resource, std::string_view call, std::string_view details,
              ViStatus status);

 private:
  std::chrono::steady_clock::time_point start_;
};

// Appends bytes as a quoted, escaped string; blocks longer than `limit` show their start and their length.
void append_escaped(std::string& out, const void* data, std::size_t size, std::size_t limit = 96);
// Appends a name (of a resource, as a caller gave it) as it is when it is plain printable text without
// blanks, quotes or backslashes; otherwise quoted and escaped like data, blanks too, so that a name can
// neither start a line of its own nor add a field to one.
void append_name(std::string& out, std::string_view name, std::size_t limit = 256);
void append_hex(std::string& out, unsigned long long value, int digits);

}  // namespace pgx::visa
