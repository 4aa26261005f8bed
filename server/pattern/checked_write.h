// Register writes whose refusal the caller always learns of.
#pragma once

#include "visa/visa.h"

namespace pgx::server {

// Sends "<header> <value>" with the driver's automatic error query on for this one call, whatever the
// instrument's AutoDetect setting is, and restores that setting: a value the instrument refuses (an enable
// mask beyond 0-255, say) gives the driver's status for an instrument error, with the instrument's entries
// kept for the error report, instead of a silent success. Entries that earlier unchecked calls left in the
// instrument's error queue are reported along with it.
ViStatus WriteChecked(ViSession session, const char* header, ViInt32 value) noexcept;

}  // namespace pgx::server
