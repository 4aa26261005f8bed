// PgxObject: the template every automation class of the server derives from.
//
//   class Restrictions final : public PgxObject<Restrictions, IRestrictions, Level::kInstrument> {
//    public:
//     static constexpr const char* kClassName = "Restrictions";
//     STDMETHODIMP get_BitMask(LONG* value) override;   // only the typed members
//   };
//
// It gives IUnknown (with the life-time rules of PgxBase), IDispatch from the type library through the
// generic dispatcher, ISupportErrorInfo for the class's own interface, and the module's object count.
#pragma once

#include "automation/dispatcher.h"
#include "automation/errorinfo.h"
#include "automation/module.h"
#include "server/core/pgx_base.h"

namespace pgx::server {

template <class Derived, class Interface, Level kLevel>
class PgxObject : public PgxBase, public auto_::IDispatchImpl<Interface>, public ISupportErrorInfo {
 public:
  using InterfaceType = Interface;

  // ---- IUnknown ----
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    void* found = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == auto_::uuidof<Interface>()) {
      found = static_cast<Interface*>(this);
    } else if (riid == IID_ISupportErrorInfo) {
      found = static_cast<ISupportErrorInfo*>(this);
    }
    *ppv = found;
    if (!found) return E_NOINTERFACE;
    InternalAddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InternalAddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return InternalRelease(); }

  // ---- ISupportErrorInfo ----
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == auto_::uuidof<Interface>() ? S_OK : S_FALSE;
  }

  // ---- PgxBase ----
  const char* GetClassName() const noexcept override { return Derived::kClassName; }
  IDispatch* GetDispatch() noexcept override { return static_cast<Interface*>(this); }

  // The object's own interface, without a reference.
  Interface* GetInterface() noexcept { return static_cast<Interface*>(this); }

 protected:
  PgxObject() noexcept : PgxBase(auto_::uuidof<Interface>(), kLevel) { auto_::Module::ObjectCreated(); }
  ~PgxObject() override { auto_::Module::ObjectDestroyed(); }
};

}  // namespace pgx::server
