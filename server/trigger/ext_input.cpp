#include "server/trigger/ext_input.h"

#include "driver/pgxgen.h"

namespace pgx::server {

STDMETHODIMP ExtInput::get_Impedance(DOUBLE* value) {
  CallFrame frame("ExtInput.Impedance");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdReal64_Q(GetSession(), ":ARM:IMP?", value));
}

STDMETHODIMP ExtInput::put_Impedance(DOUBLE value) {
  CallFrame frame("ExtInput.Impedance");
  return CheckStatus(pgxgen_cmdReal(GetSession(), ":ARM:IMP", value));
}

STDMETHODIMP ExtInput::get_ThresholdLevel(DOUBLE* value) {
  CallFrame frame("ExtInput.ThresholdLevel");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdReal64_Q(GetSession(), ":ARM:LEV?", value));
}

STDMETHODIMP ExtInput::put_ThresholdLevel(DOUBLE value) {
  CallFrame frame("ExtInput.ThresholdLevel");
  return CheckStatus(pgxgen_cmdReal(GetSession(), ":ARM:LEV", value));
}

}  // namespace pgx::server
