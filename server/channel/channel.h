// Channel: one output channel (1 or 2) of the instrument. It carries the channel number that every
// channel-related call needs, sets the channel's limit state and pattern signal format, and hands out the
// channel's Voltage, Current, Pulse and Output.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Current;
class Output;
class Pulse;
class Voltage;

class Channel final : public PgxObject<Channel, IChannel, Level::kChannel> {
 public:
  static constexpr const char* kClassName = "Channel";

  // Called by Channels.Refresh with the zero-based slot and the slot's front-end model: the channel number
  // becomes slot + 1 and the model goes to the instrument's restrictions. E_INVALIDARG for a slot above 1.
  HRESULT Init(int slot, const char* front_end_model) noexcept;

  // ---- IChannel ----
  STDMETHODIMP get_Current(ICurrent** value) override;
  STDMETHODIMP get_LimitEnabled(VARIANT_BOOL* value) override;
  STDMETHODIMP put_LimitEnabled(VARIANT_BOOL value) override;
  STDMETHODIMP get_Number(LONG* value) override;
  STDMETHODIMP get_Output(IOutput** value) override;
  STDMETHODIMP get_Parent(IInstrument** value) override;
  STDMETHODIMP get_Pulse(IPulse** value) override;
  STDMETHODIMP get_SignalFormat(PgxSignalFormat* value) override;
  STDMETHODIMP put_SignalFormat(PgxSignalFormat value) override;
  STDMETHODIMP get_Voltage(IVoltage** value) override;

 private:
  friend class ChildHolder<Channel>;
  Channel() noexcept;
  ~Channel() override;

  ChildHolder<Voltage> voltage_;
  ChildHolder<Current> current_;
  ChildHolder<Pulse> pulse_;
  ChildHolder<Output> output_;
};

}  // namespace pgx::server
