#include "automation/safearray.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "automation/com_error.h"
#include "automation/interfaces.h"
#include "automation/vartype_info.h"

namespace {

// Every array is allocated with a prefix in front of the descriptor that records its element type.
constexpr std::size_t kPrefixBytes = 16;
// Data blocks stay below 2^31 bytes so that element counts and offsets fit the 32-bit API types.
constexpr std::uint64_t kMaxDataBytes = 0x7FFFFFFFu;
constexpr ULONG kMaxLocks = 0xFFFF;

ULONG ElementSize(VARTYPE vt) {
  using namespace pgx::auto_::detail;
  return IsArrayElementType(vt) ? static_cast<ULONG>(ValueBytes(vt)) : 0;
}

USHORT FeaturesFor(VARTYPE vt) {
  USHORT features = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) features |= FADF_BSTR;
  if (vt == VT_VARIANT) features |= FADF_VARIANT;
  if (vt == VT_DISPATCH) features |= FADF_DISPATCH;
  if (vt == VT_UNKNOWN) features |= FADF_UNKNOWN;
  return features;
}

char* Block(SAFEARRAY* psa) {
  return reinterpret_cast<char*>(psa) - kPrefixBytes;
}

VARTYPE StoredType(const SAFEARRAY* psa) {
  VARTYPE vt;
  std::memcpy(&vt, reinterpret_cast<const char*>(psa) - kPrefixBytes, sizeof vt);
  return vt;
}

// The bounds of dimension `dim` (0 = the first dimension); they are stored last dimension first.
SAFEARRAYBOUND& Bound(SAFEARRAY* psa, UINT dim) {
  return psa->rgsabound[psa->cDims - 1 - dim];
}
const SAFEARRAYBOUND& Bound(const SAFEARRAY* psa, UINT dim) {
  return psa->rgsabound[psa->cDims - 1 - dim];
}

// Whether the upper bound (lower bound + count - 1) is a LONG, as SafeArrayGetUBound reports it.
bool BoundsRepresentable(const SAFEARRAYBOUND& b) {
  std::int64_t upper = static_cast<std::int64_t>(b.lLbound) + static_cast<std::int64_t>(b.cElements) - 1;
  return upper >= INT32_MIN && upper <= INT32_MAX;
}

// Element count of a set of bounds, or false when the data would be too large.
bool CountElements(const SAFEARRAYBOUND* bounds, UINT dims, ULONG element_size, std::uint64_t* count) {
  std::uint64_t total = 1;
  for (UINT i = 0; i < dims; ++i) {
    total *= bounds[i].cElements;
    if (total * element_size > kMaxDataBytes) return false;
  }
  *count = total;
  return true;
}

std::uint64_t TotalElements(const SAFEARRAY* psa) {
  std::uint64_t total = 1;
  for (UINT i = 0; i < psa->cDims; ++i) total *= psa->rgsabound[i].cElements;
  return total;
}

char* ElementAt(SAFEARRAY* psa, std::uint64_t index) {
  return static_cast<char*>(psa->pvData) + index * psa->cbElements;
}

bool OwnsContents(VARTYPE vt) {
  return vt == VT_BSTR || vt == VT_VARIANT || vt == VT_DISPATCH || vt == VT_UNKNOWN;
}

// Frees what elements [first, first + count) own and zeroes them.
void ClearElements(SAFEARRAY* psa, std::uint64_t first, std::uint64_t count) {
  VARTYPE vt = StoredType(psa);
  for (std::uint64_t i = first; OwnsContents(vt) && i < first + count; ++i) {
    char* element = ElementAt(psa, i);
    if (vt == VT_BSTR) {
      SysFreeString(*reinterpret_cast<BSTR*>(element));
    } else if (vt == VT_VARIANT) {
      VariantClear(reinterpret_cast<VARIANT*>(element));
    } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
      if (IUnknown* unknown = *reinterpret_cast<IUnknown**>(element)) unknown->Release();
    }
  }
  std::memset(ElementAt(psa, first), 0, count * psa->cbElements);
}

// Copies one element value into zeroed storage.
HRESULT CopyElement(VARTYPE vt, ULONG size, const char* from, char* to) {
  if (vt == VT_BSTR) {
    BSTR source = *reinterpret_cast<const BSTR*>(from);
    BSTR copy = nullptr;
    if (source) {
      copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
      if (!copy) return E_OUTOFMEMORY;
    }
    *reinterpret_cast<BSTR*>(to) = copy;
    return S_OK;
  }
  if (vt == VT_VARIANT) {
    auto* target = reinterpret_cast<VARIANT*>(to);
    VariantInit(target);
    return VariantCopy(target, reinterpret_cast<const VARIANT*>(from));
  }
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    IUnknown* unknown = *reinterpret_cast<IUnknown* const*>(from);
    if (unknown) unknown->AddRef();
    *reinterpret_cast<IUnknown**>(to) = unknown;
    return S_OK;
  }
  std::memcpy(to, from, size);
  return S_OK;
}

