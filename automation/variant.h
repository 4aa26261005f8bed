// VARIANT: the tagged value of automation calls, its lifetime functions and type coercion.
#pragma once

#include <utility>

#include "automation/bstr.h"
#include "automation/hresult.h"
#include "automation/types.h"

struct IUnknown;
struct IDispatch;
struct IRecordInfo;
struct SAFEARRAY;
struct VARIANT;

// Variant types. Plain VARTYPE constants rather than an enumeration, so that expressions such as
// `array ? VT_ARRAY | VT_UI1 : vt` mix them with VARTYPE values without conversions.
using VARENUM = VARTYPE;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_CY = 6;
inline constexpr VARTYPE VT_DATE = 7;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_DECIMAL = 14;
inline constexpr VARTYPE VT_I1 = 16;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_VOID = 24;
inline constexpr VARTYPE VT_HRESULT = 25;
inline constexpr VARTYPE VT_PTR = 26;
inline constexpr VARTYPE VT_SAFEARRAY = 27;
inline constexpr VARTYPE VT_CARRAY = 28;
inline constexpr VARTYPE VT_USERDEFINED = 29;
inline constexpr VARTYPE VT_LPSTR = 30;
inline constexpr VARTYPE VT_LPWSTR = 31;
inline constexpr VARTYPE VT_RECORD = 36;
inline constexpr VARTYPE VT_INT_PTR = 37;
inline constexpr VARTYPE VT_UINT_PTR = 38;
inline constexpr VARTYPE VT_ARRAY = 0x2000;
inline constexpr VARTYPE VT_BYREF = 0x4000;
inline constexpr VARTYPE VT_RESERVED = 0x8000;
inline constexpr VARTYPE VT_ILLEGAL = 0xffff;
inline constexpr VARTYPE VT_ILLEGALMASKED = 0x0fff;
inline constexpr VARTYPE VT_TYPEMASK = 0x0fff;

// A record held by a VARIANT (VT_RECORD): its data and what describes it.
struct BRECORD {
  PVOID pvRecord;
  IRecordInfo* pRecInfo;
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    FLOAT* pfltVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    DATE* pdate;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    PVOID byref;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    CHAR* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    ULONGLONG* pullVal;
    INT* pintVal;
    UINT* puintVal;
    BRECORD brecVal;
  };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;
using LPVARIANTARG = VARIANT*;

// Accessors in the platform's spelling.
#define V_VT(v) ((v)->vt)
#define V_ISBYREF(v) (V_VT(v) & VT_BYREF)
#define V_ISARRAY(v) (V_VT(v) & VT_ARRAY)
#define V_UI1(v) ((v)->bVal)
#define V_I1(v) ((v)->cVal)
#define V_I2(v) ((v)->iVal)
#define V_UI2(v) ((v)->uiVal)
#define V_I4(v) ((v)->lVal)
#define V_UI4(v) ((v)->ulVal)
#define V_INT(v) ((v)->intVal)
#define V_UINT(v) ((v)->uintVal)
#define V_R4(v) ((v)->fltVal)
#define V_R8(v) ((v)->dblVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_ERROR(v) ((v)->scode)
#define V_BSTR(v) ((v)->bstrVal)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_ARRAY(v) ((v)->parray)
#define V_BYREF(v) ((v)->byref)
#define V_VARIANTREF(v) ((v)->pvarVal)
#define V_UI1REF(v) ((v)->pbVal)
#define V_I2REF(v) ((v)->piVal)
#define V_I4REF(v) ((v)->plVal)
#define V_R4REF(v) ((v)->pfltVal)
#define V_R8REF(v) ((v)->pdblVal)
#define V_BOOLREF(v) ((v)->pboolVal)
#define V_BSTRREF(v) ((v)->pbstrVal)
#define V_DISPATCHREF(v) ((v)->ppdispVal)
#define V_UNKNOWNREF(v) ((v)->ppunkVal)
#define V_ARRAYREF(v) ((v)->pparray)

// Flags of VariantChangeType(Ex).
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;  // do not ask an object for its default property
constexpr USHORT VARIANT_ALPHABOOL = 0x02;    // BOOL -> BSTR gives "True"/"False" instead of "-1"/"0"
constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
constexpr USHORT VARIANT_CALENDAR_HIJRI = 0x08;
constexpr USHORT VARIANT_LOCALBOOL = 0x10;

void VariantInit(VARIANTARG* v);
// Frees what the variant owns (string, array, interface reference) and leaves it VT_EMPTY. A BYREF
// variant owns nothing. DISP_E_BADVARTYPE for a type the runtime does not know (the variant is kept);
// DISP_E_ARRAYISLOCKED for an owned array that is locked.
HRESULT VariantClear(VARIANTARG* v);
// Deep copy: strings and arrays are duplicated, interfaces AddRef'd. `dest` is cleared first; on failure
// it is left VT_EMPTY. dest == src is a no-op.
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// Like VariantCopy, but a BYREF source is copied as the value it refers to (one level; a VT_BYREF |
// VT_VARIANT refers to a variant, which may itself be BYREF a scalar but not BYREF VT_VARIANT again).
HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);
// Coercion following the platform's rules. The result is built aside, so dest and src may be the same
// variant and dest is left untouched on failure. `lcid` is accepted for the platform's signature; text is
// always read and written in the C locale.
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt);

namespace pgx::auto_ {

// Whether `vt` is a type a VARIANT of this runtime may hold (with VT_BYREF / VT_ARRAY where allowed).
bool IsValidVariantType(VARTYPE vt) noexcept;

// An owned VARIANT. Copying deep-copies; failures throw com_error (std::bad_alloc for memory).
class Variant : public VARIANT {
 public:
  Variant() noexcept { VariantInit(this); }
  Variant(const Variant& other);
  explicit Variant(const VARIANT& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant() { VariantClear(this); }

  // Typed constructors; the narrow text one takes UTF-8.
  Variant(SHORT v) noexcept;
  Variant(LONG v) noexcept;
  Variant(BYTE v) noexcept;
  Variant(float v) noexcept;
  Variant(double v) noexcept;
  Variant(bool v) noexcept;
  Variant(const OLECHAR* text);
  Variant(std::u16string_view text);
  Variant(const char* utf8);
  Variant(IDispatch* dispatch) noexcept;  // AddRef'd
  Variant(IUnknown* unknown) noexcept;    // AddRef'd
  static Variant Error(SCODE scode) noexcept;
  static Variant Null() noexcept;
  // The value a caller passes for an omitted optional argument.
  static Variant Missing() noexcept { return Error(DISP_E_PARAMNOTFOUND); }
  // Takes ownership of the contents of `v` and leaves it VT_EMPTY.
  static Variant Attach(VARIANT& v) noexcept;

  VARTYPE Type() const noexcept { return vt; }
  void Clear() noexcept { VariantClear(this); }
  // Hands the contents to the caller (who must clear them) and leaves this VT_EMPTY.
  VARIANT Detach() noexcept;
  // Copies into an out-parameter that holds nothing yet.
  HRESULT CopyTo(VARIANT* out) const noexcept;
  // Coerces in place; throws com_error on failure (the value is then unchanged).
  void ChangeType(VARTYPE type, USHORT flags = 0);
  // Coerced copies of the value; throw com_error on failure.
  LONG AsLong() const;
  double AsDouble() const;
  bool AsBool() const;
  std::string AsUtf8() const;
};

}  // namespace pgx::auto_
