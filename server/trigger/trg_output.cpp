#include "server/trigger/trg_output.h"

#include "driver/pgxgen.h"

namespace pgx::server {

namespace {

// The restriction ids of the members that only some models have.
constexpr int kRestrictSourcePut = 21;
constexpr int kRestrictSourceGet = 22;
constexpr int kRestrictVxiSourcePut = 27;
constexpr int kRestrictVxiSourceGet = 28;
constexpr int kRestrictVxiTriggerPut = 29;
constexpr int kRestrictVxiTriggerGet = 30;

constexpr bool IsTriggerOutput(LONG v) {
  return v >= PgxTriggerOutputStart && v < PgxTriggerOutputEnd;
}
constexpr bool IsTriggerLevel(LONG v) {
  return v >= PgxTriggerLevelStart && v < PgxTriggerLevelEnd;
}

}  // namespace

STDMETHODIMP TrgOutput::get_AutoCouple(VARIANT_BOOL* value) {
  CallFrame frame("TrgOutput.AutoCouple");
  if (!value) return ReportError(E_POINTER);
  TextBuffer answer;
  if (HRESULT hr = QueryText(":PULS:TRIG:SOUR:AUTO?", answer); FAILED(hr)) return hr;
  *value = answer.view() == "1" ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP TrgOutput::put_AutoCouple(VARIANT_BOOL value) {
  CallFrame frame("TrgOutput.AutoCouple");
  return CheckStatus(pgxgen_cmdString(GetSession(), ":PULS:TRIG:SOUR:AUTO", value ? "ON" : "OFF"));
}

// The output is checked before it is narrowed to the driver's 16 bits, so that no value outside the three
// outputs reads the level of one of them.
STDMETHODIMP TrgOutput::get_Level(PgxTriggerOutput output, PgxTriggerLevel* value) {
  CallFrame frame("TrgOutput.Level");
  if (!value) return ReportError(E_POINTER);
  if (!IsTriggerOutput(output)) return ReportError(E_INVALIDARG);
  ViInt16 level = 0;
  if (HRESULT hr =
          CheckStatus(pgxgen_configTriggerOutLevel_Q(GetSession(), static_cast<ViInt16>(output), &level));
      FAILED(hr))
    return hr;
  *value = static_cast<PgxTriggerLevel>(level);
  return S_OK;
}

STDMETHODIMP TrgOutput::put_Level(PgxTriggerOutput output, PgxTriggerLevel value) {
  CallFrame frame("TrgOutput.Level");
  if (!IsTriggerOutput(output) || !IsTriggerLevel(value)) return ReportError(E_INVALIDARG);
  return CheckStatus(
      pgxgen_configTriggerOutLevel(GetSession(), static_cast<ViInt16>(output), static_cast<ViInt16>(value)));
}

STDMETHODIMP TrgOutput::get_Source(PgxTriggerOutputSource* value) {
  CallFrame frame("TrgOutput.Source");
  if (!value) return ReportError(E_POINTER);
  if (HRESULT hr = CheckRestriction(kRestrictSourceGet)) return ReportError(hr);
  ViInt16 source = 0;
  if (HRESULT hr = CheckStatus(pgxgen_configTriggerOutSource_Q(GetSession(), &source)); FAILED(hr)) return hr;
  *value = static_cast<PgxTriggerOutputSource>(source);
  return S_OK;
}

// The source follows the channels and cannot be chosen: a model that has a source to read is told the value
// is not accepted, any other that it lacks the function.
STDMETHODIMP TrgOutput::put_Source(PgxTriggerOutputSource) {
  CallFrame frame("TrgOutput.Source");
  if (HRESULT hr = CheckRestriction(kRestrictSourcePut)) return ReportError(hr);
  return ReportError(E_INVALIDARG);
}

STDMETHODIMP TrgOutput::get_VxiSource(PgxVxiTriggerSource* value) {
  CallFrame frame("TrgOutput.VxiSource");
  if (!value) return ReportError(E_POINTER);
  if (HRESULT hr = CheckRestriction(kRestrictVxiSourceGet)) return ReportError(hr);
  ViInt16 source = 0;
  if (HRESULT hr = CheckStatus(pgxgen_outputSourceVxiTrigger_Q(GetSession(), &source)); FAILED(hr)) return hr;
  *value = static_cast<PgxVxiTriggerSource>(source);
  return S_OK;
}

STDMETHODIMP TrgOutput::put_VxiSource(PgxVxiTriggerSource value) {
  CallFrame frame("TrgOutput.VxiSource");
  if (value < PgxVxiTriggerSourceStart || value >= PgxVxiTriggerSourceEnd) return ReportError(E_INVALIDARG);
  if (HRESULT hr = CheckRestriction(kRestrictVxiSourcePut)) return ReportError(hr);
  return CheckStatus(pgxgen_outputSourceVxiTrigger(GetSession(), static_cast<ViInt16>(value)));
}

STDMETHODIMP TrgOutput::get_VxiTrigger(PgxVxiTriggerLine* value) {
  CallFrame frame("TrgOutput.VxiTrigger");
  if (!value) return ReportError(E_POINTER);
  if (HRESULT hr = CheckRestriction(kRestrictVxiTriggerGet)) return ReportError(hr);
  ViInt16 line = 0;
  if (HRESULT hr = CheckStatus(pgxgen_outputEnableVxiTrigger_Q(GetSession(), &line)); FAILED(hr)) return hr;
  *value = static_cast<PgxVxiTriggerLine>(line);
  return S_OK;
}

// A line from ECLT0 to TTLT7, or None to take the output off the backplane.
STDMETHODIMP TrgOutput::put_VxiTrigger(PgxVxiTriggerLine value) {
  CallFrame frame("TrgOutput.VxiTrigger");
  if (value < PgxVxiTriggerLineStart || value >= PgxVxiTriggerLineEnd) return ReportError(E_INVALIDARG);
  if (HRESULT hr = CheckRestriction(kRestrictVxiTriggerPut)) return ReportError(hr);
  return CheckStatus(pgxgen_outputEnableVxiTrigger(GetSession(), static_cast<ViInt16>(value)));
}

}  // namespace pgx::server
