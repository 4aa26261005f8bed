// Fuzz target: bench files (the YAML that PGX_VISA_BENCH names), as the VISA layer reads them.
//
// Beyond the sanitizers: whatever the text, the only failure is a BenchError whose message starts with the
// file's name (and says where and what), and a bench that is accepted lists each resource once.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>
#include <string>

#include "visa/bench_config.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "bench_file_fuzzer: %s: %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const pgx::visa::BenchConfig bench = pgx::visa::parse_bench(text, "fuzz.yaml");
    std::set<std::string> names;
    for (const pgx::visa::BenchResource& resource : bench.resources) {
      if (!names.insert(resource.name.canonical()).second)
        fail("a resource listed twice", resource.name.canonical());
    }
  } catch (const pgx::visa::BenchError& e) {
    if (std::string(e.what()).rfind("fuzz.yaml:", 0) != 0)
      fail("a message that does not name the file", e.what());
  } catch (const std::exception& e) {
    fail("an exception that is not a BenchError", e.what());
  }
  return 0;
}
