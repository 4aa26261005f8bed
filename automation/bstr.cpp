#include "automation/bstr.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "automation/com_error.h"

namespace {

// Byte counts are kept below 2^31 so that every length fits the INT/UINT arithmetic of callers.
constexpr UINT kMaxByteLength = 0x7FFFFFF0u;
constexpr std::size_t kPrefixBytes = sizeof(DWORD);

DWORD* Prefix(BSTR bstr) {
  return reinterpret_cast<DWORD*>(reinterpret_cast<char*>(bstr) - kPrefixBytes);
}

// Allocates a string of `byte_length` bytes plus a NUL character; copies `bytes` when given, otherwise the
// contents are zero. NULL when the length is too large or memory is short.
BSTR AllocateBytes(const void* bytes, UINT byte_length) {
  if (byte_length > kMaxByteLength) return nullptr;
  auto* block = static_cast<char*>(std::malloc(kPrefixBytes + byte_length + sizeof(OLECHAR)));
  if (!block) return nullptr;
  DWORD count = byte_length;
  std::memcpy(block, &count, sizeof count);
  char* data = block + kPrefixBytes;
  if (bytes) {
    std::memcpy(data, bytes, byte_length);
  } else {
    std::memset(data, 0, byte_length);
  }
  std::memset(data + byte_length, 0, sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(data);
}

std::size_t TextLength(const OLECHAR* text) {
  return std::char_traits<char16_t>::length(text);
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  std::size_t length = TextLength(text);
  if (length > kMaxByteLength / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(length));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > kMaxByteLength / sizeof(OLECHAR)) return nullptr;
  return AllocateBytes(text, length * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length) {
  return AllocateBytes(bytes, length);
}

INT SysReAllocString(BSTR* bstr, const OLECHAR* text) {
  if (!bstr) return FALSE;
  if (!text) {
    SysFreeString(*bstr);
    *bstr = nullptr;
    return TRUE;
  }
  std::size_t length = TextLength(text);
  if (length > kMaxByteLength / sizeof(OLECHAR)) return FALSE;
  return SysReAllocStringLen(bstr, text, static_cast<UINT>(length));
}

INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length) {
  if (!bstr) return FALSE;
  // Built before the old string is freed, because `text` may point into it.
  BSTR fresh = SysAllocStringLen(text, length);
  if (!fresh) return FALSE;
  SysFreeString(*bstr);
  *bstr = fresh;
  return TRUE;
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(Prefix(bstr));
}

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  DWORD count;
  std::memcpy(&count, Prefix(bstr), sizeof count);
  return count;
}

UINT SysStringLen(BSTR bstr) {
  return SysStringByteLen(bstr) / sizeof(OLECHAR);
}

namespace pgx::auto_ {

bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
  std::u16string result;
  result.reserve(in.size());
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* end = p + in.size();
  while (p < end) {
    unsigned char lead = *p++;
    if (lead < 0x80) {
      result.push_back(lead);
      continue;
    }
    int trail;
    char32_t cp;
    char32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1, cp = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2, cp = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3, cp = lead & 0x07, min = 0x10000;
    } else {
      return false;  // stray continuation byte, overlong two-byte lead, or beyond U+10FFFF
    }
    if (end - p < trail) return false;
    for (int i = 0; i < trail; ++i) {
      unsigned char c = *p++;
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(cp));
    }
  }
  out = std::move(result);
  return true;
}

bool Utf16ToUtf8(std::u16string_view in, std::string& out) {
  std::string result;
  result.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    if (cp < 0x80) {
      result.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  out = std::move(result);
  return true;
}

std::u16string Utf8OrLatin1ToUtf16(std::string_view in) {
  std::u16string out;
  if (Utf8ToUtf16(in, out)) return out;
  out.resize(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) out[i] = static_cast<unsigned char>(in[i]);
  return out;
}

namespace {
// A BSTR of `wide`, or E_OUTOFMEMORY.
HRESULT AllocateWide(const std::u16string& wide, BSTR* out) {
  if (wide.size() > kMaxByteLength / sizeof(OLECHAR)) return E_OUTOFMEMORY;
  BSTR result = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!result) return E_OUTOFMEMORY;
  *out = result;
  return S_OK;
}
}  // namespace

HRESULT BstrFromUtf8OrLatin1(std::string_view text, BSTR* out) noexcept {
  if (!out) return E_POINTER;
  try {
    return AllocateWide(Utf8OrLatin1ToUtf16(text), out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT BstrFromUtf8(std::string_view text, BSTR* out) {
  if (!out) return E_POINTER;
  try {
    std::u16string wide;
    if (!Utf8ToUtf16(text, wide)) return kConversionFailed;
    return AllocateWide(wide, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT BstrToUtf8(BSTR text, std::string* out) {
  if (!out) return E_POINTER;
  try {
    std::string narrow;
    if (!Utf16ToUtf8(BstrView(text), narrow)) return kConversionFailed;
    *out = std::move(narrow);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

namespace {
BSTR CopyOrThrow(std::u16string_view text) {
  if (text.size() > kMaxByteLength / sizeof(OLECHAR)) throw std::bad_alloc();
  BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!copy) throw std::bad_alloc();
  return copy;
}
}  // namespace

Bstr::Bstr(const OLECHAR* text) : bstr_(text ? CopyOrThrow(text) : nullptr) {}

Bstr::Bstr(std::u16string_view text) : bstr_(CopyOrThrow(text)) {}

Bstr::Bstr(const Bstr& other) : bstr_(other.bstr_ ? CopyOrThrow(other.View()) : nullptr) {}

Bstr& Bstr::operator=(const Bstr& other) {
  if (this != &other) {
    BSTR copy = other.bstr_ ? CopyOrThrow(other.View()) : nullptr;
    SysFreeString(bstr_);
    bstr_ = copy;
  }
  return *this;
}

Bstr& Bstr::operator=(Bstr&& other) noexcept {
  if (this != &other) {
    SysFreeString(bstr_);
    bstr_ = std::exchange(other.bstr_, nullptr);
  }
  return *this;
}

Bstr Bstr::FromUtf8(std::string_view text) {
  BSTR result = nullptr;
  HRESULT hr = BstrFromUtf8(text, &result);
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(hr)) throw com_error(hr);
  return Attach(result);
}

Bstr Bstr::FromUtf8OrLatin1(std::string_view text) {
  BSTR result = nullptr;
  if (FAILED(BstrFromUtf8OrLatin1(text, &result))) throw std::bad_alloc();
  return Attach(result);
}

BSTR Bstr::Copy() const {
  return bstr_ ? CopyOrThrow(View()) : nullptr;
}

BSTR* Bstr::Out() noexcept {
  Reset();
  return &bstr_;
}

std::string Bstr::ToUtf8() const {
  std::string result;
  HRESULT hr = BstrToUtf8(bstr_, &result);
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(hr)) throw com_error(hr);
  return result;
}

}  // namespace pgx::auto_
