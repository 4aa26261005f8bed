// pgxregsvr: registers an in-process server module (calls its DllRegisterServer) or, with -u, unregisters
// it (DllUnregisterServer), in the registry that PGX_REGISTRY names or the user's own.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "automation/apartment.h"
#include "automation/registration.h"
#include "automation/registry.h"

int main(int argc, char** argv) {
  CLI::App app{"Register or unregister an automation server module."};
  bool unregister = false;
  std::string module;
  app.add_flag("-u,--unregister", unregister, "Unregister the module instead of registering it");
  app.add_option("MODULE", module, "The server module (a shared library exporting DllRegisterServer)")
      ->required();
  CLI11_PARSE(app, argc, argv);

  pgx::auto_::ApartmentScope apartment;  // a module's DllRegisterServer may rely on one
  std::string message;
  HRESULT hr = pgx::auto_::RegisterServerModule(module, unregister, message);
  if (FAILED(hr)) {
    std::fprintf(stderr, "pgxregsvr: %s\n", message.c_str());
    return 1;
  }
  std::printf("pgxregsvr: %s %s in %s\n", unregister ? "unregistered" : "registered", module.c_str(),
              pgx::auto_::RegistryPath().c_str());
  return 0;
}
