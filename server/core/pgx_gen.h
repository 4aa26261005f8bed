// PgxGen: the root object and the server's only creatable class. It makes the Instruments collection on
// first use and keeps it for its own life.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Instruments;

class PgxGen final : public PgxObject<PgxGen, IPgxGen, Level::kBase> {
 public:
  static constexpr const char* kClassName = "PgxGen";

  // What the class factory calls.
  static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept;

  // ---- IPgxGen ----
  STDMETHODIMP get_Enabled(VARIANT_BOOL* value) override;
  STDMETHODIMP put_Enabled(VARIANT_BOOL value) override;
  STDMETHODIMP get_Err(IErr** value) override;
  STDMETHODIMP get_Instruments(IInstruments** value) override;

 private:
  PgxGen() noexcept;
  ~PgxGen() override;

  HRESULT EnsureInstruments() noexcept;

  bool enabled_ = true;
  ChildHolder<Instruments> instruments_;
};

}  // namespace pgx::server
