// VariantChangeType: coercion between the value types of a VARIANT.
//
// The rules, as on the platform:
//  - EMPTY reads as 0, false or the empty string; NULL converts to nothing but NULL and EMPTY; ERROR
//    converts only to ERROR.
//  - Floating-point values become integers rounded half to even (2.5 -> 2, 3.5 -> 4); every narrowing is
//    range-checked (DISP_E_OVERFLOW).
//  - Any non-zero value is true (VARIANT_TRUE, -1); a BOOL becomes "-1"/"0", or "True"/"False" with
//    VARIANT_ALPHABOOL; text becomes BOOL from "True"/"False" in any case or from a number.
//  - Text and numbers convert in the C locale, whatever the process locale.
//  - An object converts to a value through its default member (DISPID_VALUE), unless
//    VARIANT_NOVALUEPROP is given; a NULL object gives DISP_E_BADVARTYPE.
//  - A BYREF source is dereferenced one level.
#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "automation/interfaces.h"
#include "automation/variant.h"
#include "automation/vartype_info.h"

namespace {

using pgx::auto_::BstrView;

// A source value reduced to what coercion needs.
struct Number {
  enum Kind { kInteger, kFloat } kind;
  std::int64_t integer = 0;
  double floating = 0;
  bool from_bool = false;
};

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoreCase(std::u16string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(word[i])) return false;
  }
  return true;
}

// Parses a decimal number in the C locale: optional sign, digits with an optional point, optional
// exponent, surrounding white space. DISP_E_TYPEMISMATCH for anything else, DISP_E_OVERFLOW for a value
// beyond the range of a double (values too small become 0).
HRESULT ParseNumber(std::u16string_view text, double* out) {
  text = Trim(text);
  // Longer texts are not numbers anyone writes; they are refused rather than copied.
  constexpr std::size_t kMaxDigits = 256;
  if (text.empty() || text.size() > kMaxDigits) return DISP_E_TYPEMISMATCH;
  char buffer[kMaxDigits];
  std::size_t n = 0;
  bool negative = false;
  std::size_t i = 0;
  if (text[0] == u'+' || text[0] == u'-') {
    negative = text[0] == u'-';
    i = 1;
  }
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    bool allowed = (c >= u'0' && c <= u'9') || c == u'.' || c == u'e' || c == u'E' || c == u'+' || c == u'-';
    if (!allowed) return DISP_E_TYPEMISMATCH;
    buffer[n++] = static_cast<char>(c);
  }
  // The mantissa must start with a digit or a point followed by a digit (no "inf", "nan", "e5").
  if (n == 0 || !(std::isdigit(static_cast<unsigned char>(buffer[0])) ||
                  (buffer[0] == '.' && n > 1 && std::isdigit(static_cast<unsigned char>(buffer[1]))))) {
    return DISP_E_TYPEMISMATCH;
  }
  double value = 0;
  auto [end, ec] = std::from_chars(buffer, buffer + n, value, std::chars_format::general);
  if (end != buffer + n) return DISP_E_TYPEMISMATCH;
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: decide by the decimal magnitude of the text.
    long magnitude = 0;
    const char* p = buffer;
    while (p < end && *p == '0') ++p;
    if (p < end && std::isdigit(static_cast<unsigned char>(*p))) {
      while (p < end && std::isdigit(static_cast<unsigned char>(*p))) ++p, ++magnitude;
    } else if (p < end && *p == '.') {
      ++p;
      while (p < end && *p == '0') ++p, --magnitude;
    }
    const char* exponent =
        std::find_if(static_cast<const char*>(buffer), end, [](char c) { return c == 'e' || c == 'E'; });
    if (exponent != end) {
      long e = 0;
      auto parsed = std::from_chars(exponent + 1 + (exponent[1] == '+'), end, e);
      magnitude = parsed.ec == std::errc::result_out_of_range ? (exponent[1] == '-' ? -100000 : 100000)
                                                              : magnitude + e;
    }
    if (magnitude > 0) return DISP_E_OVERFLOW;
    value = 0;
  } else if (ec != std::errc()) {
    return DISP_E_TYPEMISMATCH;
  }
  *out = negative ? -value : value;
  return S_OK;
}

// The value of a source variant (not BYREF, not an object) as a number.
HRESULT ReadNumber(const VARIANT& v, Number* out) {
  *out = Number{Number::kInteger};
  switch (v.vt) {
    case VT_EMPTY:
      return S_OK;
    case VT_I1:
      out->integer = v.cVal;
      return S_OK;
    case VT_UI1:
      out->integer = v.bVal;
      return S_OK;
    case VT_I2:
      out->integer = v.iVal;
      return S_OK;
    case VT_UI2:
      out->integer = v.uiVal;
      return S_OK;
    case VT_I4:
      out->integer = v.lVal;
      return S_OK;
    case VT_UI4:
      out->integer = v.ulVal;
      return S_OK;
    case VT_INT:
      out->integer = v.intVal;
      return S_OK;
    case VT_UINT:
      out->integer = v.uintVal;
      return S_OK;
    case VT_BOOL:
      out->integer = v.boolVal ? -1 : 0;
      out->from_bool = true;
      return S_OK;
    case VT_R4:
      out->kind = Number::kFloat, out->floating = v.fltVal;
      return S_OK;
    case VT_R8:
      out->kind = Number::kFloat, out->floating = v.dblVal;
      return S_OK;
    case VT_BSTR: {
      out->kind = Number::kFloat;
      return ParseNumber(BstrView(v.bstrVal), &out->floating);
    }
    case VT_NULL:
    case VT_ERROR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_BADVARTYPE;
  }
}

