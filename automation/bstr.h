// BSTR: length-prefixed UTF-16 strings owned by the runtime, and their conversion to and from UTF-8.
//
// Layout: a 32-bit byte count, then the characters, then a NUL that the count does not include. A BSTR
// points at the first character, so it can be read as a NUL-terminated string as long as it holds no
// embedded NUL. NULL is a valid BSTR and means the empty string.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "automation/hresult.h"
#include "automation/types.h"

// NULL for a NULL text; otherwise a copy up to the first NUL.
BSTR SysAllocString(const OLECHAR* text);
// `length` characters copied from `text`, or zero-filled when `text` is NULL. NULL when the length
// cannot be represented or memory is short.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// A BSTR of `length` bytes copied from `bytes` (zero-filled when NULL); an odd length is kept as the
// byte count. Two NUL characters follow the data.
BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length);
// Replace *bstr with a new copy of `text`; the old string is freed. FALSE (and *bstr unchanged) when
// memory is short. `text` may point into *bstr.
INT SysReAllocString(BSTR* bstr, const OLECHAR* text);
INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length);
// NULL-safe.
void SysFreeString(BSTR bstr);
// Characters (embedded NULs included), not counting the terminating NUL; 0 for NULL.
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

namespace pgx::auto_ {

// The HRESULT of a failed conversion between UTF-8 and UTF-16 (an unpaired surrogate or a byte sequence
// that is not UTF-8).
constexpr HRESULT kConversionFailed = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);

// Two kinds of narrow text become wide text, and they are converted differently:
//
// - Text the program itself wrote (names, its own messages, type-library tables) is UTF-8, and text that
//   is not is a mistake: the strict conversions (Utf8ToUtf16, BstrFromUtf8, Bstr::FromUtf8, ToUtf8)
//   report it.
// - Text that comes from outside (an instrument's answers and messages, a file's contents, a file name,
//   a loader's or the C library's message) is never a reason to fail: the lenient conversions
//   (Utf8OrLatin1ToUtf16, BstrFromUtf8OrLatin1, Bstr::FromUtf8OrLatin1) take text that is valid UTF-8 as
//   UTF-8 and any other text byte by byte as Latin-1 (ISO 8859-1), so "\xE9t\xE9" from an instrument
//   reads "été". Only memory can fail them. Every instrument answer that becomes a BSTR goes through them.

// Strict conversions: false on an unpaired surrogate / invalid UTF-8 (overlong forms, surrogates encoded
// in UTF-8, values above U+10FFFF, truncated sequences). `out` is replaced only on success.
bool Utf8ToUtf16(std::string_view in, std::u16string& out);
bool Utf16ToUtf8(std::u16string_view in, std::string& out);

// Lenient conversion: the whole text as UTF-8 when it is valid UTF-8, otherwise every byte as the Latin-1
// character of the same value. Throws only std::bad_alloc.
std::u16string Utf8OrLatin1ToUtf16(std::string_view in);

// BSTR <-> UTF-8. The whole length of the BSTR is converted, embedded NULs included.
// Results: S_OK, E_POINTER (NULL out), E_OUTOFMEMORY, kConversionFailed; *out is untouched on failure.
HRESULT BstrFromUtf8(std::string_view text, BSTR* out);
HRESULT BstrToUtf8(BSTR text, std::string* out);
// Narrow text from outside, converted leniently: S_OK, E_POINTER or E_OUTOFMEMORY only.
HRESULT BstrFromUtf8OrLatin1(std::string_view text, BSTR* out) noexcept;

// The characters of a BSTR as a view (empty for NULL).
inline std::u16string_view BstrView(BSTR bstr) {
  return {bstr ? bstr : u"", SysStringLen(bstr)};
}

// An owned BSTR. Copying copies the string; a NULL Bstr is the empty string. Allocation failures throw
// std::bad_alloc; FromUtf8 and ToUtf8 throw com_error(kConversionFailed) for text that does not convert.
class Bstr {
 public:
  Bstr() noexcept = default;
  Bstr(std::nullptr_t) noexcept {}
  explicit Bstr(const OLECHAR* text);
  explicit Bstr(std::u16string_view text);
  Bstr(const Bstr& other);
  Bstr(Bstr&& other) noexcept : bstr_(std::exchange(other.bstr_, nullptr)) {}
  Bstr& operator=(const Bstr& other);
  Bstr& operator=(Bstr&& other) noexcept;
  ~Bstr() { SysFreeString(bstr_); }

  static Bstr FromUtf8(std::string_view text);
  // Text from an instrument or a file: never fails to convert (see above).
  static Bstr FromUtf8OrLatin1(std::string_view text);
  // Takes ownership of an existing BSTR.
  static Bstr Attach(BSTR bstr) noexcept {
    Bstr b;
    b.bstr_ = bstr;
    return b;
  }

  BSTR get() const noexcept { return bstr_; }
  operator BSTR() const noexcept { return bstr_; }
  // Releases ownership.
  BSTR Detach() noexcept { return std::exchange(bstr_, nullptr); }
  // A new copy for handing out (the receiver frees it).
  BSTR Copy() const;
  // Frees the string and returns the address to receive a new one (for out-parameters).
  BSTR* Out() noexcept;
  void Reset() noexcept { SysFreeString(std::exchange(bstr_, nullptr)); }

  UINT Length() const noexcept { return SysStringLen(bstr_); }
  bool Empty() const noexcept { return Length() == 0; }
  std::u16string_view View() const noexcept { return BstrView(bstr_); }
  std::string ToUtf8() const;

  friend bool operator==(const Bstr& a, const Bstr& b) noexcept { return a.View() == b.View(); }
  friend bool operator==(const Bstr& a, std::u16string_view b) noexcept { return a.View() == b; }

 private:
  BSTR bstr_ = nullptr;
};

}  // namespace pgx::auto_
