#include "server/timing/transition.h"

#include "server/timing/units.h"

namespace pgx::server {

namespace {

// The restriction ids of the transition's members (a setting passes the even id, a reading the odd one).
constexpr int kRestrictLeadingEdgePut = 0;
constexpr int kRestrictLeadingEdgeGet = 1;
constexpr int kRestrictTrailingEdgePut = 2;
constexpr int kRestrictTrailingEdgeGet = 3;
constexpr int kRestrictCouplingPut = 4;
constexpr int kRestrictCouplingGet = 5;
constexpr int kRestrictHoldPut = 6;
constexpr int kRestrictHoldGet = 7;

}  // namespace

STDMETHODIMP Transition::get_AutoCoupleTrailingEdge(PgxTrailEdgeCoupling* value) {
  CallFrame frame("Transition.AutoCoupleTrailingEdge");
  if (HRESULT hr = CheckRestriction(kRestrictCouplingGet)) return ReportError(hr);
  if (!value) return ReportError(E_POINTER);
  ViInt16 coupling = 0;
  if (HRESULT hr = CheckStatus(pgxgen_timeEdgeTrailingCoupling_Q(GetSession(), ChannelNumber(), &coupling));
      FAILED(hr))
    return hr;
  *value = static_cast<PgxTrailEdgeCoupling>(coupling);
  return S_OK;
}

STDMETHODIMP Transition::put_AutoCoupleTrailingEdge(PgxTrailEdgeCoupling value) {
  CallFrame frame("Transition.AutoCoupleTrailingEdge");
  if (HRESULT hr = CheckRestriction(kRestrictCouplingPut)) return ReportError(hr);
  if (value < PgxTrailEdgeCouplingStart || value >= PgxTrailEdgeCouplingEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(
      pgxgen_timeEdgeTrailingCoupling(GetSession(), ChannelNumber(), static_cast<ViInt16>(value)));
}

STDMETHODIMP Transition::get_DefaultUnits(PgxPulseUnits* value) {
  CallFrame frame("Transition.DefaultUnits");
  return QueryDefaultUnits(*this, ":PULS:TRAN#:UNIT?", kGeneralUnits, value);
}

STDMETHODIMP Transition::put_DefaultUnits(PgxPulseUnits value) {
  CallFrame frame("Transition.DefaultUnits");
  return SendDefaultUnits(*this, ":PULS:TRAN#:UNIT", kGeneralUnits, PgxPulseUnitsEnd, value);
}

STDMETHODIMP Transition::get_Hold(PgxPulseHoldMode* value) {
  CallFrame frame("Transition.Hold");
  if (HRESULT hr = CheckRestriction(kRestrictHoldGet)) return ReportError(hr);
  if (!value) return ReportError(E_POINTER);
  ViInt16 hold = 0;
  if (HRESULT hr = CheckStatus(pgxgen_timeEdgeHold_Q(GetSession(), ChannelNumber(), &hold)); FAILED(hr))
    return hr;
  *value = static_cast<PgxPulseHoldMode>(hold);
  return S_OK;
}

STDMETHODIMP Transition::put_Hold(PgxPulseHoldMode value) {
  CallFrame frame("Transition.Hold");
  if (HRESULT hr = CheckRestriction(kRestrictHoldPut)) return ReportError(hr);
  if (value < PgxPulseHoldModeStart || value >= PgxPulseHoldModeEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_timeEdgeHold(GetSession(), ChannelNumber(), static_cast<ViInt16>(value)));
}

STDMETHODIMP Transition::get_LeadingEdge(PgxPulseUnits* units, DOUBLE* value) {
  CallFrame frame("Transition.LeadingEdge");
  if (HRESULT hr = CheckRestriction(kRestrictLeadingEdgeGet)) return ReportError(hr);
  return QueryValueWithUnit(*this, pgxgen_timeEdgeLeading_Q, units, value);
}

STDMETHODIMP Transition::put_LeadingEdge(PgxPulseUnits* units, DOUBLE value) {
  CallFrame frame("Transition.LeadingEdge");
  if (HRESULT hr = CheckRestriction(kRestrictLeadingEdgePut)) return ReportError(hr);
  return SendValueWithUnit(*this, pgxgen_timeEdgeLeading, units, PgxPulseUnitsEnd, value);
}

STDMETHODIMP Transition::get_TrailingEdge(PgxPulseUnits* units, DOUBLE* value) {
  CallFrame frame("Transition.TrailingEdge");
  if (HRESULT hr = CheckRestriction(kRestrictTrailingEdgeGet)) return ReportError(hr);
  return QueryValueWithUnit(*this, pgxgen_timeEdgeTrailing_Q, units, value);
}

STDMETHODIMP Transition::put_TrailingEdge(PgxPulseUnits* units, DOUBLE value) {
  CallFrame frame("Transition.TrailingEdge");
  if (HRESULT hr = CheckRestriction(kRestrictTrailingEdgePut)) return ReportError(hr);
  return SendValueWithUnit(*this, pgxgen_timeEdgeTrailing, units, PgxPulseUnitsEnd, value);
}

}  // namespace pgx::server
