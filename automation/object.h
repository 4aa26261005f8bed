// The object template: reference counting and QueryInterface over a list of interfaces.
//
//   class Widget final : public pgx::auto_::Object<Widget, IWidget, ISupportErrorInfo> { ... };
//   ComPtr<Widget> w = Widget::Make(args...);
//
// QueryInterface answers each listed interface and every interface it derives from (so IDispatch is
// answered by the first listed interface derived from it); IUnknown is always the first listed
// interface's, which gives the object one identity. A class may answer further IIDs with a member
// `void* FindExtraInterface(REFIID)` that returns the interface pointer (without AddRef) or NULL. Objects
// count in the module's object count while they live. IUnknown has no virtual destructor, so the last Release
// deletes through the concrete type: the concrete class must be final or have a virtual destructor.
#pragma once

#include <atomic>
#include <concepts>
#include <new>
#include <type_traits>
#include <utility>

#include "automation/comptr.h"
#include "automation/interfaces.h"
#include "automation/module.h"

namespace pgx::auto_ {

namespace detail {
// Finds riid among Interface and the interfaces it derives from; the result is `self` seen as that
// interface.
template <class Interface, class Self>
void* FindInterface(Self* self, REFIID riid) noexcept {
  Interface* itf = static_cast<Interface*>(self);
  if (riid == uuidof<Interface>()) return itf;
  using Base = typename interface_traits<Interface>::base;
  if constexpr (std::is_void_v<Base>) {
    return nullptr;
  } else {
    return FindInterface<Base>(itf, riid);
  }
}
}  // namespace detail

template <class Derived, class First, class... Rest>
class Object : public First, public Rest... {
 public:
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // Creates an object with one reference held by the result. Throws what the constructor throws.
  template <class... Args>
  static ComPtr<Derived> Make(Args&&... args) {
    return ComPtr<Derived>(new Derived(std::forward<Args>(args)...));
  }
  // Creates an object and returns the interface `riid` (the usual factory shape). E_OUTOFMEMORY when
  // construction fails for lack of memory, E_UNEXPECTED when it throws anything else.
  template <class... Args>
  static HRESULT CreateInstance(REFIID riid, void** ppv, Args&&... args) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    try {
      ComPtr<Derived> object = Make(std::forward<Args>(args)...);
      return object->QueryInterface(riid, ppv);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    void* found = nullptr;
    if (riid == IID_IUnknown) {
      found = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      found = detail::FindInterface<First>(this, riid);
      ((found = found ? found : detail::FindInterface<Rest>(this, riid)), ...);
      // A class may answer further IIDs itself (say, a dispinterface IID that its dual interface serves).
      if constexpr (requires(Derived & d) {
                      { d.FindExtraInterface(riid) } -> std::convertible_to<void*>;
                    }) {
        if (!found) found = static_cast<Derived*>(this)->FindExtraInterface(riid);
      }
    }
    *ppvObject = found;
    if (!found) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  STDMETHODIMP_(ULONG) Release() override {
    static_assert(std::is_final_v<Derived> || std::has_virtual_destructor_v<Derived>,
                  "the concrete class must be final or have a virtual destructor");
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

  // The current reference count (for tests and diagnostics).
  ULONG RefCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

 protected:
  Object() noexcept { Module::ObjectCreated(); }
  ~Object() { Module::ObjectDestroyed(); }

 private:
  std::atomic<ULONG> refs_{0};
};

// A class factory for a class made by Derived::CreateInstance(riid, ppv). Factories live in static
// storage; each reference a client holds counts in the module's lock count, as LockServer does, so the
// module is not unloaded under a factory pointer a client still has.
template <class Created>
class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppvObject = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    Module::Lock();
    return 2;
  }
  STDMETHODIMP_(ULONG) Release() override {
    Module::Unlock();
    return 1;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return Created::CreateInstance(riid, ppvObject);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      Module::Lock();
    } else {
      Module::Unlock();
    }
    return S_OK;
  }
};

}  // namespace pgx::auto_
