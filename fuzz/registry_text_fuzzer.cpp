// Fuzz target: the registry file's text format, as every registry reader and writer parses it.
//
// Beyond the sanitizers (a deep or long key must not overflow a stack or grow the file beyond what it
// holds): a file that parses is written back as text that parses to the same tree, and that tree writes
// the same text again; a refused file names itself and a line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "automation/registry_text.h"
#include "automation/registry_tree.h"

namespace {

namespace registry = pgx::auto_::registry;

[[noreturn]] void fail(const char* what, const std::string& a, const std::string& b = {}) {
  std::fprintf(stderr, "registry_text_fuzzer: %s\n%s\n%s\n", what, a.c_str(), b.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  registry::Tree tree;
  const std::string error = registry::ParseText("fuzz.reg", text, tree);
  if (!error.empty()) {
    if (error.rfind("fuzz.reg:", 0) != 0) fail("a refusal that does not name the file", error);
    return 0;
  }
  const std::string written = registry::WriteText(tree);
  // What one parsed line holds takes at most a constant times its length when written: no key is written
  // once per key below it.
  if (written.size() > 16 * size + 4096)
    fail("the written file outgrows what it holds", std::string(text), written);
  registry::Tree again;
  const std::string reread = registry::ParseText("written.reg", written, again);
  if (!reread.empty()) fail("the written text does not parse", written, reread);
  const std::string rewritten = registry::WriteText(again);
  if (rewritten != written) fail("the written text does not hold the same tree", written, rewritten);
  return 0;
}
