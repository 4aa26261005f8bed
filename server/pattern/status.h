// Status: the instrument's status reporting structure (IEEE 488.2 and SCPI): the status byte, the service
// request enable mask, clearing and presetting, the operation-complete query, and the register groups.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pattern/group.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Status final : public PgxObject<Status, IStatus, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Status";

  // ---- IStatus ----
  STDMETHODIMP get_Byte(SHORT* value) override;
  STDMETHODIMP Clear() override;
  STDMETHODIMP get_Operation(IGroup** value) override;
  STDMETHODIMP get_OperationComplete(VARIANT_BOOL* value) override;
  STDMETHODIMP Preset() override;
  STDMETHODIMP get_Questionable(IGroup** value) override;
  STDMETHODIMP get_StandardEvent(IGroup** value) override;
  STDMETHODIMP get_ServiceRequestEnable(SHORT* value) override;
  STDMETHODIMP put_ServiceRequestEnable(SHORT value) override;

 private:
  friend class ChildHolder<Status>;
  Status() noexcept = default;

  // The cached group of `kind` (created on first use) into *value.
  HRESULT GetGroup(ChildHolder<Group>& holder, Group::Kind kind, IGroup** value) noexcept;

  ChildHolder<Group> questionable_;
  ChildHolder<Group> standard_event_;
};

}  // namespace pgx::server
