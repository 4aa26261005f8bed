#pragma once
// Names and descriptions of VISA status codes.

#include <string_view>

#include "visa/visa.h"

namespace pgx::visa {

// "VI_ERROR_TMO"; empty for a code this library does not know.
std::string_view status_name(ViStatus status);
// The description viStatusDesc gives; empty for a code this library does not know.
std::string_view status_description(ViStatus status);

}  // namespace pgx::visa
