#pragma once
// The pattern and setting files of the driver: read whole, but only regular files and only up to a limit
// that is checked before anything is read; written in place, under exactly the name given.

#include <cstddef>
#include <string>
#include <string_view>

#include "visa/visa.h"

namespace pgx::driver {

// Reads the regular file `name` into `content`. A name that cannot be opened, or that is not a regular file
// (a directory, FIFO, device), gives PGXGEN_ERROR_FILE_IO; a file larger than `limit` bytes gives
// PGXGEN_ERROR_FILE_FORMAT without reading it. Never blocks on a FIFO and never reads more than limit + 1
// bytes, also from a file that grows meanwhile.
ViStatus read_file(const char* name, std::size_t limit, std::string& content);

// Writes `content` as the whole of the regular file `name`, creating it (mode 0666 less the umask) when it
// does not exist. A name that is not a regular file once opened is refused (PGXGEN_ERROR_FILE_IO) without
// anything written; no other file is created. Relative names are taken from the current directory.
ViStatus write_file(const char* name, std::string_view content);

}  // namespace pgx::driver
