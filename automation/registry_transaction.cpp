#include "automation/registry_transaction.h"

#include <new>
#include <string>
#include <utility>

#include "automation/bstr.h"
#include "automation/registry_file.h"
#include "automation/registry_handles.h"
#include "automation/registry_tree.h"

namespace pgx::auto_ {

using registry::FindKey;
using registry::FoldName;
using registry::Key;
using registry::KeyPath;
using registry::Tree;

namespace {

bool IsStorable(std::u16string_view text) {
  std::string utf8;
  return Utf16ToUtf8(text, utf8);
}

Key* FindParent(Tree& tree, int root, const KeyPath& path) {
  return FindKey(tree, root, KeyPath(path.begin(), path.end() - 1));
}

}  // namespace

void RegistryTransaction::Record(HKEY key, std::u16string_view sub_key,
                                 const std::function<Step(int root, KeyPath path)>& make) noexcept {
  if (status_ != ERROR_SUCCESS) return;
  try {
    int root = 0;
    KeyPath path;
    if (!registry::ResolveHandle(key, root, path)) {
      status_ = ERROR_INVALID_HANDLE;
      return;
    }
    if (registry::SplitKeyPath(sub_key, path) != registry::PathError::kNone) {
      status_ = ERROR_INVALID_PARAMETER;
      return;
    }
    changes_.push_back(make(root, std::move(path)));
  } catch (const std::bad_alloc&) {
    status_ = ERROR_NOT_ENOUGH_MEMORY;
  }
}

void RegistryTransaction::CreateKey(HKEY key, std::u16string_view path) noexcept {
  Record(key, path, [](int root, KeyPath p) -> Step {
    return [root, p = std::move(p)](Tree& tree) {
      registry::CreateKey(tree, root, p);
      return LSTATUS{ERROR_SUCCESS};
    };
  });
}

void RegistryTransaction::SetString(HKEY key, std::u16string_view path, std::u16string_view name,
                                    std::u16string_view value) noexcept {
  if (!IsStorable(name) || !IsStorable(value)) return Fail(ERROR_INVALID_PARAMETER);
  Record(key, path, [&](int root, KeyPath p) -> Step {
    registry::Value v{std::u16string(name), REG_SZ, std::u16string(value), 0};
    return [root, p = std::move(p), v = std::move(v)](Tree& tree) {
      registry::CreateKey(tree, root, p).values[FoldName(v.name)] = v;
      return LSTATUS{ERROR_SUCCESS};
    };
  });
}

void RegistryTransaction::SetDword(HKEY key, std::u16string_view path, std::u16string_view name,
                                   DWORD value) noexcept {
  if (!IsStorable(name)) return Fail(ERROR_INVALID_PARAMETER);
  Record(key, path, [&](int root, KeyPath p) -> Step {
    registry::Value v{std::u16string(name), REG_DWORD, {}, value};
    return [root, p = std::move(p), v = std::move(v)](Tree& tree) {
      registry::CreateKey(tree, root, p).values[FoldName(v.name)] = v;
      return LSTATUS{ERROR_SUCCESS};
    };
  });
}

void RegistryTransaction::DeleteValue(HKEY key, std::u16string_view path, std::u16string_view name) noexcept {
  Record(key, path, [&](int root, KeyPath p) -> Step {
    return [root, p = std::move(p), folded = FoldName(name)](Tree& tree) {
      if (Key* k = FindKey(tree, root, p)) k->values.erase(folded);
      return LSTATUS{ERROR_SUCCESS};
    };
  });
}

void RegistryTransaction::DeleteTree(HKEY key, std::u16string_view path) noexcept {
  const bool contents_only = path.find_first_not_of(u'\\') == std::u16string_view::npos;
  Record(key, path, [contents_only](int root, KeyPath p) -> Step {
    return [root, p = std::move(p), contents_only](Tree& tree) {
      if (contents_only) {
        if (Key* k = FindKey(tree, root, p)) {
          k->values.clear();
          k->subkeys.clear();
        }
      } else if (Key* parent = FindParent(tree, root, p)) {
        parent->subkeys.erase(FoldName(p.back()));
      }
      return LSTATUS{ERROR_SUCCESS};
    };
  });
}

void RegistryTransaction::DeleteKeyIfEmpty(HKEY key, std::u16string_view path) noexcept {
  Record(key, path, [](int root, KeyPath p) -> Step {
    return [root, p = std::move(p)](Tree& tree) {
      if (p.empty()) return LSTATUS{ERROR_SUCCESS};  // a root stays
      Key* parent = FindParent(tree, root, p);
      if (!parent) return LSTATUS{ERROR_SUCCESS};
      auto it = parent->subkeys.find(FoldName(p.back()));
      if (it != parent->subkeys.end() && it->second->values.empty() && it->second->subkeys.empty()) {
        parent->subkeys.erase(it);
      }
      return LSTATUS{ERROR_SUCCESS};
    };
  });
}

void RegistryTransaction::Fail(LSTATUS status) noexcept {
  if (status_ == ERROR_SUCCESS) status_ = status;
}

LSTATUS RegistryTransaction::Commit() noexcept {
  std::vector<Step> changes = std::move(changes_);
  changes_.clear();
  LSTATUS status = std::exchange(status_, ERROR_SUCCESS);
  if (status != ERROR_SUCCESS || changes.empty()) return status;
  try {
    return registry::Change([&](Tree& tree) {
      for (const Step& change : changes) {
        if (LSTATUS s = change(tree); s != ERROR_SUCCESS) return s;
      }
      return LSTATUS{ERROR_SUCCESS};
    });
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace pgx::auto_
