#include "server/core/pgx_gen.h"

#include "automation/comptr.h"
#include "server/session/err.h"
#include "server/session/instruments.h"

namespace pgx::server {

PgxGen::PgxGen() noexcept = default;
PgxGen::~PgxGen() = default;

HRESULT PgxGen::CreateInstance(REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  auto_::ComPtr<IPgxGen> root;
  PgxGen* object = new (std::nothrow) PgxGen();
  if (!object) return E_OUTOFMEMORY;
  root = object->GetInterface();
  return root->QueryInterface(riid, ppv);
}

HRESULT PgxGen::EnsureInstruments() noexcept {
  if (instruments_) return S_OK;
  // The collection has no parent: the instruments it makes live without one.
  return instruments_.Create(nullptr);
}

STDMETHODIMP PgxGen::get_Enabled(VARIANT_BOOL* value) {
  CallFrame frame("PgxGen.Enabled");
  if (!value) return ReportError(E_POINTER);
  *value = enabled_ ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP PgxGen::put_Enabled(VARIANT_BOOL value) {
  CallFrame frame("PgxGen.Enabled");
  enabled_ = value != VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP PgxGen::get_Err(IErr** value) {
  CallFrame frame("PgxGen.Err");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  if (HRESULT hr = EnsureInstruments(); FAILED(hr)) return ReportError(hr);
  return instruments_->get_Err(value);
}

STDMETHODIMP PgxGen::get_Instruments(IInstruments** value) {
  CallFrame frame("PgxGen.Instruments");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  if (HRESULT hr = EnsureInstruments(); FAILED(hr)) return ReportError(hr);
  return ReportError(instruments_->QueryInterface(IID_IInstruments, reinterpret_cast<void**>(value)));
}

}  // namespace pgx::server
