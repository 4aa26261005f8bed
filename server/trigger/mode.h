// Mode: the instrument's complete operating mode set in one call: continuous, gated or triggered generation
// of single pulses, bursts or patterns, with the pulse-period source, the trigger slope and, where the mode
// needs them, the arming source, slope or level and the PLL arming rate. The driver's mode functions give
// the combined settings their meaning; Mode checks the enumerations and the VXI arming restriction and
// passes the values on unchanged. It has no state.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Mode final : public PgxObject<Mode, IMode, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Mode";

  // ---- IMode ----
  STDMETHODIMP ContinuousBurst(LONG burst_length, PgxPulsePeriodSource period_source,
                               PgxTriggerSlope trigger_slope) override;
  STDMETHODIMP ContinuousPattern(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope) override;
  STDMETHODIMP ContinuousPulses(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope) override;
  STDMETHODIMP GatedBurst(LONG burst_length, PgxPulsePeriodSource period_source,
                          PgxTriggerSlope trigger_slope, PgxArmSource arm_source,
                          PgxArmSlope gated_level) override;
  STDMETHODIMP GatedPattern(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope,
                            PgxArmSource arm_source, PgxArmSlope gated_level) override;
  STDMETHODIMP GatedPulses(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope,
                           PgxArmSource arm_source, PgxArmSlope gated_level) override;
  STDMETHODIMP TriggeredBurst(LONG burst_length, PgxPulsePeriodSource period_source,
                              PgxTriggerSlope trigger_slope, PgxArmSource arm_source, PgxArmSlope arm_slope,
                              PgxArmPllFormat pll_format, DOUBLE pll_value) override;
  STDMETHODIMP TriggeredPattern(PgxPulsePeriodSource period_source, PgxTriggerSlope trigger_slope,
                                PgxArmSource arm_source, PgxArmSlope arm_slope, PgxArmPllFormat pll_format,
                                DOUBLE pll_value) override;
  STDMETHODIMP TriggeredPulses(PgxArmSource arm_source, PgxArmSlope arm_slope) override;

 private:
  friend class ChildHolder<Mode>;
  Mode() noexcept = default;

  // 0, or kErrNotSupported when `arm_source` is a VXI trigger line and the model cannot arm from one.
  HRESULT CheckArmSourceRestriction(PgxArmSource arm_source) noexcept;
};

}  // namespace pgx::server
