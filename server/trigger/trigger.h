// Trigger: how pulse periods are started (trigger mode, pulse-period source, periods per arm event, a
// software trigger), and the arming, input and trigger-output objects.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Arm;
class ClkInput;
class ExtInput;
class TrgOutput;

class Trigger final : public PgxObject<Trigger, ITrigger, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Trigger";

  // The external-width mode (":ARM:EWID"), a setting of its own that the type library does not show.
  HRESULT GetExternalWidthMode(bool* on) noexcept;
  HRESULT GetExternalWidthMode(VARIANT_BOOL* on) noexcept;
  HRESULT SetExternalWidthMode(bool on) noexcept;

  // ---- ITrigger ----
  STDMETHODIMP get_Arm(IArm** value) override;
  STDMETHODIMP get_ClockInput(IClkInput** value) override;
  STDMETHODIMP get_CountPerArmEvent(LONG* value) override;
  STDMETHODIMP put_CountPerArmEvent(LONG value) override;
  STDMETHODIMP get_ExternalInput(IExtInput** value) override;
  STDMETHODIMP Fire() override;
  STDMETHODIMP get_Mode(PgxTriggerMode* value) override;
  STDMETHODIMP put_Mode(PgxTriggerMode value) override;
  STDMETHODIMP get_Output(ITrgOutput** value) override;
  STDMETHODIMP get_Source(PgxPulsePeriodSource* value) override;
  STDMETHODIMP put_Source(PgxPulsePeriodSource value) override;

 private:
  friend class ChildHolder<Trigger>;
  Trigger() noexcept;
  ~Trigger() override;

  ChildHolder<Arm> arm_;
  ChildHolder<ClkInput> clock_input_;
  ChildHolder<ExtInput> external_input_;
  ChildHolder<TrgOutput> output_;
};

}  // namespace pgx::server
