#include "server/trigger/mode.h"

#include "driver/pgxgen.h"

namespace pgx::server {

namespace {

// The accepted ranges of the arguments. Some take values without a constant of their own: trigger slope 2
// and arming source 2 pass here, and the driver judges them.
constexpr bool IsPeriodSource(LONG v) {
  return v >= PgxPulsePeriodSourceStart && v < PgxPulsePeriodSourceEnd;
}
constexpr bool IsTriggerSlope(LONG v) {
  return v >= PgxTriggerSlopeStart && v < PgxTriggerSlopeEnd;
}
constexpr bool IsArmSource(LONG v) {
  return v >= PgxArmSourceStart && v < PgxArmSourceEnd;
}
constexpr bool IsArmSlope(LONG v) {
  return v >= PgxArmSlopeStart && v < PgxArmSlopeEnd;
}
constexpr bool IsPllFormat(LONG v) {
  return v >= PgxArmPllFormatStart && v < PgxArmPllFormatEnd;
}

// The driver takes the enumerations as 16-bit values; the ranges above make the conversion exact.
constexpr ViInt16 Narrow(LONG v) {
  return static_cast<ViInt16>(v);
}

}  // namespace

HRESULT Mode::CheckArmSourceRestriction(PgxArmSource arm_source) noexcept {
  if (arm_source < PgxArmSourceECLT0) return S_OK;
  return CheckRestrictionMask(PgxNotImplArmSourceVxi);
}

STDMETHODIMP Mode::ContinuousBurst(LONG burst_length, PgxPulsePeriodSource period_source,
                                   PgxTriggerSlope trigger_slope) {
  CallFrame frame("Mode.ContinuousBurst");
  if (!IsPeriodSource(period_source) || !IsTriggerSlope(trigger_slope)) return ReportError(E_INVALIDARG);
  return CheckStatus(
      pgxgen_modeContinuousBurst(GetSession(), burst_length, Narrow(period_source), Narrow(trigger_slope)));
}

STDMETHODIMP Mode::ContinuousPattern(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope) {
  CallFrame frame("Mode.ContinuousPattern");
  if (!IsPeriodSource(period_source) || !IsTriggerSlope(trigger_slope)) return ReportError(E_INVALIDARG);
  return CheckStatus(
      pgxgen_modeContinuousPattern(GetSession(), Narrow(period_source), Narrow(trigger_slope)));
}

STDMETHODIMP Mode::ContinuousPulses(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope) {
  CallFrame frame("Mode.ContinuousPulses");
  if (!IsPeriodSource(period_source) || !IsTriggerSlope(trigger_slope)) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_modeContinuousPulses(GetSession(), Narrow(period_source), Narrow(trigger_slope)));
}

STDMETHODIMP Mode::GatedBurst(LONG burst_length, PgxPulsePeriodSource period_source,
                              PgxTriggerSlope trigger_slope, PgxArmSource arm_source,
                              PgxArmSlope gated_level) {
  CallFrame frame("Mode.GatedBurst");
  if (!IsPeriodSource(period_source) || !IsTriggerSlope(trigger_slope) || !IsArmSource(arm_source) ||
      !IsArmSlope(gated_level))
    return ReportError(E_INVALIDARG);
  if (HRESULT hr = CheckArmSourceRestriction(arm_source)) return ReportError(hr);
  return CheckStatus(pgxgen_modeGatedBurst(GetSession(), burst_length, Narrow(period_source),
                                           Narrow(trigger_slope), Narrow(arm_source), Narrow(gated_level)));
}

STDMETHODIMP Mode::GatedPattern(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope,
                                PgxArmSource arm_source, PgxArmSlope gated_level) {
  CallFrame frame("Mode.GatedPattern");
  if (!IsPeriodSource(period_source) || !IsTriggerSlope(trigger_slope) || !IsArmSource(arm_source) ||
      !IsArmSlope(gated_level))
    return ReportError(E_INVALIDARG);
  if (HRESULT hr = CheckArmSourceRestriction(arm_source)) return ReportError(hr);
  return CheckStatus(pgxgen_modeGatedPattern(GetSession(), Narrow(period_source), Narrow(trigger_slope),
                                             Narrow(arm_source), Narrow(gated_level)));
}

STDMETHODIMP Mode::GatedPulses(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope,
                               PgxArmSource arm_source, PgxArmSlope gated_level) {
  CallFrame frame("Mode.GatedPulses");
  if (!IsPeriodSource(period_source) || !IsTriggerSlope(trigger_slope) || !IsArmSource(arm_source) ||
      !IsArmSlope(gated_level))
    return ReportError(E_INVALIDARG);
  if (HRESULT hr = CheckArmSourceRestriction(arm_source)) return ReportError(hr);
  return CheckStatus(pgxgen_modeGatedPulses(GetSession(), Narrow(period_source), Narrow(trigger_slope),
                                            Narrow(arm_source), Narrow(gated_level)));
}

STDMETHODIMP Mode::TriggeredBurst(LONG burst_length, PgxPulsePeriodSource period_source,
                                  PgxTriggerSlope trigger_slope, PgxArmSource arm_source,
                                  PgxArmSlope arm_slope, PgxArmPllFormat pll_format, DOUBLE pll_value) {
  CallFrame frame("Mode.TriggeredBurst");
  if (!IsPeriodSource(period_source) || !IsTriggerSlope(trigger_slope) || !IsArmSource(arm_source) ||
      !IsArmSlope(arm_slope) || !IsPllFormat(pll_format))
    return ReportError(E_INVALIDARG);
  if (HRESULT hr = CheckArmSourceRestriction(arm_source)) return ReportError(hr);
  return CheckStatus(pgxgen_modeTriggeredBurst(GetSession(), burst_length, Narrow(period_source),
                                               Narrow(trigger_slope), Narrow(arm_source), Narrow(arm_slope),
                                               Narrow(pll_format), pll_value));
}

STDMETHODIMP Mode::TriggeredPattern(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope,
                                    PgxArmSource arm_source, PgxArmSlope arm_slope,
                                    PgxArmPllFormat pll_format, DOUBLE pll_value) {
  CallFrame frame("Mode.TriggeredPattern");
  if (!IsPeriodSource(period_source) || !IsTriggerSlope(trigger_slope) || !IsArmSource(arm_source) ||
      !IsArmSlope(arm_slope) || !IsPllFormat(pll_format))
    return ReportError(E_INVALIDARG);
  if (HRESULT hr = CheckArmSourceRestriction(arm_source)) return ReportError(hr);
  return CheckStatus(pgxgen_modeTriggeredPattern(GetSession(), Narrow(period_source), Narrow(trigger_slope),
                                                 Narrow(arm_source), Narrow(arm_slope), Narrow(pll_format),
                                                 pll_value));
}

STDMETHODIMP Mode::TriggeredPulses(PgxArmSource arm_source, PgxArmSlope arm_slope) {
  CallFrame frame("Mode.TriggeredPulses");
  if (!IsArmSource(arm_source) || !IsArmSlope(arm_slope)) return ReportError(E_INVALIDARG);
  if (HRESULT hr = CheckArmSourceRestriction(arm_source)) return ReportError(hr);
  return CheckStatus(pgxgen_modeTriggeredPulses(GetSession(), Narrow(arm_source), Narrow(arm_slope)));
}

}  // namespace pgx::server
