// A loadable module whose objects go on running in the module for a while after the module's object count
// has dropped to zero: the last part of an object to be destroyed (its interface base, destroyed after
// the object template has counted the object out) waits a little. Any server's last Release runs through
// its module after the count drops; this one makes that stretch long, so a test can see whether a module
// is ever unloaded under a releasing thread.
#include <chrono>
#include <thread>

#include "automation/automation.h"

namespace {

// {9B3E2C71-4A5D-4F08-8E2B-6C1D7A9F3E55}
constexpr CLSID kLingeringClass = {
    0x9B3E2C71, 0x4A5D, 0x4F08, {0x8E, 0x2B, 0x6C, 0x1D, 0x7A, 0x9F, 0x3E, 0x55}};

class LingeringSupportErrorInfo : public ISupportErrorInfo {
 public:
  ~LingeringSupportErrorInfo() { std::this_thread::sleep_for(std::chrono::microseconds(200)); }
};

}  // namespace

template <>
struct pgx::auto_::interface_traits<LingeringSupportErrorInfo> {
  using base = IUnknown;
  static constexpr const IID& id() { return IID_ISupportErrorInfo; }
};

namespace {

class Lingering final : public pgx::auto_::Object<Lingering, LingeringSupportErrorInfo> {
 public:
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID) override { return S_FALSE; }
};

pgx::auto_::ClassFactory<Lingering> g_factory;

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != kLingeringClass) return CLASS_E_CLASSNOTAVAILABLE;
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
