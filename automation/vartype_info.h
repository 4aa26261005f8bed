// Facts about variant types that several of the runtime's own sources need. Internal to pgxauto: not
// part of the interface its users include.
#pragma once

#include "automation/variant.h"

namespace pgx::auto_::detail {

// The value types that arrays hold and VariantChangeType converts between. VT_I8, VT_UI8, VT_CY and
// VT_DATE are not among them: a variant can hold and copy those, nothing more.
constexpr bool IsCoreValueType(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_ERROR:
      return true;
    default:
      return false;
  }
}

// Element types of arrays (SafeArrayCreate and arrays held in variants).
constexpr bool IsArrayElementType(VARTYPE vt) noexcept {
  return vt == VT_VARIANT || IsCoreValueType(vt);
}

}  // namespace pgx::auto_::detail
