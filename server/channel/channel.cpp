#include "server/channel/channel.h"

#include "driver/pgxgen.h"
#include "server/channel/levels.h"
#include "server/channel/output.h"
#include "server/timing/pulse.h"

namespace pgx::server {

namespace {

// The restriction id of the channel's levels.
constexpr int kRestrictLevels = 9;

}  // namespace

Channel::Channel() noexcept = default;
Channel::~Channel() = default;

HRESULT Channel::Init(int slot, const char* front_end_model) noexcept {
  if (slot < 0 || slot > 1) return E_INVALIDARG;
  SetChannelNumber(static_cast<USHORT>(slot + 1));
  return SetCurrModel(front_end_model);
}

STDMETHODIMP Channel::get_Current(ICurrent** value) {
  CallFrame frame("Channel.Current");
  if (HRESULT hr = CheckRestriction(kRestrictLevels)) return ReportError(hr);
  return GetChild(current_, value);
}

STDMETHODIMP Channel::get_LimitEnabled(VARIANT_BOOL* value) {
  CallFrame frame("Channel.LimitEnabled");
  return ReadLimitState(*this, value);
}

STDMETHODIMP Channel::put_LimitEnabled(VARIANT_BOOL value) {
  CallFrame frame("Channel.LimitEnabled");
  return WriteLimitState(*this, value);
}

STDMETHODIMP Channel::get_Number(LONG* value) {
  CallFrame frame("Channel.Number");
  if (!value) return ReportError(E_POINTER);
  *value = ChannelNumber();
  return S_OK;
}

STDMETHODIMP Channel::get_Output(IOutput** value) {
  CallFrame frame("Channel.Output");
  return GetChild(output_, value);
}

STDMETHODIMP Channel::get_Parent(IInstrument** value) {
  CallFrame frame("PgxBase.Parent");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  if (!Parent()) return S_OK;
  return ReportError(
      Parent()->GetDispatch()->QueryInterface(IID_IInstrument, reinterpret_cast<void**>(value)));
}

STDMETHODIMP Channel::get_Pulse(IPulse** value) {
  CallFrame frame("Channel.Pulse");
  return GetChild(pulse_, value);
}

STDMETHODIMP Channel::get_SignalFormat(PgxSignalFormat* value) {
  CallFrame frame("Channel.SignalFormat");
  if (!value) return ReportError(E_POINTER);
  ViInt16 format = 0;
  if (HRESULT hr = CheckStatus(pgxgen_modePatternDataFormat_Q(GetSession(), ChannelNumber(), &format));
      FAILED(hr))
    return hr;
  *value = static_cast<PgxSignalFormat>(format);
  return S_OK;
}

STDMETHODIMP Channel::put_SignalFormat(PgxSignalFormat value) {
  CallFrame frame("Channel.SignalFormat");
  if (value < PgxSignalFormatStart || value >= PgxSignalFormatEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(
      pgxgen_modePatternDataFormat(GetSession(), ChannelNumber(), static_cast<ViInt16>(value)));
}

STDMETHODIMP Channel::get_Voltage(IVoltage** value) {
  CallFrame frame("Channel.Voltage");
  if (HRESULT hr = CheckRestriction(kRestrictLevels)) return ReportError(hr);
  return GetChild(voltage_, value);
}

}  // namespace pgx::server
