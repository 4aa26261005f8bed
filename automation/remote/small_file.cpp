#include "automation/remote/small_file.h"

#include <fstream>

namespace pgx::remote {

bool ReadSmallFile(const std::string& path, const char* what, std::size_t limit, std::string& out,
                   std::string& error) {
  out.clear();
  std::ifstream file(path, std::ios::binary);
  if (file) {
    out.resize(limit + 1);  // one byte more than allowed tells a file that is too long
    file.read(out.data(), static_cast<std::streamsize>(out.size()));
    out.resize(static_cast<std::size_t>(file.gcount()));
  }
  if (!file.is_open() || file.bad()) {
    error = std::string("cannot read the ") + what + " " + path;
    return false;
  }
  if (out.size() > limit) {
    error = std::string("the ") + what + " " + path + " is longer than " + std::to_string(limit) + " bytes";
    out.clear();
    return false;
  }
  return true;
}

bool ReadTokenFile(const std::string& path, std::string& token, std::string& error) {
  if (!ReadSmallFile(path, "token file", kMaxTokenFileBytes, token, error)) return false;
  const std::size_t line_end = token.find_first_of("\r\n");
  if (line_end != std::string::npos) token.resize(line_end);
  while (!token.empty() && (token.back() == ' ' || token.back() == '\t')) token.pop_back();
  return true;
}

}  // namespace pgx::remote
