// Printing a loaded type library back as IDL.
#pragma once

#include <string>

#include "automation/typelib.h"

namespace pgx::auto_ {

// The library as IDL text that the generator accepts and that yields the same tables again.
std::string ExportIdl(const LibraryInfo& library);

// The type library a client reached through ITypeInfo::GetContainingTypeLib, as IDL. E_NOINTERFACE when
// it is not a library of this runtime, E_OUTOFMEMORY when the text cannot be made.
HRESULT ExportIdl(ITypeLib* typelib, std::string& idl) noexcept;

}  // namespace pgx::auto_
