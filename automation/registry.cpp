// The registry functions: each resolves its handle and path, then reads a snapshot of the file or changes
// the file in one locked step (registry_file.h).
#include "automation/registry.h"

#include <cstring>
#include <iterator>
#include <new>

#include "automation/bstr.h"
#include "automation/registry_file.h"
#include "automation/registry_handles.h"
#include "automation/registry_tree.h"

using namespace pgx::auto_::registry;

namespace {

LSTATUS ResolveWithSubKey(HKEY key, LPCOLESTR sub_key, int& root, KeyPath& path) {
  if (!ResolveHandle(key, root, path)) return ERROR_INVALID_HANDLE;
  if (sub_key && SplitKeyPath(sub_key, path) != PathError::kNone) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

// The value that RegSetValueEx's arguments describe.
LSTATUS MakeValue(LPCOLESTR name, DWORD type, const BYTE* data, DWORD size, Value& v) {
  v.name = name ? name : u"";
  v.type = type;
  if (type == REG_SZ) {
    if (!data && size) return ERROR_INVALID_PARAMETER;
    std::size_t chars = size / sizeof(char16_t);
    std::u16string text(chars, u'\0');
    if (chars) std::memcpy(text.data(), data, chars * sizeof(char16_t));
    text.resize(std::char_traits<char16_t>::length(text.c_str()));  // up to the first NUL
    v.text = std::move(text);
  } else if (type == REG_DWORD) {
    if (!data || size != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
    std::memcpy(&v.number, data, sizeof(DWORD));
  } else {
    return ERROR_INVALID_PARAMETER;
  }
  // The file holds UTF-8: a name or text with an unpaired surrogate could only be saved mangled.
  std::string utf8;
  if (!pgx::auto_::Utf16ToUtf8(v.name, utf8) || !pgx::auto_::Utf16ToUtf8(v.text, utf8)) {
    return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

LSTATUS DeleteKey(HKEY key, LPCOLESTR sub_key, bool tree) {
  int root = 0;
  KeyPath path;
  if (LSTATUS s = ResolveWithSubKey(key, sub_key, root, path); s != ERROR_SUCCESS) return s;
  bool whole_key = !(tree && !sub_key);
  if (whole_key && path.empty()) return ERROR_ACCESS_DENIED;  // a root cannot be deleted
  try {
    return Change([&](Tree& t) -> LSTATUS {
      if (!whole_key) {
        Key* k = FindKey(t, root, path);
        if (!k) return ERROR_KEY_DELETED;
        k->values.clear();
        k->subkeys.clear();
        return ERROR_SUCCESS;
      }
      KeyPath parent_path(path.begin(), path.end() - 1);
      Key* parent = FindKey(t, root, parent_path);
      if (!parent) return ERROR_FILE_NOT_FOUND;
      auto it = parent->subkeys.find(FoldName(path.back()));
      if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
      if (!tree && !it->second->subkeys.empty()) return ERROR_ACCESS_DENIED;
      parent->subkeys.erase(it);
      return ERROR_SUCCESS;
    });
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

LSTATUS RegCreateKeyEx(HKEY key, LPCOLESTR sub_key, DWORD, LPOLESTR, DWORD, REGSAM, void*, PHKEY result,
                       DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  int root = 0;
  KeyPath path;
  if (LSTATUS s = ResolveWithSubKey(key, sub_key, root, path); s != ERROR_SUCCESS) return s;
  bool created = false;
  try {
    LSTATUS status = Change([&](Tree& t) -> LSTATUS {
      CreateKey(t, root, path, &created);
      return created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;  // nothing to save
    });
    if (status != ERROR_SUCCESS && status != ERROR_ALREADY_EXISTS) return status;
    *result = OpenHandle(root, std::move(path));
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyEx(HKEY key, LPCOLESTR sub_key, DWORD, REGSAM, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  int root = 0;
  KeyPath path;
  if (LSTATUS s = ResolveWithSubKey(key, sub_key, root, path); s != ERROR_SUCCESS) return s;
  try {
    std::shared_ptr<const Tree> tree;
    if (LSTATUS s = Load(tree); s != ERROR_SUCCESS) return s;
    if (!FindKey(*tree, root, path)) return ERROR_FILE_NOT_FOUND;
    *result = OpenHandle(root, std::move(path));
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  return CloseHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegSetValueEx(HKEY key, LPCOLESTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  int root = 0;
  KeyPath path;
  if (!ResolveHandle(key, root, path)) return ERROR_INVALID_HANDLE;
  try {
    Value v;
    if (LSTATUS s = MakeValue(name, type, data, size, v); s != ERROR_SUCCESS) return s;
    return Change([&](Tree& t) -> LSTATUS {
      Key* k = FindKey(t, root, path);
      if (!k) return ERROR_KEY_DELETED;
      k->values[FoldName(v.name)] = v;
      return ERROR_SUCCESS;
    });
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LSTATUS RegQueryValueEx(HKEY key, LPCOLESTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  int root = 0;
  KeyPath path;
  if (!ResolveHandle(key, root, path)) return ERROR_INVALID_HANDLE;
  try {
    std::shared_ptr<const Tree> tree;
    if (LSTATUS s = Load(tree); s != ERROR_SUCCESS) return s;
    const Key* k = FindKey(*tree, root, path);
    if (!k) return ERROR_KEY_DELETED;
    auto it = k->values.find(FoldName(name ? name : u""));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    const Value& v = it->second;
    if (type) *type = v.type;
    DWORD needed =
        v.type == REG_DWORD ? sizeof(DWORD) : static_cast<DWORD>((v.text.size() + 1) * sizeof(char16_t));
    if (!size) return ERROR_SUCCESS;
    if (!data) {
      *size = needed;
      return ERROR_SUCCESS;
    }
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (v.type == REG_DWORD) {
      std::memcpy(data, &v.number, sizeof(DWORD));
    } else {
      std::memcpy(data, v.text.c_str(), needed);
    }
    *size = needed;
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LSTATUS RegEnumKeyEx(HKEY key, DWORD index, LPOLESTR name, DWORD* name_size, DWORD*, LPOLESTR, DWORD*,
                     void*) {
  if (!name || !name_size) return ERROR_INVALID_PARAMETER;
  int root = 0;
  KeyPath path;
  if (!ResolveHandle(key, root, path)) return ERROR_INVALID_HANDLE;
  try {
    std::shared_ptr<const Tree> tree;
    if (LSTATUS s = Load(tree); s != ERROR_SUCCESS) return s;
    const Key* k = FindKey(*tree, root, path);
    if (!k) return ERROR_KEY_DELETED;
    if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = k->subkeys.begin();
    std::advance(it, index);
    const std::u16string& child = it->second->name;
    if (*name_size < child.size() + 1) {
      *name_size = static_cast<DWORD>(child.size() + 1);
      return ERROR_MORE_DATA;
    }
    std::memcpy(name, child.c_str(), (child.size() + 1) * sizeof(char16_t));
    *name_size = static_cast<DWORD>(child.size());
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LSTATUS RegDeleteKey(HKEY key, LPCOLESTR sub_key) {
  if (!sub_key) return ERROR_INVALID_PARAMETER;
  return DeleteKey(key, sub_key, false);
}

LSTATUS RegDeleteTree(HKEY key, LPCOLESTR sub_key) {
  return DeleteKey(key, sub_key, true);
}

LSTATUS RegDeleteValue(HKEY key, LPCOLESTR name) {
  int root = 0;
  KeyPath path;
  if (!ResolveHandle(key, root, path)) return ERROR_INVALID_HANDLE;
  try {
    return Change([&](Tree& t) -> LSTATUS {
      Key* k = FindKey(t, root, path);
      if (!k) return ERROR_KEY_DELETED;
      return k->values.erase(FoldName(name ? name : u"")) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LSTATUS RegSetKeyValue(HKEY key, LPCOLESTR sub_key, LPCOLESTR name, DWORD type, const void* data,
                       DWORD size) {
  int root = 0;
  KeyPath path;
  if (LSTATUS s = ResolveWithSubKey(key, sub_key, root, path); s != ERROR_SUCCESS) return s;
  try {
    Value v;
    if (LSTATUS s = MakeValue(name, type, static_cast<const BYTE*>(data), size, v); s != ERROR_SUCCESS) {
      return s;
    }
    return Change([&](Tree& t) -> LSTATUS {
      CreateKey(t, root, path).values[FoldName(v.name)] = v;
      return ERROR_SUCCESS;
    });
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}
