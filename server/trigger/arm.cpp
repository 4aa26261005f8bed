#include "server/trigger/arm.h"

#include "driver/pgxgen.h"
#include "server/core/lookup.h"

namespace pgx::server {

namespace {

constexpr KeywordRow kArmSenseKeywords[] = {{PgxArmSenseEdge, "EDGE"}, {PgxArmSenseLevel, "LEV"}};
constexpr KeywordRow kArmSlopeKeywords[] = {
    {PgxArmSlopePositive, "POS"}, {PgxArmSlopeNegative, "NEG"}, {PgxArmSlopeEither, "EITH"}};
constexpr KeywordRow kArmSourceKeywords[] = {
    {PgxArmSourceImmediate, "IMM"}, {PgxArmSourceInternalPll, "INT2"}, {PgxArmSourceExternal, "EXT"},
    {PgxArmSourceManual, "MAN"},    {PgxArmSourceECLT0, "ECLT0"},      {PgxArmSourceECLT1, "ECLT1"},
    {PgxArmSourceTTLT0, "TTLT0"},   {PgxArmSourceTTLT1, "TTLT1"},      {PgxArmSourceTTLT2, "TTLT2"},
    {PgxArmSourceTTLT3, "TTLT3"},   {PgxArmSourceTTLT4, "TTLT4"},      {PgxArmSourceTTLT5, "TTLT5"},
    {PgxArmSourceTTLT6, "TTLT6"},   {PgxArmSourceTTLT7, "TTLT7"}};

}  // namespace

STDMETHODIMP Arm::get_Frequency(DOUBLE* value) {
  CallFrame frame("Arm.Frequency");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdReal64_Q(GetSession(), ":ARM:FREQ?", value));
}

STDMETHODIMP Arm::put_Frequency(DOUBLE value) {
  CallFrame frame("Arm.Frequency");
  return CheckStatus(pgxgen_cmdReal(GetSession(), ":ARM:FREQ", value));
}

STDMETHODIMP Arm::get_Period(DOUBLE* value) {
  CallFrame frame("Arm.Period");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdReal64_Q(GetSession(), ":ARM:PER?", value));
}

STDMETHODIMP Arm::put_Period(DOUBLE value) {
  CallFrame frame("Arm.Period");
  return CheckStatus(pgxgen_cmdReal(GetSession(), ":ARM:PER", value));
}

STDMETHODIMP Arm::get_Sense(PgxArmSense* value) {
  CallFrame frame("Arm.Sense");
  if (!value) return ReportError(E_POINTER);
  TextBuffer answer;
  if (HRESULT hr = QueryText(":ARM:SENS?", answer); FAILED(hr)) return hr;
  LONG sense = 0;
  if (HRESULT hr = LookupValue(answer.view(), kArmSenseKeywords, &sense); FAILED(hr)) return ReportError(hr);
  *value = static_cast<PgxArmSense>(sense);
  return S_OK;
}

STDMETHODIMP Arm::put_Sense(PgxArmSense value) {
  CallFrame frame("Arm.Sense");
  TextBuffer keyword;
  if (HRESULT hr = LookupText(value, kArmSenseKeywords, keyword); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_cmdString(GetSession(), ":ARM:SENS", keyword.c_str()));
}

STDMETHODIMP Arm::get_Slope(PgxArmSlope* value) {
  CallFrame frame("Arm.Slope");
  if (!value) return ReportError(E_POINTER);
  TextBuffer answer;
  if (HRESULT hr = QueryText(":ARM:SLOP?", answer); FAILED(hr)) return hr;
  LONG slope = 0;
  if (HRESULT hr = LookupValue(answer.view(), kArmSlopeKeywords, &slope); FAILED(hr)) return ReportError(hr);
  *value = static_cast<PgxArmSlope>(slope);
  return S_OK;
}

STDMETHODIMP Arm::put_Slope(PgxArmSlope value) {
  CallFrame frame("Arm.Slope");
  TextBuffer keyword;
  if (HRESULT hr = LookupText(value, kArmSlopeKeywords, keyword); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_cmdString(GetSession(), ":ARM:SLOP", keyword.c_str()));
}

STDMETHODIMP Arm::get_Source(PgxArmSource* value) {
  CallFrame frame("Arm.Source");
  if (!value) return ReportError(E_POINTER);
  TextBuffer answer;
  if (HRESULT hr = QueryText(":ARM:SOUR?", answer); FAILED(hr)) return hr;
  LONG source = 0;
  if (HRESULT hr = LookupValue(answer.view(), kArmSourceKeywords, &source); FAILED(hr))
    return ReportError(hr);
  *value = static_cast<PgxArmSource>(source);
  return S_OK;
}

// A VXI trigger line (ECLT0 and above) arms only on models that can arm from the backplane.
STDMETHODIMP Arm::put_Source(PgxArmSource value) {
  CallFrame frame("Arm.Source");
  if (value < PgxArmSourceStart || value >= PgxArmSourceEnd) return ReportError(E_INVALIDARG);
  if (value >= PgxArmSourceECLT0) {
    if (HRESULT hr = CheckRestrictionMask(PgxNotImplArmSourceVxi)) return ReportError(hr);
  }
  TextBuffer keyword;
  if (HRESULT hr = LookupText(value, kArmSourceKeywords, keyword); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_cmdString(GetSession(), ":ARM:SOUR", keyword.c_str()));
}

}  // namespace pgx::server
