#include "server/channel/channel.h"

namespace pgx::server {

HRESULT Channel::Init(int slot, const char* front_end_model) noexcept {
  if (slot < 0 || slot > 1) return E_INVALIDARG;
  SetChannelNumber(static_cast<USHORT>(slot + 1));
  return SetCurrModel(front_end_model);
}

STDMETHODIMP Channel::get_Number(LONG* value) {
  CallFrame frame("Channel.Number");
  if (!value) return ReportError(E_POINTER);
  *value = ChannelNumber();
  return S_OK;
}

STDMETHODIMP Channel::get_Parent(IInstrument** value) {
  CallFrame frame("PgxBase.Parent");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  if (!Parent()) return S_OK;
  return ReportError(
      Parent()->GetDispatch()->QueryInterface(IID_IInstrument, reinterpret_cast<void**>(value)));
}

// The channel's levels, limits, outputs and timing come with the next stage of the server.
STDMETHODIMP Channel::get_Current(ICurrent** value) {
  if (value) *value = nullptr;
  return NotImplemented("Channel.Current");
}
STDMETHODIMP Channel::get_LimitEnabled(VARIANT_BOOL*) {
  return NotImplemented("Channel.LimitEnabled");
}
STDMETHODIMP Channel::put_LimitEnabled(VARIANT_BOOL) {
  return NotImplemented("Channel.LimitEnabled");
}
STDMETHODIMP Channel::get_Output(IOutput** value) {
  if (value) *value = nullptr;
  return NotImplemented("Channel.Output");
}
STDMETHODIMP Channel::get_Pulse(IPulse** value) {
  if (value) *value = nullptr;
  return NotImplemented("Channel.Pulse");
}
STDMETHODIMP Channel::get_SignalFormat(PgxSignalFormat*) {
  return NotImplemented("Channel.SignalFormat");
}
STDMETHODIMP Channel::put_SignalFormat(PgxSignalFormat) {
  return NotImplemented("Channel.SignalFormat");
}
STDMETHODIMP Channel::get_Voltage(IVoltage** value) {
  if (value) *value = nullptr;
  return NotImplemented("Channel.Voltage");
}

}  // namespace pgx::server
