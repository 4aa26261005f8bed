// Whether two values are the same value: the host sends back only the by-reference arguments that a
// member changed, so that a caller's [in] arguments passed by reference are left alone.
#pragma once

#include "automation/variant.h"

namespace pgx::remote {

// Same type and same value: strings by their characters, arrays by shape and elements, objects by
// pointer. Not a coercing comparison (VT_I2 1 and VT_I4 1 differ).
bool SameValue(const VARIANT& a, const VARIANT& b) noexcept;

}  // namespace pgx::remote
