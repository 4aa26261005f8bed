// Transition: the leading and trailing edge times of one channel, how they are held, whether the trailing
// edge follows the leading one, and their default unit. Models without settable transition times refuse
// every member but the default unit.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Transition final : public PgxObject<Transition, ITransition, Level::kChannel> {
 public:
  static constexpr const char* kClassName = "Transition";

  // ---- ITransition ----
  STDMETHODIMP get_AutoCoupleTrailingEdge(PgxTrailEdgeCoupling* value) override;
  STDMETHODIMP put_AutoCoupleTrailingEdge(PgxTrailEdgeCoupling value) override;
  STDMETHODIMP get_DefaultUnits(PgxPulseUnits* value) override;
  STDMETHODIMP put_DefaultUnits(PgxPulseUnits value) override;
  STDMETHODIMP get_Hold(PgxPulseHoldMode* value) override;
  STDMETHODIMP put_Hold(PgxPulseHoldMode value) override;
  STDMETHODIMP get_LeadingEdge(PgxPulseUnits* units, DOUBLE* value) override;
  STDMETHODIMP put_LeadingEdge(PgxPulseUnits* units, DOUBLE value) override;
  STDMETHODIMP get_TrailingEdge(PgxPulseUnits* units, DOUBLE* value) override;
  STDMETHODIMP put_TrailingEdge(PgxPulseUnits* units, DOUBLE value) override;

 private:
  friend class ChildHolder<Transition>;
  Transition() noexcept = default;
};

}  // namespace pgx::server
