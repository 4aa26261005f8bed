// Delay: the pulse delay of one channel, in seconds or as a share of the period (percent, degrees,
// radians), how it is held when the period changes, and its default unit.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Delay final : public PgxObject<Delay, IDelay, Level::kChannel> {
 public:
  static constexpr const char* kClassName = "Delay";

  // ---- IDelay ----
  STDMETHODIMP get_DefaultUnits(PgxPulseUnitsX* value) override;
  STDMETHODIMP put_DefaultUnits(PgxPulseUnitsX value) override;
  STDMETHODIMP get_Hold(PgxPulseHoldMode* value) override;
  STDMETHODIMP put_Hold(PgxPulseHoldMode value) override;
  STDMETHODIMP get_Value(PgxPulseUnitsX* units, DOUBLE* value) override;
  STDMETHODIMP put_Value(PgxPulseUnitsX* units, DOUBLE value) override;

 private:
  friend class ChildHolder<Delay>;
  Delay() noexcept = default;
};

}  // namespace pgx::server