// Rounds half to even, independent of the floating-point environment.
double RoundHalfEven(double x) {
  double floor = std::floor(x);
  double diff = x - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

// Converts to an integer in [lo, hi]. A BOOL going to an unsigned type keeps its bits (true -> all ones),
// as the platform does.
HRESULT ToInteger(const Number& n, std::int64_t lo, std::int64_t hi, std::int64_t* out) {
  if (n.kind == Number::kInteger) {
    if (n.from_bool && lo == 0) {
      *out = n.integer ? hi : 0;
      return S_OK;
    }
    if (n.integer < lo || n.integer > hi) return DISP_E_OVERFLOW;
    *out = n.integer;
    return S_OK;
  }
  if (std::isnan(n.floating)) return DISP_E_OVERFLOW;
  double rounded = RoundHalfEven(n.floating);
  if (rounded < static_cast<double>(lo) || rounded > static_cast<double>(hi)) return DISP_E_OVERFLOW;
  *out = static_cast<std::int64_t>(rounded);
  return S_OK;
}

double ToDouble(const Number& n) {
  return n.kind == Number::kInteger ? static_cast<double>(n.integer) : n.floating;
}

// Formats a floating-point value with `digits` significant digits in the C locale, exponents as "E+20".
HRESULT FormatFloating(double value, int digits, BSTR* out) {
  if (value == 0) value = 0;  // no "-0"
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
  if (ec != std::errc()) return E_UNEXPECTED;
  OLECHAR wide[64];
  std::size_t n = static_cast<std::size_t>(end - text);
  for (std::size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    wide[i] = static_cast<OLECHAR>(c);
  }
  *out = SysAllocStringLen(wide, static_cast<UINT>(n));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT FormatInteger(std::int64_t value, BSTR* out) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  if (ec != std::errc()) return E_UNEXPECTED;
  OLECHAR wide[32];
  std::size_t n = static_cast<std::size_t>(end - text);
  for (std::size_t i = 0; i < n; ++i) wide[i] = static_cast<OLECHAR>(text[i]);
  *out = SysAllocStringLen(wide, static_cast<UINT>(n));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT ToBstr(const VARIANT& v, USHORT flags, BSTR* out) {
  switch (v.vt) {
    case VT_EMPTY:
      *out = SysAllocStringLen(nullptr, 0);
      return *out ? S_OK : E_OUTOFMEMORY;
    case VT_BOOL: {
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
        *out = SysAllocString(v.boolVal ? u"True" : u"False");
      } else {
        *out = SysAllocString(v.boolVal ? u"-1" : u"0");
      }
      return *out ? S_OK : E_OUTOFMEMORY;
    }
    case VT_R4:
      return FormatFloating(v.fltVal, 7, out);
    case VT_R8:
      return FormatFloating(v.dblVal, 15, out);
    default: {
      Number n;
      HRESULT hr = ReadNumber(v, &n);
      if (FAILED(hr)) return hr;
      return FormatInteger(n.integer, out);
    }
  }
}

HRESULT ToBool(const VARIANT& v, VARIANT_BOOL* out) {
  if (v.vt == VT_BSTR) {
    std::u16string_view text = Trim(BstrView(v.bstrVal));
    if (EqualsIgnoreCase(text, "true")) {
      *out = VARIANT_TRUE;
      return S_OK;
    }
    if (EqualsIgnoreCase(text, "false")) {
      *out = VARIANT_FALSE;
      return S_OK;
    }
  }
  Number n;
  HRESULT hr = ReadNumber(v, &n);
  if (FAILED(hr)) return hr;
  bool value = n.kind == Number::kInteger ? n.integer != 0 : n.floating != 0;
  *out = value ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// Coerces a value that is neither BYREF nor an array into `out` (which holds nothing).
HRESULT CoerceScalar(const VARIANT& src, USHORT flags, LCID lcid, VARTYPE vt, VARIANT* out);

HRESULT DefaultValue(IDispatch* object, USHORT flags, LCID lcid, VARTYPE vt, VARIANT* out) {
  if (!object) return DISP_E_BADVARTYPE;
  if (flags & VARIANT_NOVALUEPROP) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr =
      object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  if (FAILED(hr)) {
    VariantClear(&value);
    return hr;
  }
  // One level only: a default value that is itself an object does not lead to another call.
  if (value.vt & (VT_BYREF | VT_ARRAY)) {
    hr = DISP_E_TYPEMISMATCH;
  } else {
    hr = CoerceScalar(value, static_cast<USHORT>(flags | VARIANT_NOVALUEPROP), lcid, vt, out);
  }
  VariantClear(&value);
  return hr;
}

HRESULT CoerceScalar(const VARIANT& src, USHORT flags, LCID lcid, VARTYPE vt, VARIANT* out) {
  VARTYPE from = src.vt;
  if (from == vt) return VariantCopy(out, &src);
  if (vt == VT_EMPTY) return from == VT_ERROR ? DISP_E_TYPEMISMATCH : S_OK;
  if (vt == VT_NULL) {
    if (from != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    out->vt = VT_NULL;
    return S_OK;
  }
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    if (from != VT_UNKNOWN && from != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    if (!src.punkVal) {
      out->vt = vt;
      out->punkVal = nullptr;
      return S_OK;
    }
    void* itf = nullptr;
    HRESULT hr = src.punkVal->QueryInterface(vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch, &itf);
    if (FAILED(hr)) return hr;
    out->vt = vt;
    out->punkVal = static_cast<IUnknown*>(itf);
    return S_OK;
  }
  if (from == VT_DISPATCH) return DefaultValue(src.pdispVal, flags, lcid, vt, out);
  if (from == VT_ERROR || vt == VT_ERROR || from == VT_NULL || from == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;

  switch (vt) {
    case VT_BSTR: {
      BSTR text = nullptr;
      HRESULT hr = ToBstr(src, flags, &text);
      if (FAILED(hr)) return hr;
      out->vt = VT_BSTR;
      out->bstrVal = text;
      return S_OK;
    }
    case VT_BOOL: {
      VARIANT_BOOL value;
      HRESULT hr = ToBool(src, &value);
      if (FAILED(hr)) return hr;
      out->vt = VT_BOOL;
      out->boolVal = value;
      return S_OK;
    }
    case VT_R4:
    case VT_R8: {
      Number n;
      HRESULT hr = ReadNumber(src, &n);
      if (FAILED(hr)) return hr;
      double value = ToDouble(n);
      if (vt == VT_R4) {
        if (value < -FLT_MAX || value > FLT_MAX) return DISP_E_OVERFLOW;
        out->fltVal = static_cast<float>(value);
      } else {
        out->dblVal = value;
      }
      out->vt = vt;
      return S_OK;
    }
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: {
      Number n;
      HRESULT hr = ReadNumber(src, &n);
      if (FAILED(hr)) return hr;
      std::int64_t lo = 0, hi = 0;
      switch (vt) {
        case VT_I1:
          lo = INT8_MIN, hi = INT8_MAX;
          break;
        case VT_UI1:
          hi = UINT8_MAX;
          break;
        case VT_I2:
          lo = INT16_MIN, hi = INT16_MAX;
          break;
        case VT_UI2:
          hi = UINT16_MAX;
          break;
        case VT_I4:
        case VT_INT:
          lo = INT32_MIN, hi = INT32_MAX;
          break;
        default:
          hi = UINT32_MAX;
          break;
      }
      std::int64_t value = 0;
      hr = ToInteger(n, lo, hi, &value);
      if (FAILED(hr)) return hr;
      switch (vt) {
        case VT_I1:
          out->cVal = static_cast<CHAR>(value);
          break;
        case VT_UI1:
          out->bVal = static_cast<BYTE>(value);
          break;
        case VT_I2:
          out->iVal = static_cast<SHORT>(value);
          break;
        case VT_UI2:
          out->uiVal = static_cast<USHORT>(value);
          break;
        case VT_I4:
        case VT_INT:
          out->lVal = static_cast<LONG>(value);
          break;
        default:
          out->ulVal = static_cast<ULONG>(value);
          break;
      }
      out->vt = vt;
      return S_OK;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
}

// Whether `vt` is a type VariantChangeType can produce.
bool IsTargetType(VARTYPE vt) {
  if (vt & VT_BYREF) return false;
  if (vt & VT_ARRAY) return pgx::auto_::IsValidVariantType(vt);
  return vt == VT_EMPTY || vt == VT_NULL || pgx::auto_::detail::IsCoreValueType(vt);
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if (!pgx::auto_::IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  if (!IsTargetType(vt)) return DISP_E_BADVARTYPE;

  // A BYREF source is read through a copy of the value it refers to.
  VARIANT dereferenced;
  const VARIANT* value = src;
  if (src->vt & VT_BYREF) {
    VariantInit(&dereferenced);
    HRESULT hr = VariantCopyInd(&dereferenced, src);
    if (FAILED(hr)) return hr;
    value = &dereferenced;
  }

  VARIANT result;
  VariantInit(&result);
  HRESULT hr;
  if ((value->vt | vt) & VT_ARRAY) {
    hr = value->vt == vt ? VariantCopy(&result, value) : DISP_E_TYPEMISMATCH;
  } else {
    hr = CoerceScalar(*value, flags, lcid, vt, &result);
  }
  if (value == &dereferenced) VariantClear(&dereferenced);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  // Only now is the destination given up; src may be the same variant, and was read completely.
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
  return VariantChangeTypeEx(dest, src, LOCALE_USER_DEFAULT, flags, vt);
}
