#include "server/core/lookup.h"

#include "server/core/messages.h"

namespace pgx::server {

HRESULT LookupValue(std::string_view answer, KeywordTable table, LONG* value) noexcept {
  if (table.empty()) return kErrInvalidResponse;
  for (const KeywordRow& row : table) {
    if (row.text && answer == row.text) {
      *value = row.value;
      return S_OK;
    }
  }
  *value = table.back().value + 1;
  return kErrInvalidResponse;
}

HRESULT LookupText(LONG value, KeywordTable table, TextBuffer& text) noexcept {
  for (const KeywordRow& row : table) {
    if (row.value == value) {
      text.Borrow(row.text ? row.text : "");
      return S_OK;
    }
  }
  text.Clear();
  return E_INVALIDARG;
}

}  // namespace pgx::server
