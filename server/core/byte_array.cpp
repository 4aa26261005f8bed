#include "server/core/byte_array.h"

#include "server/core/messages.h"

namespace pgx::server {

HRESULT ValidateByteArray(SAFEARRAY* array, LONG* count) noexcept {
  if (!array) return E_POINTER;
  if (SafeArrayGetDim(array) != 1) return kErrSingleDimensionOnly;
  if (SafeArrayGetElemsize(array) != 1) return E_INVALIDARG;
  LONG lower = 0, upper = 0;
  if (HRESULT hr = SafeArrayGetLBound(array, 1, &lower); FAILED(hr)) return hr;
  if (HRESULT hr = SafeArrayGetUBound(array, 1, &upper); FAILED(hr)) return hr;
  long long elements = static_cast<long long>(upper) - lower + 1;
  if (elements < 1) return kErrArrayTooSmall;
  if (count) *count = static_cast<LONG>(elements);
  return S_OK;
}

ByteArrayData::ByteArrayData(SAFEARRAY* array) noexcept : status_(ValidateByteArray(array, &count_)) {
  if (FAILED(status_)) return;
  void* data = nullptr;
  status_ = SafeArrayAccessData(array, &data);
  if (SUCCEEDED(status_)) {
    array_ = array;
    data_ = static_cast<BYTE*>(data);
  }
}

ByteArrayData::~ByteArrayData() {
  if (array_) SafeArrayUnaccessData(array_);
}

}  // namespace pgx::server
