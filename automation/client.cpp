#include "automation/client.h"

#include <vector>

#include "automation/errorinfo.h"

namespace pgx::auto_ {

DispatchPtr DispatchPtr::FromUnknown(IUnknown* unknown) {
  if (!unknown) IssueError(E_POINTER);
  ComPtr<IDispatch> dispatch;
  HRESULT hr = unknown->QueryInterface(IID_IDispatch, dispatch.ReleaseAndGetAddressOfVoid());
  if (FAILED(hr)) IssueError(hr);
  return DispatchPtr(std::move(dispatch));
}

DISPID DispatchPtr::GetIDOfName(std::u16string_view name) const {
  if (!dispatch_) IssueError(E_POINTER);
  std::u16string text(name);
  LPOLESTR names[] = {text.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) IssueError(hr);
  return id;
}

Variant DispatchPtr::InvokeByName(std::u16string_view name, WORD flags,
                                  std::initializer_list<Variant> args) const {
  return InvokeById(GetIDOfName(name), flags, args);
}

Variant DispatchPtr::InvokeById(DISPID id, WORD flags, std::initializer_list<Variant> args) const {
  std::vector<VARIANT> reversed(args.size());
  std::size_t i = args.size();
  for (const Variant& a : args) client::SetVARIANT(reversed[--i], a);
  VARIANT result;
  Invoke(id, flags, reversed.data(), static_cast<UINT>(reversed.size()), &result);
  return Variant::Attach(result);
}

void DispatchPtr::Invoke(DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result) const {
  if (!dispatch_) IssueError(E_POINTER);
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{args, nullptr, count, 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put_id;
    params.cNamedArgs = 1;
  }
  VARIANT local;
  VARIANT* out = result ? result : &local;
  VariantInit(out);
  EXCEPINFO excep{};
  UINT arg_err = 0;
  HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, out, &excep, &arg_err);
  if (FAILED(hr)) {
    VariantClear(out);
    if (hr == DISP_E_EXCEPTION) IssueDispatchError(hr, excep);
    IssueError(hr);
  }
  if (!result) VariantClear(&local);
}

namespace client {
namespace {
// Coerces `v` in place to `vt` (when it is not that type already) and throws on failure.
void Coerce(VARIANT& v, VARTYPE vt) {
  if (v.vt == vt) return;
  HRESULT hr = VariantChangeType(&v, &v, 0, vt);
  if (FAILED(hr)) {
    VariantClear(&v);
    IssueError(hr);
  }
}
template <class T, class Field>
T TakeScalar(VARIANT& v, VARTYPE vt, Field field) {
  Coerce(v, vt);
  T value = v.*field;
  VariantClear(&v);
  return value;
}
}  // namespace

SHORT TakeI2(VARIANT& v) {
  return TakeScalar<SHORT>(v, VT_I2, &VARIANT::iVal);
}
LONG TakeI4(VARIANT& v) {
  return TakeScalar<LONG>(v, VT_I4, &VARIANT::lVal);
}
FLOAT TakeR4(VARIANT& v) {
  return TakeScalar<FLOAT>(v, VT_R4, &VARIANT::fltVal);
}
DOUBLE TakeR8(VARIANT& v) {
  return TakeScalar<DOUBLE>(v, VT_R8, &VARIANT::dblVal);
}
BYTE TakeUI1(VARIANT& v) {
  return TakeScalar<BYTE>(v, VT_UI1, &VARIANT::bVal);
}
USHORT TakeUI2(VARIANT& v) {
  return TakeScalar<USHORT>(v, VT_UI2, &VARIANT::uiVal);
}
ULONG TakeUI4(VARIANT& v) {
  return TakeScalar<ULONG>(v, VT_UI4, &VARIANT::ulVal);
}
VARIANT_BOOL TakeBOOL(VARIANT& v) {
  return TakeScalar<VARIANT_BOOL>(v, VT_BOOL, &VARIANT::boolVal);
}

Bstr TakeBSTR(VARIANT& v) {
  Coerce(v, VT_BSTR);
  v.vt = VT_EMPTY;
  return Bstr::Attach(v.bstrVal);
}

Variant TakeVARIANT(VARIANT& v) {
  return Variant::Attach(v);
}

ComPtr<IDispatch> TakeDISPATCH(VARIANT& v) {
  if (v.vt == VT_EMPTY || v.vt == VT_NULL) return nullptr;
  Coerce(v, VT_DISPATCH);
  v.vt = VT_EMPTY;
  return AttachComPtr(v.pdispVal);
}

ComPtr<IUnknown> TakeUNKNOWN(VARIANT& v) {
  if (v.vt == VT_EMPTY || v.vt == VT_NULL) return nullptr;
  Coerce(v, VT_UNKNOWN);
  v.vt = VT_EMPTY;
  return AttachComPtr(v.punkVal);
}

SafeArray TakeArray(VARIANT& v, VARTYPE array_vt) {
  if (v.vt != array_vt) {
    VariantClear(&v);
    IssueError(DISP_E_TYPEMISMATCH);
  }
  v.vt = VT_EMPTY;
  return SafeArray::Attach(v.parray);
}

}  // namespace client
}  // namespace pgx::auto_
