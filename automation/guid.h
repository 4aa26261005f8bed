// GUID, IID and CLSID: comparison, hashing and the "{8-4-4-4-12}" text form.
#pragma once

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "automation/hresult.h"
#include "automation/types.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using LPGUID = GUID*;
using LPIID = IID*;
using LPCLSID = CLSID*;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool operator==(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
constexpr bool operator!=(REFGUID a, REFGUID b) {
  return !(a == b);
}
// A total order (field by field), so GUIDs can key ordered containers.
constexpr bool operator<(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
  if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
  if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
  }
  return false;
}

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
  return a == b;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) {
  return a == b;
}
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
  return a == b;
}

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;

// Number of characters of the text form, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", without the NUL.
constexpr int kGuidTextLength = 38;

// Writes the braced text form (upper-case hex) with its NUL into `text`. Returns the characters written
// including the NUL (39), or 0 when `cchMax` is too small or `text` is NULL.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int cchMax);

// Parse the braced text form (hex digits in either case). A NULL text yields CLSID_NULL / IID_NULL.
// Bad text: CLSIDFromString gives CO_E_CLASSSTRING, IIDFromString E_INVALIDARG; the output is then
// left as it was. A NULL output pointer gives E_INVALIDARG.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
HRESULT IIDFromString(LPCOLESTR text, LPIID iid);

// Task memory, the allocator for out-strings that the caller frees with CoTaskMemFree.
void* CoTaskMemAlloc(std::size_t cb);
void* CoTaskMemRealloc(void* pv, std::size_t cb);
void CoTaskMemFree(void* pv);

// The braced text form in task memory (freed with CoTaskMemFree).
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
HRESULT StringFromIID(REFIID iid, LPOLESTR* text);

namespace pgx::auto_ {

namespace detail {
constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
template <class Char>
constexpr bool ParseGuidText(std::basic_string_view<Char> text, GUID& out) {
  if (text.size() != static_cast<std::size_t>(kGuidTextLength) || text.front() != '{' || text.back() != '}') {
    return false;
  }
  // Offsets of the hex digit groups inside the braces, and where the hyphens stand.
  constexpr int kHyphens[] = {9, 14, 19, 24};
  for (int pos : kHyphens) {
    if (text[static_cast<std::size_t>(pos)] != '-') return false;
  }
  std::uint64_t groups[5] = {};
  constexpr int kStart[] = {1, 10, 15, 20, 25};
  constexpr int kLength[] = {8, 4, 4, 4, 12};
  for (int g = 0; g < 5; ++g) {
    for (int i = 0; i < kLength[g]; ++i) {
      Char c = text[static_cast<std::size_t>(kStart[g] + i)];
      int v = (c >= 0 && c < 128) ? HexValue(static_cast<char>(c)) : -1;
      if (v < 0) return false;
      groups[g] = (groups[g] << 4) | static_cast<std::uint64_t>(v);
    }
  }
  GUID g{};
  g.Data1 = static_cast<DWORD>(groups[0]);
  g.Data2 = static_cast<WORD>(groups[1]);
  g.Data3 = static_cast<WORD>(groups[2]);
  g.Data4[0] = static_cast<BYTE>(groups[3] >> 8);
  g.Data4[1] = static_cast<BYTE>(groups[3]);
  for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<BYTE>(groups[4] >> (8 * (5 - i)));
  out = g;
  return true;
}
}  // namespace detail

// Parses "{8-4-4-4-12}"; nullopt for anything else. Usable in constant expressions, so a GUID can be
// written as text: `constexpr GUID kId = *ParseGuid("{...}");`.
constexpr std::optional<GUID> ParseGuid(std::string_view text) {
  GUID g{};
  if (!detail::ParseGuidText(text, g)) return std::nullopt;
  return g;
}
std::optional<GUID> ParseGuid(std::u16string_view text);

// The braced upper-case text form.
std::string GuidToString(REFGUID guid);
std::u16string GuidToU16String(REFGUID guid);

}  // namespace pgx::auto_

template <>
struct std::hash<GUID> {
  std::size_t operator()(const GUID& g) const noexcept {
    std::uint64_t halves[2];
    static_assert(sizeof(halves) == sizeof(GUID));
    std::memcpy(halves, &g, sizeof(GUID));
    return std::hash<std::uint64_t>{}(halves[0] ^ (halves[1] * 0x9E3779B97F4A7C15ull));
  }
};
