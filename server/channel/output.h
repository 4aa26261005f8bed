// Output: the output stage of one channel: normal and complement outputs on or off, polarity, source
// impedance, the expected load, whether levels are held in volts or amperes, and the two-value level setting
// in amplitude/offset or high/low form.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Output final : public PgxObject<Output, IOutput, Level::kChannel> {
 public:
  static constexpr const char* kClassName = "Output";

  // ---- IOutput ----
  STDMETHODIMP get_ComplementState(VARIANT_BOOL* value) override;
  STDMETHODIMP put_ComplementState(VARIANT_BOOL value) override;
  STDMETHODIMP get_Hold(PgxOutputType* value) override;
  STDMETHODIMP put_Hold(PgxOutputType value) override;
  STDMETHODIMP get_ImpedanceExternalLoad(DOUBLE* value) override;
  STDMETHODIMP put_ImpedanceExternalLoad(DOUBLE value) override;
  STDMETHODIMP get_ImpedanceInternal(DOUBLE* value) override;
  STDMETHODIMP put_ImpedanceInternal(DOUBLE value) override;
  STDMETHODIMP get_NormalState(VARIANT_BOOL* value) override;
  STDMETHODIMP put_NormalState(VARIANT_BOOL value) override;
  STDMETHODIMP get_Polarity(PgxOutputPolarity* value) override;
  STDMETHODIMP put_Polarity(PgxOutputPolarity value) override;
  STDMETHODIMP GetLevel(PgxOutputLevelFormat ampl_off_or_hi_lo, PgxOutputType* output_type,
                        DOUBLE* offset_or_high, DOUBLE* amplitude_or_low) override;
  STDMETHODIMP SetLevel(PgxOutputLevelFormat ampl_off_or_hi_lo, PgxOutputType output_type,
                        DOUBLE offset_or_high, DOUBLE amplitude_or_low) override;

 private:
  friend class ChildHolder<Output>;
  Output() noexcept = default;
};

}  // namespace pgx::server
