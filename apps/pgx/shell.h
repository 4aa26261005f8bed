// pgx shell: the script statements typed one at a time, with line editing, history and completion of
// member names from the type library when it reads from a terminal.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "apps/pgx/connection.h"
#include "apps/pgx/output.h"

namespace pgx::cli {

// What can finish the last word of `line` (the text before the cursor): statement keywords first on the
// line, member names along a path (found by the types the library gives each member's result, without
// calling anything), and constants in argument and value positions. Whole words, sorted.
std::vector<std::string> Completions(const Connection& connection, const std::string& line);

// Reads statements until "quit", "exit" or the end of input. From a terminal lines are edited with
// libedit and kept in the history file; otherwise `in` is read as it comes, without prompts. Returns 0
// when every statement succeeded, 1 otherwise.
int RunShell(Connection& connection, Reporter& reporter, std::istream& in, bool interactive);

}  // namespace pgx::cli
