// Setting: complete instrument settings stored and recalled, in the instrument's memory locations or in
// files, and the instrument's learn string.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Setting final : public PgxObject<Setting, ISetting, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Setting";

  // Setting.Value (not in the type library): the instrument's learn string ("*LRN?"), whole, as a new BSTR.
  HRESULT GetValue(BSTR* value) noexcept;

  // ---- ISetting ----
  STDMETHODIMP LoadFromFile(BSTR file_name) override;
  STDMETHODIMP LoadFromMem(SHORT setting_number) override;
  STDMETHODIMP SaveToFile(BSTR file_name) override;
  STDMETHODIMP SaveToMem(SHORT setting_number) override;

 private:
  friend class ChildHolder<Setting>;
  Setting() noexcept = default;
};

}  // namespace pgx::server
