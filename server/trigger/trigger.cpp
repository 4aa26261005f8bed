#include "server/trigger/trigger.h"

#include "driver/pgxgen.h"
#include "server/core/lookup.h"

namespace pgx::server {

namespace {

constexpr KeywordRow kTriggerSourceKeywords[] = {{PgxPulsePeriodInternalOsc, "IMM"},
                                                 {PgxPulsePeriodInternalPll, "INT2"},
                                                 {PgxPulsePeriodClockInput, "EXT2"}};

}  // namespace

HRESULT Trigger::GetExternalWidthMode(bool* on) noexcept {
  CallFrame frame("Trigger::GetExternalWidthMode");
  TextBuffer answer;
  if (HRESULT hr = QueryText(":ARM:EWID?", answer); FAILED(hr)) return hr;
  *on = answer.view() == "1";
  return S_OK;
}

HRESULT Trigger::GetExternalWidthMode(VARIANT_BOOL* on) noexcept {
  bool flag = false;
  HRESULT hr = GetExternalWidthMode(&flag);
  if (SUCCEEDED(hr)) *on = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return hr;
}

HRESULT Trigger::SetExternalWidthMode(bool on) noexcept {
  CallFrame frame("Trigger.ExternalWidthMode");
  return CheckStatus(pgxgen_cmdString(GetSession(), ":ARM:EWID", on ? "ON" : "OFF"));
}

STDMETHODIMP Trigger::get_CountPerArmEvent(LONG* value) {
  CallFrame frame("Trigger.CountPerArmEvent");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdInt32_Q(GetSession(), ":TRIG:COUN?", value));
}

STDMETHODIMP Trigger::put_CountPerArmEvent(LONG value) {
  CallFrame frame("Trigger.CountPerArmEvent");
  return CheckStatus(pgxgen_cmdInt(GetSession(), ":TRIG:COUN", value));
}

STDMETHODIMP Trigger::Fire() {
  CallFrame frame("Trigger.Fire");
  return CheckStatus(pgxgen_cmd(GetSession(), "*TRG"));
}

STDMETHODIMP Trigger::get_Source(PgxPulsePeriodSource* value) {
  CallFrame frame("Trigger.Source");
  if (!value) return ReportError(E_POINTER);
  TextBuffer answer;
  if (HRESULT hr = QueryText(":TRIG:SOUR?", answer); FAILED(hr)) return hr;
  LONG source = 0;
  if (HRESULT hr = LookupValue(answer.view(), kTriggerSourceKeywords, &source); FAILED(hr))
    return ReportError(hr);
  *value = static_cast<PgxPulsePeriodSource>(source);
  return S_OK;
}

STDMETHODIMP Trigger::put_Source(PgxPulsePeriodSource value) {
  CallFrame frame("Trigger.Source");
  if (value < PgxPulsePeriodInternalOsc || value >= PgxPulsePeriodSourceEnd) return ReportError(E_INVALIDARG);
  TextBuffer keyword;
  if (HRESULT hr = LookupText(value, kTriggerSourceKeywords, keyword); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_cmdString(GetSession(), ":TRIG:SOUR", keyword.c_str()));
}

// Arming, the inputs, the trigger output and the derived trigger mode come with the next stage of the server.
STDMETHODIMP Trigger::get_Arm(IArm** value) {
  if (value) *value = nullptr;
  return NotImplemented("Trigger.Arm");
}
STDMETHODIMP Trigger::get_ClockInput(IClkInput** value) {
  if (value) *value = nullptr;
  return NotImplemented("Trigger.ClockInput");
}
STDMETHODIMP Trigger::get_ExternalInput(IExtInput** value) {
  if (value) *value = nullptr;
  return NotImplemented("Trigger.ExternalInput");
}
STDMETHODIMP Trigger::get_Mode(PgxTriggerMode*) {
  return NotImplemented("Trigger.Mode");
}
STDMETHODIMP Trigger::put_Mode(PgxTriggerMode) {
  return NotImplemented("Trigger.Mode");
}
STDMETHODIMP Trigger::get_Output(ITrgOutput** value) {
  if (value) *value = nullptr;
  return NotImplemented("Trigger.Output");
}

}  // namespace pgx::server
