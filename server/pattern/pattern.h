// Pattern: the pattern mode and the pattern data of the channels and the strobe output.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Pattern final : public PgxObject<Pattern, IPattern, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Pattern";

  // Whether pattern mode is on (":DIG:PATT?" answering "1").
  HRESULT GetState(bool* on) noexcept;
  HRESULT GetState(VARIANT_BOOL* on) noexcept;

  // ---- IPattern ----
  STDMETHODIMP CalcPRBS(LONG start_index, LONG end_index, LONG base, SAFEARRAY** byte_array) override;
  STDMETHODIMP DataSendToInstrument(PgxDataChannel channel, PgxPatternArrayFormat array_format,
                                    SAFEARRAY** array, LONG pattern_length) override;
  STDMETHODIMP DataSendToInstrumentFromFile(PgxDataChannel channel, BSTR file_name) override;
  STDMETHODIMP DataPRBS(PgxDataChannel channel, SHORT polynomial_exponent, LONG pattern_length) override;
  STDMETHODIMP DataPreset(PgxDataChannel channel, LONG pattern_divider, LONG pattern_length) override;
  STDMETHODIMP DataGetFromInstrument(PgxDataChannel channel, PgxPatternArrayFormat array_format,
                                     SAFEARRAY** array, LONG* pattern_length) override;
  STDMETHODIMP DataGetFromInstrumentToFile(PgxDataChannel channel, VARIANT_BOOL convert_to_ascii,
                                           BSTR file_name) override;
  STDMETHODIMP get_State(VARIANT_BOOL* value) override;
  STDMETHODIMP put_State(VARIANT_BOOL value) override;
  STDMETHODIMP get_UpdateMode(PgxPatternUpdate* value) override;
  STDMETHODIMP put_UpdateMode(PgxPatternUpdate value) override;

 private:
  friend class ChildHolder<Pattern>;
  Pattern() noexcept = default;
};

}  // namespace pgx::server
