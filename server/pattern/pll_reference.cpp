#include "server/pattern/pll_reference.h"

#include "driver/pgxgen.h"

namespace pgx::server {

STDMETHODIMP PllReference::get_Source(DOUBLE* external_frequency, PgxPllRefSource* value) {
  CallFrame frame("PllReference.Source");
  if (!external_frequency || !value) return ReportError(E_POINTER);
  ViInt16 source = 0;
  ViReal64 frequency = 0;
  if (HRESULT hr = CheckStatus(pgxgen_configPllReference_Q(GetSession(), &source, &frequency)); FAILED(hr))
    return hr;
  *external_frequency = frequency;
  *value = static_cast<PgxPllRefSource>(source);
  return S_OK;
}

// The frequency goes to the driver with every source; it sends it for CLK IN only.
STDMETHODIMP PllReference::put_Source(DOUBLE* external_frequency, PgxPllRefSource value) {
  CallFrame frame("PllReference.Source");
  if (!external_frequency) return ReportError(E_POINTER);
  if (value < PgxPllRefSourceStart || value >= PgxPllRefSourceEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(
      pgxgen_configPllReference(GetSession(), static_cast<ViInt16>(value), *external_frequency));
}

}  // namespace pgx::server
