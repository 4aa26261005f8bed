// pgx: the command-line automation client of the pulse-generator server.
#include <string>
#include <vector>

#include "apps/pgx/app.h"

int main(int argc, char** argv) {
  return pgx::cli::Main(std::vector<std::string>(argv, argv + argc));
}
