#include "automation/member_chain.h"

#include "automation/client.h"
#include "automation/com_error.h"
#include "automation/comptr.h"

namespace pgx::auto_ {

Variant InvokeChain(IDispatch* root, std::span<const MemberStep> steps) {
  if (!root) IssueError(E_POINTER);
  if (steps.empty()) return Variant(root);
  ComPtr<IMemberChain> chain;
  if (SUCCEEDED(root->QueryInterface(IID_IMemberChain, chain.ReleaseAndGetAddressOfVoid())) && chain) {
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT failed = 0;
    HRESULT hr = chain->InvokeChain(steps.data(), static_cast<UINT>(steps.size()), &result, &excep, &failed);
    if (FAILED(hr)) {
      VariantClear(&result);
      IssueDispatchError(hr, excep);
    }
    return Variant::Attach(result);
  }
  DispatchPtr current(root);
  Variant value;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const MemberStep& step = steps[i];
    const DISPID id = current.GetIDOfName(step.name);
    std::vector<VARIANT> reversed(step.args.size());
    std::size_t k = step.args.size();
    for (const Variant& a : step.args) client::SetVARIANT(reversed[--k], a);
    VARIANT result;
    current.Invoke(id, step.flags, reversed.data(), static_cast<UINT>(reversed.size()), &result);
    value = Variant::Attach(result);
    if (i + 1 == steps.size()) break;
    if (value.vt != VT_DISPATCH || !value.pdispVal) IssueError(DISP_E_TYPEMISMATCH);
    current = DispatchPtr(value.pdispVal);
  }
  return value;
}

}  // namespace pgx::auto_
