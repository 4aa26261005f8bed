#include "server/core/messages.h"

namespace pgx::server {

const char* LoadStringResource(int id) noexcept {
  switch (id) {
    case 100:
      return "pgxsrv";
    case 101:
      return "Attempt to open a session on an instrument that was already open.";
    case 102:
      return "The instrument returned an invalid response.";
    case 103:
      return "The current instrument does not support this function.";
    case 104:
      return "Only single-dimension arrays are permitted";
    case 105:
      return "The array is too small for the data";
    case 106:
      return "The collection failed to refresh properly (memory?)";
    case 107:
      return "The instrument returned error(s)";
    case 108:
      return "The PNP driver or Visa library returned an error";
    case 109:
      return "The File version information could not be retrieved";
    case 110:
      return "Unable to retrieve the module name";
    case 111:
      return "The pulse mode parameter is not consistent with the desired trigger count";
    default:
      return nullptr;
  }
}

}  // namespace pgx::server
