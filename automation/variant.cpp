#include "automation/variant.h"

#include <cstring>
#include <new>

#include "automation/com_error.h"
#include "automation/interfaces.h"
#include "automation/safearray.h"
#include "automation/vartype_info.h"

namespace pgx::auto_ {
namespace {

// Types a VARIANT may hold by value (and, except EMPTY and NULL, by reference).
bool IsValidScalarType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_DATE:
      return true;
    default:
      return detail::IsCoreValueType(vt);
  }
}

// A copy of a BSTR that keeps its exact byte length (odd lengths included).
HRESULT CopyBstr(BSTR source, BSTR* out) {
  *out = nullptr;
  if (!source) return S_OK;
  *out = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// Copies the value of a variant (not BYREF) into `out`, which holds nothing.
HRESULT CopyValue(const VARIANT& src, VARIANT* out) {
  VariantInit(out);
  VARTYPE vt = src.vt;
  if (vt & VT_ARRAY) {
    SAFEARRAY* copy = nullptr;
    HRESULT hr = SafeArrayCopy(src.parray, &copy);
    if (FAILED(hr)) return hr;
    out->parray = copy;
  } else if (vt == VT_BSTR) {
    BSTR copy = nullptr;
    HRESULT hr = CopyBstr(src.bstrVal, &copy);
    if (FAILED(hr)) return hr;
    out->bstrVal = copy;
  } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    out->punkVal = src.punkVal;
    if (out->punkVal) out->punkVal->AddRef();
  } else {
    out->llVal = src.llVal;  // every other value fits in the first eight bytes of the union
  }
  out->vt = vt;
  return S_OK;
}

// Copies the value a BYREF variant refers to into `out`, which holds nothing.
HRESULT CopyReferenced(const VARIANT& src, VARIANT* out) {
  VariantInit(out);
  VARTYPE vt = static_cast<VARTYPE>(src.vt & ~VT_BYREF);
  if (!src.byref) return E_INVALIDARG;
  if (vt == VT_VARIANT) {
    const VARIANT& inner = *src.pvarVal;
    if (inner.vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    if (!IsValidVariantType(inner.vt)) return DISP_E_BADVARTYPE;
    return (inner.vt & VT_BYREF) ? CopyReferenced(inner, out) : CopyValue(inner, out);
  }
  VARIANT value;
  VariantInit(&value);
  value.vt = vt;
  if (vt & VT_ARRAY) {
    value.parray = *src.pparray;
  } else if (vt == VT_BSTR) {
    value.bstrVal = *src.pbstrVal;
  } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    value.punkVal = *src.ppunkVal;
  } else {
    std::memcpy(&value.llVal, src.byref, detail::ValueBytes(vt));
  }
  return CopyValue(value, out);  // `value` only borrows, so it is not cleared
}

// Clears `dest` and moves `copy` (which it then owns) into it; when `dest` cannot be cleared, frees
// `copy` instead.
HRESULT ReplaceWith(VARIANT* dest, VARIANT& copy) {
  HRESULT cleared = VariantClear(dest);
  if (FAILED(cleared)) {
    VariantClear(&copy);
    return cleared;
  }
  *dest = copy;
  return S_OK;
}

}  // namespace

bool IsValidVariantType(VARTYPE vt) noexcept {
  if (vt & VT_RESERVED) return false;
  VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_ARRAY) return detail::IsArrayElementType(base);
  if (vt & VT_BYREF)
    return base == VT_VARIANT || (base != VT_EMPTY && base != VT_NULL && IsValidScalarType(base));
  return IsValidScalarType(base);
}

}  // namespace pgx::auto_

using pgx::auto_::IsValidVariantType;

void VariantInit(VARIANTARG* v) {
  if (!v) return;
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->brecVal.pvRecord = nullptr;
  v->brecVal.pRecInfo = nullptr;
}

