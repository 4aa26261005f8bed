// ComPtr<T>: an owning interface reference (AddRef on copy, Release on destruction).
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "automation/interfaces.h"

namespace pgx::auto_ {

template <class T>
class ComPtr {
 public:
  using InterfaceType = T;

  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference to `p`.
  ComPtr(T* p) noexcept : p_(p) { AddRefIfSet(); }
  ComPtr(const ComPtr& other) noexcept : p_(other.p_) { AddRefIfSet(); }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr(const ComPtr<U>& other) noexcept : p_(other.Get()) {
    AddRefIfSet();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { InternalRelease(); }

  ComPtr& operator=(const ComPtr& other) noexcept {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) noexcept {
    ComPtr(p).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }

  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // The address of the held pointer, for out-parameters; the current reference is released first.
  T** ReleaseAndGetAddressOf() noexcept {
    InternalRelease();
    return &p_;
  }
  // Same, as void** for QueryInterface-style out-parameters.
  void** ReleaseAndGetAddressOfVoid() noexcept { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }
  // The address of the held pointer without releasing it (for reading or when known empty).
  T* const* GetAddressOf() const noexcept { return &p_; }

  // Takes over a reference the caller owns (no AddRef).
  void Attach(T* p) noexcept {
    InternalRelease();
    p_ = p;
  }
  // Gives the reference to the caller (no Release).
  T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Reset() noexcept { InternalRelease(); }
  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  // A new reference for an out-parameter.
  HRESULT CopyTo(T** out) const noexcept {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }
  // QueryInterface for another interface, by type.
  template <class U>
  HRESULT As(ComPtr<U>* out) const noexcept {
    if (!out) return E_POINTER;
    if (!p_) {
      out->Reset();
      return E_POINTER;
    }
    return p_->QueryInterface(uuidof<U>(), out->ReleaseAndGetAddressOfVoid());
  }
  HRESULT AsIID(REFIID riid, void** out) const noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return p_ ? p_->QueryInterface(riid, out) : E_POINTER;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  void AddRefIfSet() noexcept {
    if (p_) p_->AddRef();
  }
  void InternalRelease() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }

  T* p_ = nullptr;
};

// Wraps a pointer that already carries a reference for the caller.
template <class T>
ComPtr<T> AttachComPtr(T* p) noexcept {
  ComPtr<T> result;
  result.Attach(p);
  return result;
}

}  // namespace pgx::auto_