// Offset of the element at rgIndices (first dimension first, varying fastest).
HRESULT CellOf(const SAFEARRAY* psa, const LONG* rgIndices, std::uint64_t* cell) {
  std::uint64_t offset = 0;
  std::uint64_t stride = 1;
  for (UINT d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND& b = Bound(psa, d);
    std::int64_t relative = static_cast<std::int64_t>(rgIndices[d]) - b.lLbound;
    if (relative < 0 || relative >= static_cast<std::int64_t>(b.cElements)) return DISP_E_BADINDEX;
    offset += static_cast<std::uint64_t>(relative) * stride;
    stride *= b.cElements;
  }
  *cell = offset;
  return S_OK;
}

// Keeps an array locked for the duration of an element access.
class ScopedLock {
 public:
  explicit ScopedLock(SAFEARRAY* psa) : psa_(psa), hr_(SafeArrayLock(psa)) {}
  ~ScopedLock() {
    if (SUCCEEDED(hr_)) SafeArrayUnlock(psa_);
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  HRESULT status() const { return hr_; }

 private:
  SAFEARRAY* psa_;
  HRESULT hr_;
};

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  ULONG size = ElementSize(vt);
  if (size == 0 || cDims == 0 || cDims > 0xFFFF || !rgsabound) return nullptr;
  std::uint64_t count = 0;
  if (!CountElements(rgsabound, cDims, size, &count)) return nullptr;
  for (UINT i = 0; i < cDims; ++i) {
    if (!BoundsRepresentable(rgsabound[i])) return nullptr;
  }
  std::size_t descriptor = offsetof(SAFEARRAY, rgsabound) + cDims * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<char*>(std::calloc(1, kPrefixBytes + descriptor));
  if (!block) return nullptr;
  void* data = std::calloc(count ? count : 1, size);
  if (!data) {
    std::free(block);
    return nullptr;
  }
  std::memcpy(block, &vt, sizeof vt);
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kPrefixBytes);
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = FeaturesFor(vt);
  psa->cbElements = size;
  psa->cLocks = 0;
  psa->pvData = data;
  for (UINT i = 0; i < cDims; ++i) Bound(psa, i) = rgsabound[i];
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound = {cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  ClearElements(psa, 0, TotalElements(psa));
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  HRESULT hr = SafeArrayDestroyData(psa);
  if (FAILED(hr)) return hr;
  std::free(psa->pvData);
  std::free(Block(psa));
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa ? psa->cbElements : 0;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt) {
  if (!psa || !vt) return E_INVALIDARG;
  *vt = StoredType(psa);
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = Bound(psa, nDim - 1).lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = Bound(psa, nDim - 1);
  *plUbound = static_cast<LONG>(static_cast<std::int64_t>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks >= kMaxLocks) return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  return SafeArrayUnlock(psa);
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
  if (!psa || !rgIndices || !ppvData) return E_INVALIDARG;
  std::uint64_t cell = 0;
  HRESULT hr = CellOf(psa, rgIndices, &cell);
  if (FAILED(hr)) return hr;
  *ppvData = ElementAt(psa, cell);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  std::uint64_t cell = 0;
  HRESULT hr = CellOf(psa, rgIndices, &cell);
  if (FAILED(hr)) return hr;
  ScopedLock lock(psa);
  if (FAILED(lock.status())) return lock.status();
  VARTYPE vt = StoredType(psa);
  char* out = static_cast<char*>(pv);
  if (vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN) std::memset(out, 0, psa->cbElements);
  return CopyElement(vt, psa->cbElements, ElementAt(psa, cell), out);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices) return E_INVALIDARG;
  VARTYPE vt = StoredType(psa);
  bool by_value = vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN;
  if (!pv && !by_value) return E_INVALIDARG;
  std::uint64_t cell = 0;
  HRESULT hr = CellOf(psa, rgIndices, &cell);
  if (FAILED(hr)) return hr;
  ScopedLock lock(psa);
  if (FAILED(lock.status())) return lock.status();

  // The new value is made first; the old one is freed only once the new one exists.
  alignas(VARIANT) char fresh[sizeof(VARIANT)] = {};
  const char* source = static_cast<const char*>(pv);
  if (by_value) source = reinterpret_cast<const char*>(&pv);  // the element is the pointer itself
  hr = CopyElement(vt, psa->cbElements, source, fresh);
  if (FAILED(hr)) return hr;
  ClearElements(psa, cell, 1);
  std::memcpy(ElementAt(psa, cell), fresh, psa->cbElements);
  return S_OK;
}

