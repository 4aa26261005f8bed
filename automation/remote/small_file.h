#pragma once
// The small files of remote activation: the token that pgxd (--token-file) and its clients
// (PGX_REMOTE_TOKEN_FILE) read, and pgxd's TLS certificate and key. Each is read with a bound, so a wrong
// path (a large file, /dev/zero) is an error instead of a process that reads without end.

#include <cstddef>
#include <string>

namespace pgx::remote {

// A token file holds one line; a certificate chain or a private key in PEM a few kilobytes.
inline constexpr std::size_t kMaxTokenFileBytes = 4096;
inline constexpr std::size_t kMaxPemFileBytes = 1 << 20;

// The whole file at `path` into `out`; false with `error` (naming the file as `what`) when it cannot be
// read or holds more than `limit` bytes.
bool ReadSmallFile(const std::string& path, const char* what, std::size_t limit, std::string& out,
                   std::string& error);

// The token of a token file: its first line, without the line break and trailing blanks. Both ends read
// it by this one rule, so a file that pgxd accepts is one its clients present alike.
bool ReadTokenFile(const std::string& path, std::string& token, std::string& error);

}  // namespace pgx::remote
