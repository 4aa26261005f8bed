// Instruments: the pulse generators VISA can reach. Refresh searches the VISA resources, keeps those the
// driver opens with an identity check, and makes one Instrument per accepted resource with the resource's
// name and VISA attributes.
#pragma once

#include <memory>
#include <vector>

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"
#include "visa/visa.h"

namespace pgx::server {

class Err;
class Instrument;

class Instruments final : public PgxObject<Instruments, IInstruments, Level::kBase> {
 public:
  static constexpr const char* kClassName = "Instruments";

  // ---- IInstruments ----
  STDMETHODIMP get_Count(LONG* value) override;
  STDMETHODIMP get_Item(VARIANT index, IInstrument** value) override;
  STDMETHODIMP get__NewEnum(IUnknown** value) override;
  STDMETHODIMP Refresh() override;
  STDMETHODIMP get_Err(IErr** value) override;

 private:
  friend class ChildHolder<Instruments>;
  Instruments() noexcept;
  ~Instruments() override;

  Err* FindErrorObject() noexcept override;

  void Clear() noexcept;
  HRESULT Init(ViUInt32 expected) noexcept;
  HRESULT Add(Instrument** added) noexcept;
  HRESULT GetInstrumentAtIndex(LONG index, Instrument** out) noexcept;
  HRESULT LoadResourceInfo(ViSession manager, const char* resource_name) noexcept;

  bool refreshed_ = false;
  bool initialised_ = false;
  std::vector<std::unique_ptr<ChildHolder<Instrument>>> entries_;
  ChildHolder<Err> err_;
};

}  // namespace pgx::server
