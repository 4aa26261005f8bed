#pragma once
// The description of a simulated bench: which resources it offers and the instrument behind each.

#include <stdexcept>
#include <string>
#include <vector>

#include "sim/device.h"
#include "visa/resource_name.h"

namespace pgx::visa {

struct BenchResource {
  ResourceName name;                  // interface, board and addresses
  std::string alias;                  // another name users may open it by (empty: none)
  ViInt16 slot = VI_UNKNOWN_SLOT;     // VXI
  ViUInt16 manufacturer_id = 0x0FFF;  // VXI
  ViUInt16 model_code = 0;            // VXI
  std::string manufacturer_name;      // VXI
  std::string model_name;             // VXI
  sim::DeviceConfig device;
};

struct BenchConfig {
  std::string source;  // the file it came from, or "built-in bench"
  std::vector<BenchResource> resources;
};

// A mistake in a bench file; what() reads "file:line: what is wrong".
class BenchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The bench file itself cannot be read.
class BenchFileUnreadable : public BenchError {
 public:
  using BenchError::BenchError;
};

// Parses a bench description. `source` names it in error messages. Every instrument is created once to
// check its configuration. Throws BenchError.
BenchConfig parse_bench(const std::string& yaml_text, const std::string& source);
// Reads and parses a bench file. Throws BenchError (also when the file cannot be read).
BenchConfig load_bench_file(const std::string& path);
// The bench offered when no bench file is named (the same as docs/default-bench.yaml).
BenchConfig default_bench();
// The text of the default bench file.
const char* default_bench_text();

}  // namespace pgx::visa
