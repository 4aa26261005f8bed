#include "server/trigger/trigger.h"

#include "driver/pgxgen.h"
#include "server/core/lookup.h"
#include "server/core/messages.h"
#include "server/trigger/arm.h"
#include "server/trigger/clk_input.h"
#include "server/trigger/ext_input.h"
#include "server/trigger/trg_output.h"

namespace pgx::server {

namespace {

constexpr KeywordRow kTriggerSourceKeywords[] = {{PgxPulsePeriodInternalOsc, "IMM"},
                                                 {PgxPulsePeriodInternalPll, "INT2"},
                                                 {PgxPulsePeriodClockInput, "EXT2"}};

}  // namespace

Trigger::Trigger() noexcept = default;
Trigger::~Trigger() = default;

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

STDMETHODIMP Trigger::get_Arm(IArm** value) {
  CallFrame frame("Trigger.Arm");
  return GetChild(arm_, value);
}

STDMETHODIMP Trigger::get_ClockInput(IClkInput** value) {
  CallFrame frame("Trigger.ClockInput");
  return GetChild(clock_input_, value);
}

STDMETHODIMP Trigger::get_ExternalInput(IExtInput** value) {
  CallFrame frame("Trigger.ExternalInput");
  return GetChild(external_input_, value);
}

STDMETHODIMP Trigger::get_Output(ITrgOutput** value) {
  CallFrame frame("Trigger.Output");
  return GetChild(output_, value);
}

// The trigger mode is not a setting of its own: external width wins; otherwise immediate arming is
// continuous, and any other arming source triggers on an edge or gates on a level. A failure leaves the
// value at PgxTriggerModeEnd.
STDMETHODIMP Trigger::get_Mode(PgxTriggerMode* value) {
  CallFrame frame("Trigger.Mode");
  if (!value) return ReportError(E_POINTER);
  *value = PgxTriggerModeEnd;
  bool external_width = false;
  if (HRESULT hr = GetExternalWidthMode(&external_width); FAILED(hr)) return ReportError(hr);
  if (external_width) {
    *value = PgxTriggerModeExternalWidth;
    return S_OK;
  }
  if (!arm_) {
    if (HRESULT hr = arm_.Create(this); FAILED(hr)) return ReportError(hr);
  }
  PgxArmSource source = PgxArmSourceEnd;
  if (HRESULT hr = arm_->get_Source(&source); FAILED(hr)) return ReportError(hr);
  if (source == PgxArmSourceImmediate) {
    *value = PgxTriggerModeContinuous;
    return S_OK;
  }
  PgxArmSense sense = PgxArmSenseEnd;
  if (HRESULT hr = arm_->get_Sense(&sense); FAILED(hr)) return ReportError(hr);
  switch (sense) {
    case PgxArmSenseEdge:
      *value = PgxTriggerModeTriggered;
      return S_OK;
    case PgxArmSenseLevel:
      *value = PgxTriggerModeGated;
      return S_OK;
    default:
      return ReportError(kErrInvalidResponse);
  }
}

// Every mode but external width first switches external width off; when that fails, the failure is the
// result and nothing else is sent, since the instrument would stay in external width whatever followed.
// Triggered and gated set only the arming sense: the arming source (Arm.Source, or Mode) decides whether
// the instrument arms at all.
STDMETHODIMP Trigger::put_Mode(PgxTriggerMode value) {
  CallFrame frame("Trigger.Mode");
  const char* command = nullptr;
  switch (value) {
    case PgxTriggerModeContinuous:
      command = ":ARM:SOUR IMM";
      break;
    case PgxTriggerModeTriggered:
      command = ":ARM:SENS EDGE";
      break;
    case PgxTriggerModeGated:
      command = ":ARM:SENS LEV";
      break;
    case PgxTriggerModeExternalWidth:
      return SetExternalWidthMode(true);
    default:
      return ReportError(E_INVALIDARG);
  }
  if (HRESULT hr = SetExternalWidthMode(false); FAILED(hr)) return hr;
  return CheckStatus(pgxgen_cmd(GetSession(), command));
}

}  // namespace pgx::server
