// ClkInput: the CLK IN connector, which can supply the pulse-period trigger: its impedance, the slope it
// triggers on and its threshold level.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class ClkInput final : public PgxObject<ClkInput, IClkInput, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "ClkInput";

  // ---- IClkInput ----
  STDMETHODIMP get_Impedance(DOUBLE* value) override;
  STDMETHODIMP put_Impedance(DOUBLE value) override;
  STDMETHODIMP get_Slope(PgxTriggerSlope* value) override;
  STDMETHODIMP put_Slope(PgxTriggerSlope value) override;
  STDMETHODIMP get_ThresholdLevel(DOUBLE* value) override;
  STDMETHODIMP put_ThresholdLevel(DOUBLE value) override;

 private:
  friend class ChildHolder<ClkInput>;
  ClkInput() noexcept = default;
};

}  // namespace pgx::server
