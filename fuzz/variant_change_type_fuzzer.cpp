// Fuzz target: VariantChangeType, the coercion every late-bound argument goes through.
//
// Input: [source type] [destination type] [flags] [how] then the value's bytes; `how` says whether text is
// widened bytes or UTF-16 and whether the source is a reference (to the value, or to a variant holding it).
// The source is a number of any width, text (the bytes widened to UTF-16, or taken in pairs as UTF-16 code
// units), an object whose default member answers another such value or fails, an array, a reference to any of
// these, or a variant type the runtime does not know (with an empty value).
//
// Beyond the sanitizers and the leak check:
//  - success gives the type asked for; failure leaves the destination as it was;
//  - converting in place (the same variant as source and destination) gives what converting aside gives;
//  - an integer or a boolean written as text reads back as the same value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "automation/bstr.h"
#include "automation/comptr.h"
#include "automation/testing/fake_dispatch.h"
#include "automation/variant.h"

namespace {

using pgx::auto_::ComPtr;
using pgx::auto_::testing::FakeDispatch;

// Reads the input from the front; past its end every read gives zeros.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  void copy(void* out, std::size_t n) {
    std::memset(out, 0, n);
    const std::size_t take = std::min(n, size_ - at_);
    std::memcpy(out, data_ + at_, take);
    at_ += take;
  }
  std::size_t left() const { return size_ - at_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

const VARTYPE kTypes[] = {VT_EMPTY,   VT_NULL, VT_I1,  VT_I2, VT_I4,   VT_UI1,    VT_UI2,   VT_UI4,
                          VT_INT,     VT_UINT, VT_R4,  VT_R8, VT_BOOL, VT_BSTR,   VT_ERROR, VT_DISPATCH,
                          VT_UNKNOWN, VT_I8,   VT_UI8, VT_CY, VT_DATE, VT_VARIANT};

// Storage that a BYREF source points into; it outlives the conversion.
struct Referenced {
  VARIANT value;
  Referenced() { VariantInit(&value); }
  ~Referenced() { VariantClear(&value); }
};

// Fills `v` with a value of `vt` (a scalar or text type, an object or an array) read from `in`.
void MakeValue(VARIANT* v, VARTYPE vt, Bytes& in, bool widen_text, int depth) {
  VariantInit(v);
  switch (vt) {
    case VT_BSTR: {
      const std::size_t length = std::min<std::size_t>(in.byte(), in.left());
      std::u16string text;
      if (widen_text) {
        for (std::size_t i = 0; i < length; ++i) text += static_cast<char16_t>(in.byte());
      } else {
        for (std::size_t i = 0; i + 1 < length; i += 2) {
          const std::uint8_t lo = in.byte(), hi = in.byte();
          text += static_cast<char16_t>(lo | hi << 8);
        }
      }
      v->vt = VT_BSTR;
      v->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      return;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      const std::uint8_t how = in.byte();
      if (how & 1) {  // a NULL object
        v->vt = vt;
        return;
      }
      FakeDispatch* object = nullptr;
      if (FAILED(FakeDispatch::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(&object))))
        std::abort();
      if (how & 2) object->result = DISP_E_MEMBERNOTFOUND;
      // The default member answers another value, at most three objects deep.
      const VARTYPE answer = depth < 3 ? kTypes[in.byte() % std::size(kTypes)] : VT_I4;
      if (answer != VT_VARIANT) MakeValue(&object->value, answer, in, widen_text, depth + 1);
      v->vt = vt;
      v->pdispVal = object;  // IUnknown* and IDispatch* are the same pointer for this object
      return;
    }
    case VT_VARIANT: {  // an array: of bytes, or of variants holding small integers
      const bool of_bytes = in.byte() & 1;
      const ULONG count = in.byte() % 5;
      SAFEARRAY* array = SafeArrayCreateVector(of_bytes ? VT_UI1 : VT_VARIANT, 0, count);
      if (!array) std::abort();
      for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
        if (of_bytes) {
          std::uint8_t b = in.byte();
          SafeArrayPutElement(array, &i, &b);
        } else {
          VARIANT item;
          VariantInit(&item);
          item.vt = VT_I4;
          item.lVal = in.byte();
          SafeArrayPutElement(array, &i, &item);
        }
      }
      v->vt = VT_ARRAY | (of_bytes ? VT_UI1 : VT_VARIANT);
      v->parray = array;
      return;
    }
    default:
      v->vt = vt;
      // Every scalar lives in the first eight bytes of the union.
      in.copy(&v->llVal, 8);
      return;
  }
}

