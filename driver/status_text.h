#pragma once
// The texts of every status the driver can return: its own statuses and those VISA passes through.

#include <string>

#include "visa/visa.h"

namespace pgx::driver {

// The text for a status, or nullptr when the status is not one the driver or VISA returns.
const char* status_text(ViStatus status);

// The text for a status; an unknown status gives "Unknown status code 0x........".
std::string status_message(ViStatus status);

}  // namespace pgx::driver
