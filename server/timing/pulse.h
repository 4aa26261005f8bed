// Pulse: the pulse timing of one channel (width, duty cycle, trailing-edge delay, which of them is held when
// the period changes, single or double pulses) and the instrument's frequency, with the channel's Delay,
// DoubleDelay and Transition.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Delay;
class DoubleDelay;
class Transition;

class Pulse final : public PgxObject<Pulse, IPulse, Level::kChannel> {
 public:
  static constexpr const char* kClassName = "Pulse";

  // ---- IPulse ----
  STDMETHODIMP get_Delay(IDelay** value) override;
  STDMETHODIMP get_DoubleDelay(IDoubleDelay** value) override;
  STDMETHODIMP get_DutyCycle(DOUBLE* value) override;
  STDMETHODIMP put_DutyCycle(DOUBLE value) override;
  STDMETHODIMP get_Frequency(DOUBLE* value) override;
  STDMETHODIMP put_Frequency(DOUBLE value) override;
  STDMETHODIMP get_Hold(PgxPulseHold* value) override;
  STDMETHODIMP put_Hold(PgxPulseHold value) override;
  STDMETHODIMP get_TrailingEdgeDelay(DOUBLE* value) override;
  STDMETHODIMP put_TrailingEdgeDelay(DOUBLE value) override;
  STDMETHODIMP get_Transition(ITransition** value) override;
  STDMETHODIMP get_Type(PgxPulseType* value) override;
  STDMETHODIMP put_Type(PgxPulseType value) override;
  STDMETHODIMP get_Width(DOUBLE* value) override;
  STDMETHODIMP put_Width(DOUBLE value) override;

 private:
  friend class ChildHolder<Pulse>;
  Pulse() noexcept;
  ~Pulse() override;

  ChildHolder<Delay> delay_;
  ChildHolder<DoubleDelay> double_delay_;
  ChildHolder<Transition> transition_;
};

}  // namespace pgx::server
