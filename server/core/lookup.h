// Tables of (value, SCPI keyword) pairs, which turn enumeration values into the keywords an instrument
// understands and its answers back into values.
#pragma once

#include <span>
#include <string_view>

#include "automation/types.h"
#include "server/core/text_buffer.h"

namespace pgx::server {

struct KeywordRow {
  LONG value;
  const char* text;  // nullptr: the value has no keyword
};
using KeywordTable = std::span<const KeywordRow>;

// The value of the first row whose text equals `answer` exactly (case-sensitive; the caller trims). No
// match: *value becomes the last row's value + 1 and the result is kErrInvalidResponse; an empty table
// gives kErrInvalidResponse and leaves *value.
HRESULT LookupValue(std::string_view answer, KeywordTable table, LONG* value) noexcept;

// The keyword of the first row with `value`, borrowed into `text` (a row without keyword gives ""). No
// row: `text` is emptied and the result is E_INVALIDARG.
HRESULT LookupText(LONG value, KeywordTable table, TextBuffer& text) noexcept;

}  // namespace pgx::server
