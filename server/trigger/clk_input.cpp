#include "server/trigger/clk_input.h"

#include "driver/pgxgen.h"
#include "server/core/lookup.h"

namespace pgx::server {

namespace {

// "As is" has no keyword: the slope of an input is always one of the two.
constexpr KeywordRow kSlopeKeywords[] = {{PgxTriggerSlopePositive, "POS"}, {PgxTriggerSlopeNegative, "NEG"}};

}  // namespace

STDMETHODIMP ClkInput::get_Impedance(DOUBLE* value) {
  CallFrame frame("ClkInput.Impedance");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdReal64_Q(GetSession(), ":TRIG:IMP?", value));
}

STDMETHODIMP ClkInput::put_Impedance(DOUBLE value) {
  CallFrame frame("ClkInput.Impedance");
  return CheckStatus(pgxgen_cmdReal(GetSession(), ":TRIG:IMP", value));
}

STDMETHODIMP ClkInput::get_Slope(PgxTriggerSlope* value) {
  CallFrame frame("ClkInput.Slope");
  if (!value) return ReportError(E_POINTER);
  TextBuffer answer;
  if (HRESULT hr = QueryText(":TRIG:SLOP?", answer); FAILED(hr)) return hr;
  LONG slope = 0;
  if (HRESULT hr = LookupValue(answer.view(), kSlopeKeywords, &slope); FAILED(hr)) return ReportError(hr);
  *value = static_cast<PgxTriggerSlope>(slope);
  return S_OK;
}

STDMETHODIMP ClkInput::put_Slope(PgxTriggerSlope value) {
  CallFrame frame("ClkInput.Slope");
  TextBuffer keyword;
  if (HRESULT hr = LookupText(value, kSlopeKeywords, keyword); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_cmdString(GetSession(), ":TRIG:SLOP", keyword.c_str()));
}

STDMETHODIMP ClkInput::get_ThresholdLevel(DOUBLE* value) {
  CallFrame frame("ClkInput.ThresholdLevel");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdReal64_Q(GetSession(), ":TRIG:LEV?", value));
}

STDMETHODIMP ClkInput::put_ThresholdLevel(DOUBLE value) {
  CallFrame frame("ClkInput.ThresholdLevel");
  return CheckStatus(pgxgen_cmdReal(GetSession(), ":TRIG:LEV", value));
}

}  // namespace pgx::server
