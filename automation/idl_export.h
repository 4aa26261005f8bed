// Printing a loaded type library back as IDL.
#pragma once

#include <string>

#include "automation/typelib.h"

namespace pgx::auto_ {

// The library as IDL text that the generator accepts and that yields the same tables again.
std::string ExportIdl(const LibraryInfo& library);

}  // namespace pgx::auto_
