#include "server/timing/double_delay.h"

#include "server/timing/units.h"

namespace pgx::server {

STDMETHODIMP DoubleDelay::get_DefaultUnits(PgxPulseUnits* value) {
  CallFrame frame("DoubleDelay.DefaultUnits");
  return QueryDefaultUnits(*this, ":PULS:DOUB#:DEL:UNIT?", kGeneralUnits, value);
}

STDMETHODIMP DoubleDelay::put_DefaultUnits(PgxPulseUnits value) {
  CallFrame frame("DoubleDelay.DefaultUnits");
  return SendDefaultUnits(*this, ":PULS:DOUB#:DEL:UNIT", kGeneralUnits, PgxPulseUnitsEnd, value);
}

// Double pulses are on exactly when the channel's pulse type is double.
STDMETHODIMP DoubleDelay::get_Enabled(VARIANT_BOOL* value) {
  CallFrame frame("DoubleDelay.Enabled");
  if (!value) return ReportError(E_POINTER);
  ViInt16 type = 0;
  if (HRESULT hr = CheckStatus(pgxgen_modePulseType_Q(GetSession(), ChannelNumber(), &type)); FAILED(hr))
    return hr;
  *value = type == PgxPulseTypeDouble ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP DoubleDelay::put_Enabled(VARIANT_BOOL value) {
  CallFrame frame("DoubleDelay.Enabled");
  const ViInt16 type = value ? PgxPulseTypeDouble : PgxPulseTypeSingle;
  return CheckStatus(pgxgen_modePulseType(GetSession(), ChannelNumber(), type));
}

STDMETHODIMP DoubleDelay::get_Hold(PgxPulseHoldMode* value) {
  CallFrame frame("DoubleDelay.Hold");
  if (!value) return ReportError(E_POINTER);
  ViInt16 hold = 0;
  if (HRESULT hr = CheckStatus(pgxgen_timeDelayDoubleHold_Q(GetSession(), ChannelNumber(), &hold));
      FAILED(hr))
    return hr;
  *value = static_cast<PgxPulseHoldMode>(hold);
  return S_OK;
}

STDMETHODIMP DoubleDelay::put_Hold(PgxPulseHoldMode value) {
  CallFrame frame("DoubleDelay.Hold");
  if (value < PgxPulseHoldModeStart || value >= PgxPulseHoldModeEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_timeDelayDoubleHold(GetSession(), ChannelNumber(), static_cast<ViInt16>(value)));
}

STDMETHODIMP DoubleDelay::get_Value(PgxPulseUnits* units, DOUBLE* value) {
  CallFrame frame("DoubleDelay.Value");
  return QueryValueWithUnit(*this, pgxgen_timeDelayDouble_Q, units, value);
}

STDMETHODIMP DoubleDelay::put_Value(PgxPulseUnits* units, DOUBLE value) {
  CallFrame frame("DoubleDelay.Value");
  return SendValueWithUnit(*this, pgxgen_timeDelayDouble, units, PgxPulseUnitsEnd, value);
}

}  // namespace pgx::server
