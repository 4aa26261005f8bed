// Per-thread error information: the record a failing member leaves for its caller.
#pragma once

#include <string_view>

#include "automation/interfaces.h"

// A new, empty error-information record. E_INVALIDARG for a NULL out-pointer.
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Makes `perrinfo` (which may be NULL, to clear) the calling thread's error information, replacing any
// earlier record. `dwReserved` must be 0 (E_INVALIDARG otherwise).
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands the calling thread's error information to the caller (who releases it) and clears the slot:
// S_OK with the record, S_FALSE with *pperrinfo = NULL when there is none. `dwReserved` must be 0.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

namespace pgx::auto_ {

// Creates a record from its parts and makes it the thread's error information; returns `hr` so that a
// member can write `return RaiseError(hr, IID_IFoo, u"Lib.Foo", u"what failed");`. Empty parts are
// left unset. If the record cannot be made, the thread's error information is cleared.
HRESULT RaiseError(HRESULT hr, REFGUID guid, std::u16string_view source, std::u16string_view description,
                   std::u16string_view help_file = {}, DWORD help_context = 0) noexcept;

}  // namespace pgx::auto_
