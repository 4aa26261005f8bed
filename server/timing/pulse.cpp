#include "server/timing/pulse.h"

#include "driver/pgxgen.h"
#include "server/session/instrument.h"
#include "server/timing/delay.h"
#include "server/timing/double_delay.h"
#include "server/timing/transition.h"

namespace pgx::server {

Pulse::Pulse() noexcept = default;
Pulse::~Pulse() = default;

STDMETHODIMP Pulse::get_Delay(IDelay** value) {
  CallFrame frame("Pulse.Delay");
  return GetChild(delay_, value);
}

STDMETHODIMP Pulse::get_DoubleDelay(IDoubleDelay** value) {
  CallFrame frame("Pulse.DoubleDelay");
  return GetChild(double_delay_, value);
}

// Like every other reading, the duty cycle checks its out-pointer rather than hand a NULL to the driver.
STDMETHODIMP Pulse::get_DutyCycle(DOUBLE* value) {
  CallFrame frame("Pulse.DutyCycle");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_timeWidthDutyCycle_Q(GetSession(), ChannelNumber(), value));
}

STDMETHODIMP Pulse::put_DutyCycle(DOUBLE value) {
  CallFrame frame("Pulse.DutyCycle");
  return CheckStatus(pgxgen_timeWidthDutyCycle(GetSession(), ChannelNumber(), value));
}

// The frequency belongs to the whole instrument: the instrument's own member answers, under its own name.
STDMETHODIMP Pulse::get_Frequency(DOUBLE* value) {
  Instrument* instrument = GetInstrument();
  if (!instrument) return E_UNEXPECTED;
  return instrument->get_Frequency(value);
}

STDMETHODIMP Pulse::put_Frequency(DOUBLE value) {
  Instrument* instrument = GetInstrument();
  if (!instrument) return E_UNEXPECTED;
  return instrument->put_Frequency(value);
}

STDMETHODIMP Pulse::get_Hold(PgxPulseHold* value) {
  CallFrame frame("Pulse.Hold");
  if (!value) return ReportError(E_POINTER);
  ViInt16 hold = 0;
  if (HRESULT hr = CheckStatus(pgxgen_timeWidthHold_Q(GetSession(), ChannelNumber(), &hold)); FAILED(hr))
    return hr;
  *value = static_cast<PgxPulseHold>(hold);
  return S_OK;
}

STDMETHODIMP Pulse::put_Hold(PgxPulseHold value) {
  CallFrame frame("Pulse.Hold");
  if (value < PgxPulseHoldStart || value >= PgxPulseHoldEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_timeWidthHold(GetSession(), ChannelNumber(), static_cast<ViInt16>(value)));
}

STDMETHODIMP Pulse::get_TrailingEdgeDelay(DOUBLE* value) {
  CallFrame frame("Pulse.TrailingEdgeDelay");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_timeWidthTrailingDelay_Q(GetSession(), ChannelNumber(), value));
}

STDMETHODIMP Pulse::put_TrailingEdgeDelay(DOUBLE value) {
  CallFrame frame("Pulse.TrailingEdgeDelay");
  return CheckStatus(pgxgen_timeWidthTrailingDelay(GetSession(), ChannelNumber(), value));
}

STDMETHODIMP Pulse::get_Transition(ITransition** value) {
  CallFrame frame("Pulse.Transition");
  return GetChild(transition_, value);
}

STDMETHODIMP Pulse::get_Type(PgxPulseType* value) {
  CallFrame frame("Pulse.Type");
  if (!value) return ReportError(E_POINTER);
  ViInt16 type = 0;
  if (HRESULT hr = CheckStatus(pgxgen_modePulseType_Q(GetSession(), ChannelNumber(), &type)); FAILED(hr))
    return hr;
  *value = static_cast<PgxPulseType>(type);
  return S_OK;
}

STDMETHODIMP Pulse::put_Type(PgxPulseType value) {
  CallFrame frame("Pulse.Type");
  if (value < PgxPulseTypeStart || value >= PgxPulseTypeEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_modePulseType(GetSession(), ChannelNumber(), static_cast<ViInt16>(value)));
}

STDMETHODIMP Pulse::get_Width(DOUBLE* value) {
  CallFrame frame("Pulse.Width");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_timeWidth_Q(GetSession(), ChannelNumber(), value));
}

STDMETHODIMP Pulse::put_Width(DOUBLE value) {
  CallFrame frame("Pulse.Width");
  return CheckStatus(pgxgen_timeWidth(GetSession(), ChannelNumber(), value));
}

}  // namespace pgx::server
