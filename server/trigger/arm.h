// Arm: the arming signal that starts a trigger or gate: its source, its sense (edge or level), its slope,
// and the rate of the internal PLL when the PLL arms.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Arm final : public PgxObject<Arm, IArm, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Arm";

  // ---- IArm ----
  STDMETHODIMP get_Frequency(DOUBLE* value) override;
  STDMETHODIMP put_Frequency(DOUBLE value) override;
  STDMETHODIMP get_Period(DOUBLE* value) override;
  STDMETHODIMP put_Period(DOUBLE value) override;
  STDMETHODIMP get_Sense(PgxArmSense* value) override;
  STDMETHODIMP put_Sense(PgxArmSense value) override;
  STDMETHODIMP get_Slope(PgxArmSlope* value) override;
  STDMETHODIMP put_Slope(PgxArmSlope value) override;
  STDMETHODIMP get_Source(PgxArmSource* value) override;
  STDMETHODIMP put_Source(PgxArmSource value) override;

 private:
  friend class ChildHolder<Arm>;
  Arm() noexcept = default;
};

}  // namespace pgx::server
