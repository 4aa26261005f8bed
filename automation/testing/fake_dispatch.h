// A scriptable IDispatch for tests: answers Invoke with a given value or failure and records the calls.
#pragma once

#include <vector>

#include "automation/object.h"
#include "automation/variant.h"

namespace pgx::auto_::testing {

class FakeDispatch final : public Object<FakeDispatch, IDispatch> {
 public:
  struct Call {
    DISPID dispid;
    WORD flags;
    UINT args;
  };

  Variant value;          // what Invoke returns in pVarResult
  HRESULT result = S_OK;  // what Invoke returns
  std::vector<Call> calls;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* out, EXCEPINFO*,
                      UINT*) override {
    calls.push_back({dispid, flags, params ? params->cArgs : 0});
    if (FAILED(result)) return result;
    return out ? VariantCopy(out, &value) : S_OK;
  }
};

}  // namespace pgx::auto_::testing
