// The registry file's text format, a readable cousin of the platform's .reg files:
//
//   ; comment
//   [HKEY_CLASSES_ROOT\Pgxsrv.PgxGen\CLSID]
//   @="{...}"                     the key's default value
//   "Name"="text"                 a REG_SZ value (escapes \\ \" \n \r \t \xHH; UTF-8)
//   "Count"=dword:0000000a        a REG_DWORD value
//
// A key's line is written when the key holds values or has no subkeys; the keys on the way to a deeper key
// are implied by its line. So each key path is written once and a file grows with what it holds, not with
// the square of its depth.
#pragma once

#include <string>
#include <string_view>

#include "automation/registry_tree.h"

namespace pgx::auto_::registry {

// The file's text for `tree`. Does not recurse, whatever the depth.
std::string WriteText(const Tree& tree);

// Adds what `text` holds to `tree`. Returns "" on success, otherwise "<file_name>:<line>: <what is wrong>"
// (`tree` then holds what came before the line). A key deeper or longer than the bounds of registry_tree.h
// is an error like any other damage.
std::string ParseText(std::string_view file_name, std::string_view text, Tree& tree);

}  // namespace pgx::auto_::registry
