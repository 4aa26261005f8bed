// TrgOutput: the TRIGGER OUT connector (its levels, its source and the automatic source coupling) and, on VXI
// modules, the backplane trigger lines the output drives.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class TrgOutput final : public PgxObject<TrgOutput, ITrgOutput, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "TrgOutput";

  // ---- ITrgOutput ----
  STDMETHODIMP get_AutoCouple(VARIANT_BOOL* value) override;
  STDMETHODIMP put_AutoCouple(VARIANT_BOOL value) override;
  STDMETHODIMP get_Level(PgxTriggerOutput output, PgxTriggerLevel* value) override;
  STDMETHODIMP put_Level(PgxTriggerOutput output, PgxTriggerLevel value) override;
  STDMETHODIMP get_Source(PgxTriggerOutputSource* value) override;
  STDMETHODIMP put_Source(PgxTriggerOutputSource value) override;
  STDMETHODIMP get_VxiSource(PgxVxiTriggerSource* value) override;
  STDMETHODIMP put_VxiSource(PgxVxiTriggerSource value) override;
  STDMETHODIMP get_VxiTrigger(PgxVxiTriggerLine* value) override;
  STDMETHODIMP put_VxiTrigger(PgxVxiTriggerLine value) override;

 private:
  friend class ChildHolder<TrgOutput>;
  TrgOutput() noexcept = default;
};

}  // namespace pgx::server
