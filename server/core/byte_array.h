// Checks of the byte arrays (safe arrays of one dimension) that clients pass for pattern data and
// attribute blocks.
#pragma once

#include "automation/safearray.h"

namespace pgx::server {

// No array: E_POINTER; more or fewer than one dimension: kErrSingleDimensionOnly; elements that are not
// bytes: E_INVALIDARG; fewer than one element (an upper bound below the lower one):
// kErrArrayTooSmall. Otherwise S_OK and, when `count` is given, the number of elements.
HRESULT ValidateByteArray(SAFEARRAY* array, LONG* count = nullptr) noexcept;

// The bytes of a checked array, accessible while the object lives.
class ByteArrayData {
 public:
  // Validates `array` and gives access to its data; status() tells whether it worked.
  explicit ByteArrayData(SAFEARRAY* array) noexcept;
  ~ByteArrayData();
  ByteArrayData(const ByteArrayData&) = delete;
  ByteArrayData& operator=(const ByteArrayData&) = delete;

  HRESULT status() const noexcept { return status_; }
  BYTE* data() const noexcept { return data_; }
  LONG count() const noexcept { return count_; }

 private:
  SAFEARRAY* array_ = nullptr;
  BYTE* data_ = nullptr;
  LONG count_ = 0;
  HRESULT status_;
};

}  // namespace pgx::server
