// Reading and writing a string value in one call.
#include "automation/registry.h"

namespace pgx::auto_ {

std::optional<std::u16string> RegReadString(HKEY root, std::u16string_view path, std::u16string_view name) {
  std::u16string p(path), n(name);
  HKEY key = nullptr;
  if (RegOpenKeyEx(root, p.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, size = 0;
  std::optional<std::u16string> result;
  if (RegQueryValueEx(key, n.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::u16string buf(size / sizeof(char16_t) + 1, u'\0');
    DWORD cb = static_cast<DWORD>(buf.size() * sizeof(char16_t));
    if (RegQueryValueEx(key, n.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &cb) ==
        ERROR_SUCCESS) {
      buf.resize(std::char_traits<char16_t>::length(buf.c_str()));
      result = std::move(buf);
    }
  }
  RegCloseKey(key);
  return result;
}

LSTATUS RegWriteString(HKEY root, std::u16string_view path, std::u16string_view name,
                       std::u16string_view value) {
  std::u16string p(path), n(name), v(value);
  return RegSetKeyValue(root, p.c_str(), n.c_str(), REG_SZ, v.c_str(),
                        static_cast<DWORD>((v.size() + 1) * sizeof(char16_t)));
}

}  // namespace pgx::auto_
