// DoubleDelay: the delay of the second pulse of a double pulse on one channel, how it is held, its default
// unit, and whether double pulses are on at all (a view of the channel's pulse type).
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class DoubleDelay final : public PgxObject<DoubleDelay, IDoubleDelay, Level::kChannel> {
 public:
  static constexpr const char* kClassName = "DoubleDelay";

  // ---- IDoubleDelay ----
  STDMETHODIMP get_DefaultUnits(PgxPulseUnits* value) override;
  STDMETHODIMP put_DefaultUnits(PgxPulseUnits value) override;
  STDMETHODIMP get_Enabled(VARIANT_BOOL* value) override;
  STDMETHODIMP put_Enabled(VARIANT_BOOL value) override;
  STDMETHODIMP get_Hold(PgxPulseHoldMode* value) override;
  STDMETHODIMP put_Hold(PgxPulseHoldMode value) override;
  STDMETHODIMP get_Value(PgxPulseUnits* units, DOUBLE* value) override;
  STDMETHODIMP put_Value(PgxPulseUnits* units, DOUBLE value) override;

 private:
  friend class ChildHolder<DoubleDelay>;
  DoubleDelay() noexcept = default;
};

}  // namespace pgx::server
