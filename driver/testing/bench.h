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

namespace pgx::driver::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pgxgen-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
    return file(name);
  }

 private:
  std::filesystem::path path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// One instrument of a test bench. `faults` is YAML for the "faults" map of the bench file, e.g.
// "{garbage-reply: \"xyz\"}".
struct Instrument {
  std::string resource;             // "GPIB0::10::INSTR"
  std::vector<std::string> front_ends;
  std::string faults;               // empty: none
  std::string kind;                 // empty: a pulse generator
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
