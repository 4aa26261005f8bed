// A VISA library that forwards viOpenDefaultRM to the one the process already has (libpgxvisa): the
// configuration mistake of a PGX_VISA_LIBRARY that leads back into the library that loads it.

#include <dlfcn.h>

#include "visa/visa.h"

extern "C" ViStatus viOpenDefaultRM(ViPSession vi) {
  using OpenDefaultRM = ViStatus (*)(ViPSession);
  // This library is loaded locally, so the global scope finds the program's own viOpenDefaultRM.
  auto program_s = reinterpret_cast<OpenDefaultRM>(dlsym(RTLD_DEFAULT, "viOpenDefaultRM"));
  return program_s ? program_s(vi) : VI_ERROR_SYSTEM_ERROR;
}
