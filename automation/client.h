// Client side of late binding: DispatchPtr, the base of the generated client wrappers, and the helpers
// they use to pass arguments and take results. Every call goes by DISPID through IDispatch::Invoke, so a
// wrapper works on any IDispatch (local or remote); a failure throws com_error.
#pragma once

#include <initializer_list>

#include "automation/bstr.h"
#include "automation/com_error.h"
#include "automation/comptr.h"
#include "automation/interfaces.h"
#include "automation/safearray.h"
#include "automation/variant.h"

namespace pgx::auto_ {

class DispatchPtr {
 public:
  DispatchPtr() noexcept = default;
  DispatchPtr(std::nullptr_t) noexcept {}
  // Takes a new reference.
  explicit DispatchPtr(IDispatch* dispatch) noexcept : dispatch_(dispatch) {}
  DispatchPtr(ComPtr<IDispatch> dispatch) noexcept : dispatch_(std::move(dispatch)) {}
  // Asks `unknown` for IDispatch; throws com_error when it has none.
  static DispatchPtr FromUnknown(IUnknown* unknown);

  IDispatch* GetInterfacePtr() const noexcept { return dispatch_.Get(); }
  const ComPtr<IDispatch>& Get() const noexcept { return dispatch_; }
  explicit operator bool() const noexcept { return static_cast<bool>(dispatch_); }
  IDispatch* operator->() const noexcept { return dispatch_.Get(); }

  // Late binding by name: the DISPID of a member (GetIDsOfNames); throws com_error for an unknown name.
  DISPID GetIDOfName(std::u16string_view name) const;
  // Calls `id` with `args` given first parameter first; the result of a get or method.
  Variant InvokeByName(std::u16string_view name, WORD flags, std::initializer_list<Variant> args = {}) const;
  Variant InvokeById(DISPID id, WORD flags, std::initializer_list<Variant> args = {}) const;

  // Calls `id` with `args` in IDispatch order (last parameter first). A put passes its value as
  // DISPID_PROPERTYPUT. `result` (may be NULL) receives the result, which the caller then owns. Throws
  // com_error built from the EXCEPINFO on failure.
  void Invoke(DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result) const;

 private:
  ComPtr<IDispatch> dispatch_;
};

// Argument and result helpers of the generated wrappers. Set*: a borrowed by-value argument; Ref*: a
// by-reference argument; Take*: the result, coerced when the server answered another type (throws
// com_error when it cannot be), with the VARIANT left empty.
namespace client {

inline Variant Missing() {
  return Variant::Missing();
}
inline void SetMissing(VARIANT& v) {
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
}
inline void SetI2(VARIANT& v, SHORT x) {
  v.vt = VT_I2;
  v.iVal = x;
}
inline void SetI4(VARIANT& v, LONG x) {
  v.vt = VT_I4;
  v.lVal = x;
}
inline void SetR4(VARIANT& v, FLOAT x) {
  v.vt = VT_R4;
  v.fltVal = x;
}
inline void SetR8(VARIANT& v, DOUBLE x) {
  v.vt = VT_R8;
  v.dblVal = x;
}
inline void SetUI1(VARIANT& v, BYTE x) {
  v.vt = VT_UI1;
  v.bVal = x;
}
inline void SetUI2(VARIANT& v, USHORT x) {
  v.vt = VT_UI2;
  v.uiVal = x;
}
inline void SetUI4(VARIANT& v, ULONG x) {
  v.vt = VT_UI4;
  v.ulVal = x;
}
inline void SetBOOL(VARIANT& v, VARIANT_BOOL x) {
  v.vt = VT_BOOL;
  v.boolVal = x;
}
inline void SetBSTR(VARIANT& v, BSTR x) {
  v.vt = VT_BSTR;
  v.bstrVal = x;
}
inline void SetVARIANT(VARIANT& v, const VARIANT& x) {
  v.vt = VT_BYREF | VT_VARIANT;  // by reference, so nothing is copied or owned
  v.pvarVal = const_cast<VARIANT*>(&x);
}
inline void SetDISPATCH(VARIANT& v, IDispatch* x) {
  v.vt = VT_DISPATCH;
  v.pdispVal = x;
}
inline void SetUNKNOWN(VARIANT& v, IUnknown* x) {
  v.vt = VT_UNKNOWN;
  v.punkVal = x;
}

inline void RefI2(VARIANT& v, SHORT* x) {
  v.vt = VT_BYREF | VT_I2;
  v.piVal = x;
}
inline void RefI4(VARIANT& v, LONG* x) {
  v.vt = VT_BYREF | VT_I4;
  v.plVal = x;
}
inline void RefR4(VARIANT& v, FLOAT* x) {
  v.vt = VT_BYREF | VT_R4;
  v.pfltVal = x;
}
inline void RefR8(VARIANT& v, DOUBLE* x) {
  v.vt = VT_BYREF | VT_R8;
  v.pdblVal = x;
}
inline void RefUI1(VARIANT& v, BYTE* x) {
  v.vt = VT_BYREF | VT_UI1;
  v.pbVal = x;
}
inline void RefUI2(VARIANT& v, USHORT* x) {
  v.vt = VT_BYREF | VT_UI2;
  v.puiVal = x;
}
inline void RefUI4(VARIANT& v, ULONG* x) {
  v.vt = VT_BYREF | VT_UI4;
  v.pulVal = x;
}
inline void RefBOOL(VARIANT& v, VARIANT_BOOL* x) {
  v.vt = VT_BYREF | VT_BOOL;
  v.pboolVal = x;
}
inline void RefBSTR(VARIANT& v, BSTR* x) {
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = x;
}
inline void RefVARIANT(VARIANT& v, VARIANT* x) {
  v.vt = VT_BYREF | VT_VARIANT;
  v.pvarVal = x;
}
inline void RefDISPATCH(VARIANT& v, IDispatch** x) {
  v.vt = VT_BYREF | VT_DISPATCH;
  v.ppdispVal = x;
}
inline void RefUNKNOWN(VARIANT& v, IUnknown** x) {
  v.vt = VT_BYREF | VT_UNKNOWN;
  v.ppunkVal = x;
}
inline void RefArray(VARIANT& v, SAFEARRAY** x, VARTYPE array_vt) {
  v.vt = static_cast<VARTYPE>(VT_BYREF | array_vt);
  v.pparray = x;
}

SHORT TakeI2(VARIANT& v);
LONG TakeI4(VARIANT& v);
FLOAT TakeR4(VARIANT& v);
DOUBLE TakeR8(VARIANT& v);
BYTE TakeUI1(VARIANT& v);
USHORT TakeUI2(VARIANT& v);
ULONG TakeUI4(VARIANT& v);
VARIANT_BOOL TakeBOOL(VARIANT& v);
Bstr TakeBSTR(VARIANT& v);
Variant TakeVARIANT(VARIANT& v);
ComPtr<IDispatch> TakeDISPATCH(VARIANT& v);
ComPtr<IUnknown> TakeUNKNOWN(VARIANT& v);
SafeArray TakeArray(VARIANT& v, VARTYPE array_vt);

}  // namespace client
}  // namespace pgx::auto_