// The value bytes of a scalar type: a variant holds nothing meaningful beyond them.
std::size_t ValueWidth(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    default:
      return 8;
  }
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_BSTR:
      return SysStringLen(a.bstrVal) == SysStringLen(b.bstrVal) &&
             std::memcmp(a.bstrVal ? a.bstrVal : u"", b.bstrVal ? b.bstrVal : u"",
                         SysStringLen(a.bstrVal) * sizeof(OLECHAR)) == 0;
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_BOOL:  // any value but 0 is true
      return (a.boolVal != 0) == (b.boolVal != 0);
    default:
      if (a.vt & (VT_ARRAY | VT_BYREF)) return true;
      return std::memcmp(&a.llVal, &b.llVal, ValueWidth(a.vt)) == 0;
  }
}

[[noreturn]] void fail(const char* what, VARTYPE from, VARTYPE to, USHORT flags, HRESULT hr) {
  std::fprintf(stderr, "variant_change_type_fuzzer: %s (from %#x to %#x, flags %#x, HRESULT %#x)\n", what,
               from, to, flags, static_cast<unsigned>(hr));
  std::abort();
}

bool IsIntegerType(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  const std::uint8_t source_type = in.byte(), destination_type = in.byte();
  const USHORT flags = in.byte() & 0x1F;
  const std::uint8_t how = in.byte();
  const bool widen_text = how & 1, by_reference = how & 2;

  // The destination type: one of the known ones, or any 16-bit value.
  VARTYPE to = kTypes[destination_type % std::size(kTypes)];
  if (destination_type >= 0xF0) {
    in.copy(&to, sizeof to);
  } else if (to == VT_VARIANT) {
    to = static_cast<VARTYPE>(VT_ARRAY | VT_UI1);
  }

  Referenced referenced;
  VARIANT source;
  VariantInit(&source);
  VARTYPE from = kTypes[source_type % std::size(kTypes)];
  if (source_type >= 0xF0) {
    // A type the caller made up: only the type, no value the runtime could follow. A reference without
    // its pointer is no variant a caller can make.
    in.copy(&from, sizeof from);
    if (pgx::auto_::IsValidVariantType(from) && (from & VT_BYREF)) return 0;
    source.vt = from;
  } else if (by_reference && from != VT_EMPTY && from != VT_NULL) {
    MakeValue(&referenced.value, from, in, widen_text, 0);
    if (how & 4) {
      source.vt = VT_BYREF | VT_VARIANT;
      source.pvarVal = &referenced.value;
    } else {
      source.vt = VT_BYREF | referenced.value.vt;
      source.byref = &referenced.value.llVal;
    }
  } else {
    MakeValue(&source, from, in, widen_text, 0);
  }
  from = source.vt;

  // Aside, into a destination that holds a value of its own.
  VARIANT aside;
  VariantInit(&aside);
  aside.vt = VT_I4;
  aside.lVal = 0x5A5A5A5A;
  const HRESULT hr = VariantChangeType(&aside, &source, flags, to);
  if (SUCCEEDED(hr) && aside.vt != to) fail("success with another type", from, to, flags, hr);
  if (FAILED(hr) && (aside.vt != VT_I4 || aside.lVal != 0x5A5A5A5A))
    fail("a failure changed the destination", from, to, flags, hr);

  // In place, on a copy of the source.
  VARIANT in_place;
  VariantInit(&in_place);
  if (SUCCEEDED(VariantCopy(&in_place, &source))) {
    const HRESULT hr_in_place = VariantChangeType(&in_place, &in_place, flags, to);
    if (hr_in_place != hr) fail("in place and aside end differently", from, to, flags, hr_in_place);
    // An object answers each time; only values are compared.
    if (SUCCEEDED(hr) && !SameValue(aside, in_place))
      fail("in place and aside give other values", from, to, flags, hr);
  }
  VariantClear(&in_place);

  // Integers and booleans written as text read back exactly.
  const VARTYPE base = from & ~VT_BYREF;
  if (SUCCEEDED(hr) && to == VT_BSTR && IsIntegerType(base) && (from & VT_BYREF) == 0) {
    VARIANT back;
    VariantInit(&back);
    const HRESULT hr_back = VariantChangeType(&back, &aside, 0, base);
    if (FAILED(hr_back)) fail("an integer's text does not read back", from, to, flags, hr_back);
    if (!SameValue(back, source))
      fail("an integer's text reads back as another value", from, to, flags, hr_back);
    VariantClear(&back);
  }

  VariantClear(&aside);
  VariantClear(&source);
  return 0;
}
