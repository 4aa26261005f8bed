#include "server/pattern/status.h"

#include "driver/pgxgen.h"
#include "server/core/messages.h"
#include "server/pattern/checked_write.h"

namespace pgx::server {

HRESULT Status::GetGroup(ChildHolder<Group>& holder, Group::Kind kind, IGroup** value) noexcept {
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  if (!holder) {
    if (HRESULT hr = holder.Create(this, kind); FAILED(hr)) return ReportError(hr);
  }
  return GetChild(holder, value);
}

STDMETHODIMP Status::get_Byte(SHORT* value) {
  CallFrame frame("Status.Byte");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdInt16_Q(GetSession(), "*STB?", value));
}

STDMETHODIMP Status::Clear() {
  CallFrame frame("Status.Clear");
  return CheckStatus(pgxgen_cmd(GetSession(), "*CLS"));
}

// The instruments have no operation status group.
STDMETHODIMP Status::get_Operation(IGroup** value) {
  CallFrame frame("Status.Operation");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  return ReportError(kErrNotSupported);
}

STDMETHODIMP Status::get_OperationComplete(VARIANT_BOOL* value) {
  CallFrame frame("Status.OperationComplete");
  if (!value) return ReportError(E_POINTER);
  ViBoolean complete = VI_FALSE;
  if (HRESULT hr = CheckStatus(pgxgen_opc_Q(GetSession(), &complete)); FAILED(hr)) return hr;
  *value = complete ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP Status::Preset() {
  CallFrame frame("Status.Preset");
  return CheckStatus(pgxgen_cmd(GetSession(), ":STAT:PRES"));
}

STDMETHODIMP Status::get_Questionable(IGroup** value) {
  CallFrame frame("Status.Questionable");
  return GetGroup(questionable_, Group::Kind::kQuestionable, value);
}

STDMETHODIMP Status::get_StandardEvent(IGroup** value) {
  CallFrame frame("Status.StandardEvent");
  return GetGroup(standard_event_, Group::Kind::kStandardEvent, value);
}

STDMETHODIMP Status::get_ServiceRequestEnable(SHORT* value) {
  CallFrame frame("Status.ServiceRequestEnable");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdInt16_Q(GetSession(), "*SRE?", value));
}

// The 16-bit value goes out sign-extended (0xFFFF is -1), and the instrument judges it: it takes 0 to 255.
STDMETHODIMP Status::put_ServiceRequestEnable(SHORT value) {
  CallFrame frame("Status.ServiceRequestEnable");
  return CheckStatus(WriteChecked(GetSession(), "*SRE", value));
}

}  // namespace pgx::server
