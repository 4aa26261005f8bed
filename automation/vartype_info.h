// Facts about variant types that several of the runtime's own sources need. Internal to pgxauto: not
// part of the interface its users include.
#pragma once

#include <cstddef>

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

// Bytes of a value of base type `vt`: as a VARIANT's union holds it, as an array element, or behind a
// BYREF pointer. A VT_VARIANT value is a whole VARIANT; strings and interfaces are pointers. 0 for
// VT_EMPTY, VT_NULL and types without such a value.
constexpr std::size_t ValueBytes(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_DATE:
    case VT_R8:
      return 8;
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return sizeof(IUnknown*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

}  // namespace pgx::auto_::detail
