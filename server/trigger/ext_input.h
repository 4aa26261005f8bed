// ExtInput: the EXT INPUT connector used for arming: its impedance and threshold level.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class ExtInput final : public PgxObject<ExtInput, IExtInput, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "ExtInput";

  // ---- IExtInput ----
  STDMETHODIMP get_Impedance(DOUBLE* value) override;
  STDMETHODIMP put_Impedance(DOUBLE value) override;
  STDMETHODIMP get_ThresholdLevel(DOUBLE* value) override;
  STDMETHODIMP put_ThresholdLevel(DOUBLE value) override;

 private:
  friend class ChildHolder<ExtInput>;
  ExtInput() noexcept = default;
};

}  // namespace pgx::server
