// SAFEARRAY: self-describing arrays of one or more dimensions with per-dimension bounds and a lock count.
//
// The bounds are given to SafeArrayCreate first dimension first and stored in `rgsabound` last
// dimension first, as on the platform. Elements are laid out with the first index varying fastest.
#pragma once

#include <utility>

#include "automation/hresult.h"
#include "automation/types.h"
#include "automation/variant.h"

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};
using LPSAFEARRAYBOUND = SAFEARRAYBOUND*;

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];  // cDims entries
};
using LPSAFEARRAY = SAFEARRAY*;

constexpr USHORT FADF_AUTO = 0x0001;
constexpr USHORT FADF_STATIC = 0x0002;
constexpr USHORT FADF_EMBEDDED = 0x0004;
constexpr USHORT FADF_FIXEDSIZE = 0x0010;
constexpr USHORT FADF_RECORD = 0x0020;
constexpr USHORT FADF_HAVEIID = 0x0040;
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

// Element types: VT_UI1, VT_I1, VT_BOOL, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT, VT_R4, VT_R8,
// VT_ERROR, VT_BSTR, VT_VARIANT, VT_DISPATCH, VT_UNKNOWN. Elements start zeroed (empty strings, VT_EMPTY
// variants, NULL interfaces). NULL for another type, no dimensions, a size that cannot be represented, or
// short memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// Frees the elements (strings, variants, interface references) and the array. NULL is S_OK; a locked
// array gives DISP_E_ARRAYISLOCKED and stays as it is.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
// Frees or releases the elements and zeroes them, keeping the array (DISP_E_ARRAYISLOCKED when locked).
HRESULT SafeArrayDestroyData(SAFEARRAY* psa);

UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt);
// nDim counts from 1 (the first dimension); DISP_E_BADINDEX outside 1..cDims.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);

// Lock counting: Lock / AccessData increase it, Unlock / UnaccessData decrease it. Unlocking an array that
// is not locked gives E_UNEXPECTED.
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// Address of one element (rgIndices first dimension first); DISP_E_BADINDEX outside the bounds.
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData);

// Element access, rgIndices first dimension first (DISP_E_BADINDEX outside the bounds).
// Get: BSTR elements are copied into a new BSTR (*(BSTR*)pv), VARIANT elements into *(VARIANT*)pv (which
// is treated as holding nothing), interfaces are AddRef'd into *(IUnknown**)pv.
// Put: pv is the value itself for BSTR (a BSTR), interfaces (an IUnknown*) and for scalars a pointer to
// it; for VARIANT a VARIANT*. The old element is freed after the new one is stored.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);

// Deep copy (new strings, copied variants, AddRef'd interfaces). A NULL source gives *ppsaOut = NULL.
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
// Copies the elements of `source` into `target` of the same shape and element type.
HRESULT SafeArrayCopyData(SAFEARRAY* source, SAFEARRAY* target);
// Changes the bounds of the last dimension (the one varying slowest). Dropped elements are freed, new
// ones zeroed. DISP_E_ARRAYISLOCKED when locked.
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew);

namespace pgx::auto_ {

// Number of elements over all dimensions.
ULONG SafeArrayElementCount(const SAFEARRAY* psa) noexcept;

// An owned SAFEARRAY. Copying deep-copies; failures throw com_error (std::bad_alloc for memory).
class SafeArray {
 public:
  SafeArray() noexcept = default;
  SafeArray(VARTYPE vt, LONG lower_bound, ULONG count);
  SafeArray(const SafeArray& other);
  SafeArray(SafeArray&& other) noexcept : psa_(std::exchange(other.psa_, nullptr)) {}
  SafeArray& operator=(const SafeArray& other);
  SafeArray& operator=(SafeArray&& other) noexcept;
  ~SafeArray() { SafeArrayDestroy(psa_); }

  static SafeArray Attach(SAFEARRAY* psa) noexcept {
    SafeArray a;
    a.psa_ = psa;
    return a;
  }
  SAFEARRAY* get() const noexcept { return psa_; }
  SAFEARRAY* Detach() noexcept { return std::exchange(psa_, nullptr); }
  SAFEARRAY** Out() noexcept;
  void Reset() noexcept;

  UINT Dims() const noexcept { return psa_ ? psa_->cDims : 0; }
  LONG LowerBound(UINT dim = 1) const;
  LONG UpperBound(UINT dim = 1) const;
  ULONG Count() const noexcept { return SafeArrayElementCount(psa_); }

 private:
  SAFEARRAY* psa_ = nullptr;
};

// Holds the data of an array accessed (locked) for the lifetime of the guard.
template <class T>
class SafeArrayData {
 public:
  explicit SafeArrayData(SAFEARRAY* psa) noexcept {
    void* data = nullptr;
    hr_ = SafeArrayAccessData(psa, &data);
    if (SUCCEEDED(hr_)) {
      psa_ = psa;
      data_ = static_cast<T*>(data);
    }
  }
  SafeArrayData(const SafeArrayData&) = delete;
  SafeArrayData& operator=(const SafeArrayData&) = delete;
  ~SafeArrayData() {
    if (psa_) SafeArrayUnaccessData(psa_);
  }
  HRESULT status() const noexcept { return hr_; }
  T* data() const noexcept { return data_; }
  T& operator[](std::size_t i) const noexcept { return data_[i]; }

 private:
  SAFEARRAY* psa_ = nullptr;
  T* data_ = nullptr;
  HRESULT hr_ = E_UNEXPECTED;
};

}  // namespace pgx::auto_
