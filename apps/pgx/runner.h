// Statements (get, set, call, errors) run on the connection's base object, one at a time or as a script,
// with their results and failures shown by a Reporter.
#pragma once

#include <istream>
#include <string>

#include "apps/pgx/connection.h"
#include "apps/pgx/output.h"
#include "apps/pgx/syntax.h"

namespace pgx::cli {

class Runner {
 public:
  // `labelled`: results read "PATH = value" (scripts) rather than the bare value (one command, the shell).
  Runner(Connection& connection, Reporter& reporter, bool labelled)
      : connection_(connection), reporter_(reporter), labelled_(labelled) {}

  // Runs one statement; false when it failed (the failure is shown). `line` (0: none) is the script line.
  bool Execute(const Statement& statement, int line = 0);
  // Parses and runs one line; blank lines and comments succeed without counting as statements.
  bool ExecuteLine(const std::string& text, int line = 0, bool bare_path_is_get = false);

 private:
  void Show(const Statement& statement, const Outcome& outcome);
  bool ShowErrors(int line);

  Connection& connection_;
  Reporter& reporter_;
  bool labelled_;
  int statements_ = 0;
};

// Runs every line of `in`; a failing line is shown and the script goes on, unless `stop_on_error`.
// Returns 0 when every statement succeeded, 1 otherwise.
int RunScript(Runner& runner, std::istream& in, bool stop_on_error);

}  // namespace pgx::cli
