// File names that a client passes for the driver's pattern and setting files.
#pragma once

#include "server/core/text_buffer.h"

namespace pgx::server {

// `name` as the narrow text the driver opens, exactly as the client wrote it: the driver takes a relative
// name from the current directory of the process and writes no other file than the one named. A name
// without a narrow form (not valid UTF-16, or holding a NUL character, which would make the driver open
// a shorter name) fails with E_ACCESSDENIED; a lack of memory with E_OUTOFMEMORY.
inline HRESULT NarrowFileName(BSTR name, TextBuffer& narrow) noexcept {
  const HRESULT hr = narrow.AssignBstrArgument(name);
  return SUCCEEDED(hr) || hr == E_OUTOFMEMORY ? hr : E_ACCESSDENIED;
}

}  // namespace pgx::server
