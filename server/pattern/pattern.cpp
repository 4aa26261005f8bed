#include "server/pattern/pattern.h"

#include "driver/pgxgen.h"

namespace pgx::server {

HRESULT Pattern::GetState(bool* on) noexcept {
  CallFrame frame("Pattern::GetState");
  TextBuffer answer;
  if (HRESULT hr = QueryText(":DIG:PATT?", answer); FAILED(hr)) return hr;
  *on = answer.view() == "1";
  return S_OK;
}

HRESULT Pattern::GetState(VARIANT_BOOL* on) noexcept {
  bool flag = false;
  HRESULT hr = GetState(&flag);
  if (SUCCEEDED(hr)) *on = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return hr;
}

STDMETHODIMP Pattern::get_State(VARIANT_BOOL* value) {
  CallFrame frame("Pattern.State");
  if (!value) return ReportError(E_POINTER);
  return GetState(value);
}

STDMETHODIMP Pattern::put_State(VARIANT_BOOL value) {
  CallFrame frame("Pattern.State");
  return CheckStatus(pgxgen_cmdString(GetSession(), ":DIG:PATT", value ? "ON" : "OFF"));
}

// Pattern data, PRBS and the update mode come with the next stage of the server.
STDMETHODIMP Pattern::CalcPRBS(LONG, LONG, LONG, SAFEARRAY**) {
  return NotImplemented("Pattern.CalcPRBS");
}
STDMETHODIMP Pattern::DataSendToInstrument(PgxDataChannel, PgxPatternArrayFormat, SAFEARRAY**, LONG) {
  return NotImplemented("Pattern.DataSendToInstrument");
}
STDMETHODIMP Pattern::DataSendToInstrumentFromFile(PgxDataChannel, BSTR) {
  return NotImplemented("Pattern.DataSendToInstrumentFromFile");
}
STDMETHODIMP Pattern::DataPRBS(PgxDataChannel, SHORT, LONG) {
  return NotImplemented("Pattern.DataPRBS");
}
STDMETHODIMP Pattern::DataPreset(PgxDataChannel, LONG, LONG) {
  return NotImplemented("Pattern.DataPreset");
}
STDMETHODIMP Pattern::DataGetFromInstrument(PgxDataChannel, PgxPatternArrayFormat, SAFEARRAY**, LONG*) {
  return NotImplemented("Pattern.DataGetFromInstrument");
}
STDMETHODIMP Pattern::DataGetFromInstrumentToFile(PgxDataChannel, VARIANT_BOOL, BSTR) {
  return NotImplemented("Pattern.DataGetFromInstrumentToFile");
}
STDMETHODIMP Pattern::get_UpdateMode(PgxPatternUpdate*) {
  return NotImplemented("Pattern.UpdateMode");
}
STDMETHODIMP Pattern::put_UpdateMode(PgxPatternUpdate) {
  return NotImplemented("Pattern.UpdateMode");
}

}  // namespace pgx::server
