// A loadable module with one creatable class, for tests of the per-module object and lock counts. It is
// built with default symbol visibility on purpose: the counts must stay private to it all the same.
#include "automation/automation.h"

namespace {

// {5F0C3A1E-7B2D-4C8E-9A61-3D2B8E4F1A07}
constexpr CLSID kCountedClass = {
    0x5F0C3A1E, 0x7B2D, 0x4C8E, {0x9A, 0x61, 0x3D, 0x2B, 0x8E, 0x4F, 0x1A, 0x07}};

class Counted final : public pgx::auto_::Object<Counted, ISupportErrorInfo> {
 public:
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID) override { return S_FALSE; }
};

pgx::auto_::ClassFactory<Counted> g_factory;

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != kCountedClass) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow(void) {
  return pgx::auto_::Module::CanUnloadNow();
}

extern "C" HRESULT DllRegisterServer(void) {
  return E_NOTIMPL;
}

extern "C" HRESULT DllUnregisterServer(void) {
  return E_NOTIMPL;
}
