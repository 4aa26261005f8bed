#include "automation/enum_variant.h"

#include <memory>
#include <new>
#include <vector>

#include "automation/com_error.h"
#include "automation/object.h"

namespace pgx::auto_ {
namespace {

using Items = std::vector<Variant>;

class EnumVariant final : public Object<EnumVariant, IEnumVARIANT> {
 public:
  EnumVariant(std::shared_ptr<const Items> items, std::size_t position) noexcept
      : items_(std::move(items)), position_(position) {}

  STDMETHODIMP Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override {
    if (pCeltFetched) *pCeltFetched = 0;
    if (celt == 0) return S_OK;
    if (!rgVar) return E_POINTER;
    if (celt > 1 && !pCeltFetched) return E_INVALIDARG;
    ULONG fetched = 0;
    while (fetched < celt && position_ + fetched < items_->size()) {
      VariantInit(&rgVar[fetched]);
      HRESULT hr = VariantCopy(&rgVar[fetched], &(*items_)[position_ + fetched]);
      if (FAILED(hr)) {
        // Nothing is handed out when a copy fails: what was copied is taken back.
        for (ULONG i = 0; i < fetched; ++i) VariantClear(&rgVar[i]);
        return hr;
      }
      ++fetched;
    }
    position_ += fetched;
    if (pCeltFetched) *pCeltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
  }

  STDMETHODIMP Skip(ULONG celt) override {
    std::size_t remaining = items_->size() - position_;
    if (celt > remaining) {
      position_ = items_->size();
      return S_FALSE;
    }
    position_ += celt;
    return S_OK;
  }

  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }

  STDMETHODIMP Clone(IEnumVARIANT** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    return EnumVariant::CreateInstance(IID_IEnumVARIANT, reinterpret_cast<void**>(ppEnum), items_, position_);
  }

 private:
  std::shared_ptr<const Items> items_;  // shared with clones, never changed
  std::size_t position_;
};

HRESULT Hand(std::shared_ptr<const Items> items, IEnumVARIANT** out) {
  return EnumVariant::CreateInstance(IID_IEnumVARIANT, reinterpret_cast<void**>(out), std::move(items),
                                     std::size_t{0});
}

template <class Item>
HRESULT CopyAndHand(std::span<const Item> items, IEnumVARIANT** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    auto copy = std::make_shared<Items>();
    copy->reserve(items.size());
    for (const VARIANT& item : items) copy->emplace_back(item);
    return Hand(std::move(copy), out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const com_error& e) {
    return e.Error();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

HRESULT CreateEnumVariant(std::span<const VARIANT> items, IEnumVARIANT** out) noexcept {
  return CopyAndHand(items, out);
}

HRESULT CreateEnumVariant(std::span<const Variant> items, IEnumVARIANT** out) noexcept {
  return CopyAndHand(items, out);
}

HRESULT CreateEnumVariantFromArray(SAFEARRAY* items, IEnumVARIANT** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!items) return E_INVALIDARG;
  if (SafeArrayGetDim(items) != 1) return E_INVALIDARG;
  VARTYPE vt = VT_EMPTY;
  HRESULT hr = SafeArrayGetVartype(items, &vt);
  if (FAILED(hr)) return hr;
  try {
    LONG lower = 0, upper = 0;
    SafeArrayGetLBound(items, 1, &lower);
    SafeArrayGetUBound(items, 1, &upper);
    auto copy = std::make_shared<Items>();
    copy->reserve(SafeArrayElementCount(items));
    for (std::int64_t i = lower; i <= upper; ++i) {
      LONG index = static_cast<LONG>(i);
      Variant element;
      if (vt == VT_VARIANT) {
        hr = SafeArrayGetElement(items, &index, &element);
      } else {
        // The element is read into the matching member of the variant, which then owns it.
        element.vt = VT_EMPTY;
        hr = SafeArrayGetElement(items, &index, &element.llVal);
        if (SUCCEEDED(hr)) element.vt = vt;
      }
      if (FAILED(hr)) return hr;
      copy->push_back(std::move(element));
    }
    return Hand(std::move(copy), out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace pgx::auto_
