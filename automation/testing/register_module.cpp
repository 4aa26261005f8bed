// Build-time helper: registers a server module into the registry that PGX_REGISTRY names, so that the tests
// can create its classes without touching a user's registry. (pgxregsvr does the same for users.)
#include <cstdio>
#include <string>

#include "automation/apartment.h"
#include "automation/registration.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
    return 2;
  }
  pgx::auto_::ApartmentScope apartment;  // as a registering program does for the module's sake
  std::string message;
  HRESULT hr = pgx::auto_::RegisterServerModule(argv[1], false, message);
  if (FAILED(hr)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], message.c_str());
    return 1;
  }
  return 0;
}
