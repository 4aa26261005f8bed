// The registry: a store of keys and named values kept in a readable text file, with the platform's
// functions for the part the system uses. Key and value names are case-insensitive and keep the case they
// were created with.
//
// The file is named by PGX_REGISTRY, otherwise it is $XDG_CONFIG_HOME/pgx/registry (~/.config/pgx/registry).
// Every change is made under an exclusive lock of "<file>.lock": the file is read afresh, changed, written
// to a temporary file and renamed over the old one, so that two processes writing at once lose nothing and
// a reader never sees half a file. When the file is a symbolic link, the link stays and the file it leads to
// is written; a saved file keeps the mode of the file it replaces. A file that cannot be parsed is never
// overwritten: every call fails with ERROR_BADDB and RegistryErrorText() names the file and the line.
//
// A key stands at most 512 levels below its root, with names of at most 255 characters and a path (the names
// below the root with their separators) of at most 32,767. A longer or deeper path given to a function is
// refused with ERROR_INVALID_PARAMETER; a file that holds one is damaged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "automation/hresult.h"
#include "automation/types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

// The predefined roots.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u));

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Results are ERROR_* codes: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no such key or value), ERROR_MORE_DATA
// (buffer too small; the size needed is stored), ERROR_NO_MORE_ITEMS, ERROR_INVALID_HANDLE,
// ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED (RegDeleteKey of a key with subkeys), ERROR_KEY_DELETED
// (the key of an open handle was deleted), ERROR_BADDB (damaged file), ERROR_CANTWRITE / ERROR_CANTREAD.

// `sub_key` is a backslash-separated path below `key` (NULL or "" for `key` itself). Creates every missing
// key on the way. `disposition` (optional) receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
LSTATUS RegCreateKeyEx(HKEY key, LPCOLESTR sub_key, DWORD reserved, LPOLESTR key_class, DWORD options,
                       REGSAM sam, void* security, PHKEY result, DWORD* disposition);
LSTATUS RegOpenKeyEx(HKEY key, LPCOLESTR sub_key, DWORD options, REGSAM sam, PHKEY result);
LSTATUS RegCloseKey(HKEY key);
// `name` NULL or "" is the key's unnamed default value. REG_SZ data is UTF-16 with its terminating NUL and
// `size` counts bytes; REG_DWORD data is 4 bytes.
LSTATUS RegSetValueEx(HKEY key, LPCOLESTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
// `type`, `data` and `size` may each be NULL; with `data` NULL only the type and size are reported.
LSTATUS RegQueryValueEx(HKEY key, LPCOLESTR name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
// Subkey `index` in name order; `name_size` is in characters: on input the buffer's capacity, on output
// the length without the NUL.
LSTATUS RegEnumKeyEx(HKEY key, DWORD index, LPOLESTR name, DWORD* name_size, DWORD* reserved,
                     LPOLESTR key_class, DWORD* class_size, void* last_write_time);
// Deletes a key that has no subkeys.
LSTATUS RegDeleteKey(HKEY key, LPCOLESTR sub_key);
// Deletes `sub_key` with everything below it; with `sub_key` NULL, the values and subkeys of `key`.
LSTATUS RegDeleteTree(HKEY key, LPCOLESTR sub_key);
LSTATUS RegDeleteValue(HKEY key, LPCOLESTR name);
// Sets a value of a subkey, creating the subkey when needed (RegCreateKeyEx + RegSetValueEx).
LSTATUS RegSetKeyValue(HKEY key, LPCOLESTR sub_key, LPCOLESTR name, DWORD type, const void* data, DWORD size);

namespace pgx::auto_ {

// The file the registry functions use now.
std::string RegistryPath();
// What went wrong with the file in the last failing call of this thread ("<file>:<line>: ..."), or "".
std::string RegistryErrorText();

// Conveniences over the functions above.
std::optional<std::u16string> RegReadString(HKEY root, std::u16string_view path,
                                            std::u16string_view name = {});
LSTATUS RegWriteString(HKEY root, std::u16string_view path, std::u16string_view name,
                       std::u16string_view value);

}  // namespace pgx::auto_
