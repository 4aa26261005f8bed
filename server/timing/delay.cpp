#include "server/timing/delay.h"

#include "server/timing/units.h"

namespace pgx::server {

STDMETHODIMP Delay::get_DefaultUnits(PgxPulseUnitsX* value) {
  CallFrame frame("Delay.DefaultUnits");
  return QueryDefaultUnits(*this, ":PULS:DEL#:UNIT?", kDelayUnits, value);
}

STDMETHODIMP Delay::put_DefaultUnits(PgxPulseUnitsX value) {
  CallFrame frame("Delay.DefaultUnits");
  return SendDefaultUnits(*this, ":PULS:DEL#:UNIT", kDelayUnits, PgxPulseUnitsXEnd, value);
}

STDMETHODIMP Delay::get_Hold(PgxPulseHoldMode* value) {
  CallFrame frame("Delay.Hold");
  if (!value) return ReportError(E_POINTER);
  ViInt16 hold = 0;
  if (HRESULT hr = CheckStatus(pgxgen_timeDelayHold_Q(GetSession(), ChannelNumber(), &hold)); FAILED(hr))
    return hr;
  *value = static_cast<PgxPulseHoldMode>(hold);
  return S_OK;
}

STDMETHODIMP Delay::put_Hold(PgxPulseHoldMode value) {
  CallFrame frame("Delay.Hold");
  if (value < PgxPulseHoldModeStart || value >= PgxPulseHoldModeEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_timeDelayHold(GetSession(), ChannelNumber(), static_cast<ViInt16>(value)));
}

STDMETHODIMP Delay::get_Value(PgxPulseUnitsX* units, DOUBLE* value) {
  CallFrame frame("Delay.Value");
  return QueryValueWithUnit(*this, pgxgen_timeDelay_Q, units, value);
}

STDMETHODIMP Delay::put_Value(PgxPulseUnitsX* units, DOUBLE value) {
  CallFrame frame("Delay.Value");
  return SendValueWithUnit(*this, pgxgen_timeDelay, units, PgxPulseUnitsXEnd, value);
}

}  // namespace pgx::server
