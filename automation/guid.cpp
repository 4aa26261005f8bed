#include "automation/guid.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Formats the braced text into `out` (kGuidTextLength characters plus NUL).
void FormatGuid(REFGUID g, char (&out)[kGuidTextLength + 1]) {
  std::snprintf(out, sizeof out, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
}

// Reads a NUL-terminated text, but never more than one character beyond a GUID's length, so an
// unterminated or overlong text is rejected without reading far.
std::u16string_view BoundedText(LPCOLESTR text) {
  std::size_t n = 0;
  while (n <= static_cast<std::size_t>(kGuidTextLength) && text[n] != u'\0') ++n;
  return {text, n};
}

HRESULT ParseInto(LPCOLESTR text, GUID* out, HRESULT bad_text) {
  if (!out) return E_INVALIDARG;
  if (!text) {
    *out = GUID_NULL;
    return S_OK;
  }
  auto parsed = pgx::auto_::ParseGuid(BoundedText(text));
  if (!parsed) return bad_text;
  *out = *parsed;
  return S_OK;
}

HRESULT StringInTaskMemory(REFGUID guid, LPOLESTR* text) {
  if (!text) return E_INVALIDARG;
  *text = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidTextLength + 1) * sizeof(OLECHAR)));
  if (!*text) return E_OUTOFMEMORY;
  StringFromGUID2(guid, *text, kGuidTextLength + 1);
  return S_OK;
}

}  // namespace

int StringFromGUID2(REFGUID guid, LPOLESTR text, int cchMax) {
  if (!text || cchMax < kGuidTextLength + 1) return 0;
  char narrow[kGuidTextLength + 1];
  FormatGuid(guid, narrow);
  for (int i = 0; i <= kGuidTextLength; ++i) text[i] = static_cast<OLECHAR>(narrow[i]);
  return kGuidTextLength + 1;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  return ParseInto(text, clsid, CO_E_CLASSSTRING);
}
HRESULT IIDFromString(LPCOLESTR text, LPIID iid) {
  return ParseInto(text, iid, E_INVALIDARG);
}

void* CoTaskMemAlloc(std::size_t cb) {
  return std::malloc(cb ? cb : 1);
}
void* CoTaskMemRealloc(void* pv, std::size_t cb) {
  return std::realloc(pv, cb ? cb : 1);
}
void CoTaskMemFree(void* pv) {
  std::free(pv);
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  return StringInTaskMemory(clsid, text);
}
HRESULT StringFromIID(REFIID iid, LPOLESTR* text) {
  return StringInTaskMemory(iid, text);
}

namespace pgx::auto_ {

std::optional<GUID> ParseGuid(std::u16string_view text) {
  GUID g{};
  if (!detail::ParseGuidText(text, g)) return std::nullopt;
  return g;
}

std::string GuidToString(REFGUID guid) {
  char narrow[kGuidTextLength + 1];
  FormatGuid(guid, narrow);
  return std::string(narrow, kGuidTextLength);
}

std::u16string GuidToU16String(REFGUID guid) {
  std::string narrow = GuidToString(guid);
  return std::u16string(narrow.begin(), narrow.end());
}

}  // namespace pgx::auto_