HRESULT SafeArrayCopyData(SAFEARRAY* source, SAFEARRAY* target) {
  if (!source || !target) return E_INVALIDARG;
  if (source == target) return S_OK;
  if (source->cDims != target->cDims || source->cbElements != target->cbElements ||
      StoredType(source) != StoredType(target)) {
    return E_INVALIDARG;
  }
  for (UINT d = 0; d < source->cDims; ++d) {
    if (source->rgsabound[d].cElements != target->rgsabound[d].cElements) return E_INVALIDARG;
  }
  if (target->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  VARTYPE vt = StoredType(source);
  std::uint64_t count = TotalElements(source);
  if (!OwnsContents(vt)) {
    std::memcpy(target->pvData, source->pvData, count * source->cbElements);
    return S_OK;
  }
  ClearElements(target, 0, count);
  for (std::uint64_t i = 0; i < count; ++i) {
    HRESULT hr = CopyElement(vt, source->cbElements, ElementAt(source, i), ElementAt(target, i));
    if (FAILED(hr)) {
      ClearElements(target, 0, count);
      return hr;
    }
  }
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  // The bounds in dimension order, as SafeArrayCreate takes them; on the stack for the usual few dimensions.
  SAFEARRAYBOUND few[8];
  std::vector<SAFEARRAYBOUND> many;
  SAFEARRAYBOUND* bounds = few;
  if (psa->cDims > std::size(few)) {
    try {
      many.resize(psa->cDims);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    bounds = many.data();
  }
  for (UINT d = 0; d < psa->cDims; ++d) bounds[d] = Bound(psa, d);
  SAFEARRAY* copy = SafeArrayCreate(StoredType(psa), psa->cDims, bounds);
  if (!copy) return E_OUTOFMEMORY;
  HRESULT hr = SafeArrayCopyData(psa, copy);
  if (FAILED(hr)) {
    SafeArrayDestroy(copy);
    return hr;
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
  if (!psa || !psaboundNew) return E_INVALIDARG;
  if (psa->cLocks > 0 || (psa->fFeatures & FADF_FIXEDSIZE)) return DISP_E_ARRAYISLOCKED;
  if (!BoundsRepresentable(*psaboundNew)) return E_INVALIDARG;
  SAFEARRAYBOUND& last = psa->rgsabound[0];  // the last dimension, whose elements are contiguous blocks
  std::uint64_t slice = 1;                   // elements per index of the last dimension
  for (UINT i = 1; i < psa->cDims; ++i) slice *= psa->rgsabound[i].cElements;
  std::uint64_t old_count = slice * last.cElements;
  std::uint64_t new_count = slice * psaboundNew->cElements;
  if (new_count * psa->cbElements > kMaxDataBytes) return E_OUTOFMEMORY;
  void* data = std::calloc(new_count ? new_count : 1, psa->cbElements);
  if (!data) return E_OUTOFMEMORY;
  std::uint64_t kept = old_count < new_count ? old_count : new_count;
  std::memcpy(data, psa->pvData, kept * psa->cbElements);
  if (old_count > kept) ClearElements(psa, kept, old_count - kept);
  std::free(psa->pvData);
  psa->pvData = data;
  last = *psaboundNew;
  return S_OK;
}

namespace pgx::auto_ {

ULONG SafeArrayElementCount(const SAFEARRAY* psa) noexcept {
  return psa ? static_cast<ULONG>(TotalElements(psa)) : 0;
}

namespace {
void ThrowOnFailure(HRESULT hr) {
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(hr)) throw com_error(hr);
}
}  // namespace

SafeArray::SafeArray(VARTYPE vt, LONG lower_bound, ULONG count)
    : psa_(SafeArrayCreateVector(vt, lower_bound, count)) {
  if (!psa_) throw com_error(ElementSize(vt) ? E_OUTOFMEMORY : DISP_E_BADVARTYPE);
}

SafeArray::SafeArray(const SafeArray& other) {
  ThrowOnFailure(SafeArrayCopy(other.psa_, &psa_));
}

SafeArray& SafeArray::operator=(const SafeArray& other) {
  if (this != &other) {
    SAFEARRAY* copy = nullptr;
    ThrowOnFailure(SafeArrayCopy(other.psa_, &copy));
    Reset();
    psa_ = copy;
  }
  return *this;
}

SafeArray& SafeArray::operator=(SafeArray&& other) noexcept {
  if (this != &other) {
    Reset();
    psa_ = std::exchange(other.psa_, nullptr);
  }
  return *this;
}

SAFEARRAY** SafeArray::Out() noexcept {
  Reset();
  return &psa_;
}

void SafeArray::Reset() noexcept {
  SafeArrayDestroy(std::exchange(psa_, nullptr));
}

LONG SafeArray::LowerBound(UINT dim) const {
  LONG value = 0;
  ThrowOnFailure(SafeArrayGetLBound(psa_, dim, &value));
  return value;
}

LONG SafeArray::UpperBound(UINT dim) const {
  LONG value = 0;
  ThrowOnFailure(SafeArrayGetUBound(psa_, dim, &value));
  return value;
}

}  // namespace pgx::auto_
