// PllReference: the reference of the instrument's PLL, the CLK IN connector with the frequency it carries or
// one of the two internal references.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class PllReference final : public PgxObject<PllReference, IPllReference, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "PllReference";

  // ---- IPllReference ----
  STDMETHODIMP get_Source(DOUBLE* external_frequency, PgxPllRefSource* value) override;
  STDMETHODIMP put_Source(DOUBLE* external_frequency, PgxPllRefSource value) override;

 private:
  friend class ChildHolder<PllReference>;
  PllReference() noexcept = default;
};

}  // namespace pgx::server
