#pragma once
// Test support: a simulated bench of the test's own (a bench file in a per-test folder, named by
// PGX_VISA_BENCH while the object lives), an I/O trace of the test's own, and a driver session that is
// closed when the test ends.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/pgxgen.h"
#include "visa/testing/test_files.h"

namespace pgx::driver::testing {

// The temporary folder, file and environment helpers of the VISA layer's tests.
using pgx::visa::testing::read_file;
using pgx::visa::testing::ScopedEnv;
using pgx::visa::testing::TempDir;

// One instrument of a test bench. `faults` is YAML for the "faults" map of the bench file, e.g.
// "{garbage-reply: \"xyz\"}".
struct Instrument {
  std::string resource;  // "GPIB0::10::INSTR"
  std::vector<std::string> front_ends;
  std::string faults;  // empty: none
  std::string kind;    // empty: a pulse generator
};

// A bench of the test's own, in use while the object lives.
class Bench {
 public:
  explicit Bench(const std::vector<Instrument>& instruments)
      : file_(dir_.write("bench.yaml", yaml(instruments))), env_("PGX_VISA_BENCH", file_) {}

  const TempDir& dir() const { return dir_; }

 private:
  static std::string yaml(const std::vector<Instrument>& instruments) {
    std::ostringstream out;
    out << "resources:\n";
    int serial = 1;
    for (const Instrument& instrument : instruments) {
      out << "  - name: " << instrument.resource << "\n";
      if (!instrument.kind.empty()) out << "    kind: " << instrument.kind << "\n";
      if (!instrument.front_ends.empty()) {
        out << "    front-ends: [";
        for (std::size_t i = 0; i < instrument.front_ends.size(); ++i) {
          out << (i ? ", " : "") << instrument.front_ends[i];
        }
        out << "]\n";
      }
      out << "    serial: TEST" << serial++ << "\n";
      if (!instrument.faults.empty()) out << "    faults: " << instrument.faults << "\n";
    }
    return out.str();
  }

  TempDir dir_;
  std::string file_;
  ScopedEnv env_;
};

// A driver session closed at the end of the scope.
class Session {
 public:
  Session() = default;
  explicit Session(const std::string& resource, ViBoolean id_query = VI_TRUE, ViBoolean reset = VI_FALSE) {
    status_ = pgxgen_init(resource.c_str(), id_query, reset, &vi_);
  }
  ~Session() {
    if (vi_ != VI_NULL) pgxgen_close(vi_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  ViSession vi() const { return vi_; }
  ViStatus status() const { return status_; }
  operator ViSession() const { return vi_; }

 private:
  ViSession vi_ = VI_NULL;
  ViStatus status_ = VI_SUCCESS;
};

// An I/O trace of the test's own. writes() flushes the trace and counts the viWrite lines so far.
class Trace {
 public:
  Trace() : file_(dir_.file("trace.log")), env_(std::make_unique<ScopedEnv>("PGX_VISA_TRACE", file_)) {
    reconfigure();
  }
  ~Trace() {
    env_.reset();
    reconfigure();
  }

  // Everything traced so far; tracing continues into a fresh file.
  std::string take() {
    const std::string previous = file_;
    file_ = dir_.file("trace" + std::to_string(++generation_) + ".log");
    env_.reset();
    env_ = std::make_unique<ScopedEnv>("PGX_VISA_TRACE", file_);
    reconfigure();
    return read_file(previous);
  }

  static int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

 private:
  // The VISA layer follows PGX_VISA_TRACE when a resource manager opens (and flushes the old file).
  static void reconfigure() {
    ViSession rm = VI_NULL;
    if (viOpenDefaultRM(&rm) >= VI_SUCCESS) viClose(rm);
  }

  TempDir dir_;
  std::string file_;
  int generation_ = 0;
  std::unique_ptr<ScopedEnv> env_;
};

}  // namespace pgx::driver::testing
