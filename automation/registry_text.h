// The registry file's text format, a readable cousin of the platform's .reg files:
//
//   ; comment
//   [HKEY_CLASSES_ROOT\Pgxsrv.PgxGen\CLSID]
//   @="{...}"                     the key's default value
//   "Name"="text"                 a REG_SZ value (escapes \\ \" \n \r \t \xHH; UTF-8)
//   "Count"=dword:0000000a        a REG_DWORD value

#pragma once

#include <string>
#include <string_view>

#include "automation/registry_tree.h"

namespace pgx::auto_::registry {

// The file's text for `tree`.
std::string WriteText(const Tree& tree);

// Adds what `text` holds to `tree`. Returns "" on success, otherwise "<file_name>:<line>: <what is wrong>"
// (`tree` then holds what came before the line).
std::string ParseText(std::string_view file_name, std::string_view text, Tree& tree);

}  // namespace pgx::auto_::registry
