#include "automation/remote/value_compare.h"

#include <cstring>

#include "automation/safearray.h"

namespace pgx::remote {
namespace {

bool SameArray(SAFEARRAY* a, SAFEARRAY* b) noexcept {
  if (a == b) return true;
  if (!a || !b) return false;
  VARTYPE va = VT_EMPTY;
  VARTYPE vb = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(a, &va)) || FAILED(SafeArrayGetVartype(b, &vb)) || va != vb) return false;
  if (a->cDims != b->cDims || a->cbElements != b->cbElements) return false;
  for (USHORT d = 0; d < a->cDims; ++d) {
    if (a->rgsabound[d].cElements != b->rgsabound[d].cElements ||
        a->rgsabound[d].lLbound != b->rgsabound[d].lLbound)
      return false;
  }
  const ULONG count = pgx::auto_::SafeArrayElementCount(a);
  const auto* pa = static_cast<const BYTE*>(a->pvData);
  const auto* pb = static_cast<const BYTE*>(b->pvData);
  if (count == 0) return true;
  if (!pa || !pb) return false;
  for (ULONG i = 0; i < count; ++i) {
    const BYTE* ea = pa + static_cast<std::size_t>(i) * a->cbElements;
    const BYTE* eb = pb + static_cast<std::size_t>(i) * b->cbElements;
    if (va == VT_VARIANT) {
      if (!SameValue(*reinterpret_cast<const VARIANT*>(ea), *reinterpret_cast<const VARIANT*>(eb)))
        return false;
    } else if (va == VT_BSTR) {
      BSTR sa = nullptr;
      BSTR sb = nullptr;
      std::memcpy(&sa, ea, sizeof sa);
      std::memcpy(&sb, eb, sizeof sb);
      if (pgx::auto_::BstrView(sa) != pgx::auto_::BstrView(sb)) return false;
    } else if (std::memcmp(ea, eb, a->cbElements) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool SameValue(const VARIANT& a, const VARIANT& b) noexcept {
  if (a.vt != b.vt) return false;
  if (a.vt & (VT_BYREF)) return a.byref == b.byref;
  if (a.vt & VT_ARRAY) return SameArray(a.parray, b.parray);
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
    case VT_UI1:
      return a.bVal == b.bVal;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return a.uiVal == b.uiVal;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return a.ulVal == b.ulVal;
    case VT_R4:
      return std::memcmp(&a.fltVal, &b.fltVal, sizeof a.fltVal) == 0;
    case VT_BSTR:
      return (a.bstrVal == nullptr) == (b.bstrVal == nullptr) &&
             pgx::auto_::BstrView(a.bstrVal) == pgx::auto_::BstrView(b.bstrVal);
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return a.punkVal == b.punkVal;
    default:  // 8-byte values
      return std::memcmp(&a.llVal, &b.llVal, sizeof a.llVal) == 0;
  }
}

}  // namespace pgx::remote
