// Fuzz target: VISA resource names as viOpen and viParseRsrc take them.
//
// Beyond the sanitizers: a name that parses has a canonical spelling that parses to the same resource and
// spells itself again, and names are read without regard to case (a name parses whatever the case of its
// letters, to the same interface, board and addresses).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "visa/resource_name.h"

namespace {

using pgx::visa::ResourceName;

[[noreturn]] void fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "resource_name_fuzzer: %s: \"%.*s\"\n", what, static_cast<int>(text.size()),
               text.data());
  std::abort();
}

bool same_resource(const ResourceName& a, const ResourceName& b) {
  return a.interface_type == b.interface_type && a.board == b.board &&
         a.primary_address == b.primary_address && a.secondary_address == b.secondary_address &&
         a.logical_address == b.logical_address && a.port == b.port && a.resource_class == b.resource_class;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto name = pgx::visa::parse_resource_name(text);

  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto upper_name = pgx::visa::parse_resource_name(upper);
  if (name.has_value() != upper_name.has_value())
    fail("the case of a letter decides whether it parses", text);
  if (!name) return 0;
  if (!same_resource(*name, *upper_name)) fail("the case of a letter changes the resource", text);

  const std::string canonical = name->canonical();
  const auto again = pgx::visa::parse_resource_name(canonical);
  if (!again) fail("the canonical spelling does not parse", canonical);
  if (!same_resource(*name, *again) || again->host != name->host || again->device_name != name->device_name)
    fail("the canonical spelling names another resource", canonical);
  if (again->canonical() != canonical) fail("the canonical spelling is not a fixed point", canonical);
  if (name->interface_name().empty()) fail("no interface name", text);
  return 0;
}
