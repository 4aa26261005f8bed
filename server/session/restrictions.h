// Restrictions: which functions the connected instrument model lacks, as a PgxNotImplFunctions bit mask, and
// the answers to the restriction checks of every object of its instrument.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Restrictions final : public PgxObject<Restrictions, IRestrictions, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Restrictions";
  // Restriction ids run from 0 to kRestrictionIdCount - 1.
  static constexpr int kRestrictionIdCount = 31;

  // The mask of the first model of the table whose text equals `model` exactly; an unknown model leaves
  // the mask as it is. E_POINTER for a missing text.
  HRESULT SetCurrModel(const char* model) noexcept;
  // 0, or kErrNotSupported when the current model lacks what restriction `id` stands for; E_INVALIDARG
  // for an id outside the table.
  HRESULT CheckRestriction(int id) const noexcept;
  // 0, or kErrNotSupported when `bits` share a bit with the current mask.
  HRESULT CheckRestrictionMask(ULONG bits) const noexcept;

  // The PgxNotImplFunctions bits that restriction `id` stands for (0 for an id outside the table).
  static ULONG RestrictionBits(int id) noexcept;
  // The mask of a model text of the table, or -1 when the table does not know it.
  static LONG ModelMask(const char* model) noexcept;

  // ---- IRestrictions ----
  STDMETHODIMP get_BitMask(LONG* value) override;

 private:
  friend class ChildHolder<Restrictions>;
  Restrictions() noexcept = default;

  ULONG mask_ = 0;
};

}  // namespace pgx::server