HRESULT VariantClear(VARIANTARG* v) {
  if (!v) return E_INVALIDARG;
  if (!IsValidVariantType(v->vt)) return DISP_E_BADVARTYPE;
  if (!(v->vt & VT_BYREF)) {
    if (v->vt & VT_ARRAY) {
      HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    } else if (v->vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if (v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) {
      // The variant is emptied before the release, which may run arbitrary code.
      IUnknown* unknown = v->punkVal;
      VariantInit(v);
      if (unknown) unknown->Release();
      return S_OK;
    }
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  if (!IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  // Copied aside first: src may be owned by dest (an element of an array it holds, say).
  VARIANT copy;
  HRESULT hr;
  if (src->vt & VT_BYREF) {
    VariantInit(&copy);
    copy = *src;  // references are copied as references
    hr = S_OK;
  } else {
    hr = pgx::auto_::CopyValue(*src, &copy);
  }
  if (FAILED(hr)) return hr;
  return pgx::auto_::ReplaceWith(dest, copy);
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
  VARIANT copy;
  HRESULT hr = pgx::auto_::CopyReferenced(*src, &copy);
  if (FAILED(hr)) return hr;
  return pgx::auto_::ReplaceWith(dest, copy);
}

namespace pgx::auto_ {

namespace {
void ThrowOnFailure(HRESULT hr) {
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(hr)) throw com_error(hr);
}
}  // namespace

Variant::Variant(const Variant& other) : Variant(static_cast<const VARIANT&>(other)) {}

Variant::Variant(const VARIANT& other) {
  VariantInit(this);
  ThrowOnFailure(VariantCopy(this, &other));
}

Variant::Variant(Variant&& other) noexcept {
  static_cast<VARIANT&>(*this) = other;
  VariantInit(&other);
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) ThrowOnFailure(VariantCopy(this, &other));
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    VariantClear(this);
    static_cast<VARIANT&>(*this) = other;
    VariantInit(&other);
  }
  return *this;
}

Variant::Variant(SHORT v) noexcept : Variant() {
  vt = VT_I2, iVal = v;
}
Variant::Variant(LONG v) noexcept : Variant() {
  vt = VT_I4, lVal = v;
}
Variant::Variant(BYTE v) noexcept : Variant() {
  vt = VT_UI1, bVal = v;
}
Variant::Variant(float v) noexcept : Variant() {
  vt = VT_R4, fltVal = v;
}
Variant::Variant(double v) noexcept : Variant() {
  vt = VT_R8, dblVal = v;
}
Variant::Variant(bool v) noexcept : Variant() {
  vt = VT_BOOL, boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
}

Variant::Variant(const OLECHAR* text) : Variant() {
  if (text) {
    bstrVal = Bstr(text).Detach();
  }
  vt = VT_BSTR;
}

Variant::Variant(std::u16string_view text) : Variant() {
  bstrVal = Bstr(text).Detach();
  vt = VT_BSTR;
}

Variant::Variant(const char* utf8) : Variant() {
  bstrVal = utf8 ? Bstr::FromUtf8(utf8).Detach() : nullptr;
  vt = VT_BSTR;
}

Variant::Variant(IDispatch* dispatch) noexcept : Variant() {
  vt = VT_DISPATCH;
  pdispVal = dispatch;
  if (dispatch) dispatch->AddRef();
}

Variant::Variant(IUnknown* unknown) noexcept : Variant() {
  vt = VT_UNKNOWN;
  punkVal = unknown;
  if (unknown) unknown->AddRef();
}

Variant Variant::Error(SCODE code) noexcept {
  Variant v;
  v.vt = VT_ERROR;
  v.scode = code;
  return v;
}

Variant Variant::Null() noexcept {
  Variant v;
  v.vt = VT_NULL;
  return v;
}

Variant Variant::Attach(VARIANT& source) noexcept {
  Variant v;
  static_cast<VARIANT&>(v) = source;
  VariantInit(&source);
  return v;
}

VARIANT Variant::Detach() noexcept {
  VARIANT out = *this;
  VariantInit(this);
  return out;
}

HRESULT Variant::CopyTo(VARIANT* out) const noexcept {
  if (!out) return E_POINTER;
  VariantInit(out);
  return VariantCopy(out, this);
}

void Variant::ChangeType(VARTYPE type, USHORT flags) {
  ThrowOnFailure(VariantChangeType(this, this, flags, type));
}

LONG Variant::AsLong() const {
  Variant v;
  ThrowOnFailure(VariantChangeType(&v, this, 0, VT_I4));
  return v.lVal;
}

double Variant::AsDouble() const {
  Variant v;
  ThrowOnFailure(VariantChangeType(&v, this, 0, VT_R8));
  return v.dblVal;
}

bool Variant::AsBool() const {
  Variant v;
  ThrowOnFailure(VariantChangeType(&v, this, 0, VT_BOOL));
  return v.boolVal != VARIANT_FALSE;
}

std::string Variant::AsUtf8() const {
  Variant v;
  ThrowOnFailure(VariantChangeType(&v, this, 0, VT_BSTR));
  std::string out;
  ThrowOnFailure(BstrToUtf8(v.bstrVal, &out));
  return out;
}

}  // namespace pgx::auto_
