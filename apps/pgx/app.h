// pgx, the command-line automation client: the whole program, callable with its own streams so that tests
// run it in their process.
#pragma once

#include <iostream>
#include <string>
#include <vector>

namespace pgx::cli {

// Runs pgx with `args` (args[0] is the program name). Returns the exit status: 0 success, 1 when a member
// or a statement failed or the input was bad, 2 for a command line CLI11 cannot read.
int Main(const std::vector<std::string>& args, std::istream& in = std::cin, std::ostream& out = std::cout,
         std::ostream& err = std::cerr);

}  // namespace pgx::cli
