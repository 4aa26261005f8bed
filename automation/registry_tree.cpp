#include "automation/registry_tree.h"

#include "automation/bstr.h"

namespace pgx::auto_::registry {

std::u16string FoldName(std::u16string_view name) {
  std::u16string out(name);
  for (auto& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

namespace {

std::size_t PathLength(const KeyPath& path) {
  std::size_t length = path.empty() ? 0 : path.size() - 1;
  for (const auto& name : path) length += name.size();
  return length;
}

}  // namespace

PathError SplitKeyPath(std::u16string_view text, KeyPath& path) {
  const std::size_t kept = path.size();
  std::size_t length = PathLength(path);
  auto refuse = [&](PathError error) {
    path.resize(kept);
    return error;
  };
  while (!text.empty()) {
    std::size_t cut = text.find(u'\\');
    std::u16string_view name = text.substr(0, cut);
    for (char16_t c : name) {
      if (c < 0x20 || c == u'[' || c == u']') return refuse(PathError::kBadName);
    }
    if (!name.empty()) {
      // The file holds UTF-8: a name with an unpaired surrogate could only be saved mangled.
      std::string utf8;
      if (!Utf16ToUtf8(name, utf8)) return refuse(PathError::kBadName);
      if (name.size() > kMaxKeyNameLength) return refuse(PathError::kTooLong);
      if (path.size() >= kMaxKeyDepth) return refuse(PathError::kTooDeep);
      length += (path.empty() ? 0 : 1) + name.size();
      if (length > kMaxKeyPathLength) return refuse(PathError::kTooLong);
      path.emplace_back(name);
    }
    if (cut == std::u16string_view::npos) break;
    text.remove_prefix(cut + 1);
  }
  return PathError::kNone;
}

std::string PathErrorText(PathError error) {
  switch (error) {
    case PathError::kNone:
      return "no error";
    case PathError::kBadName:
      return "bad key name";
    case PathError::kTooLong:
      return "the key name is longer than " + std::to_string(kMaxKeyNameLength) +
             " characters or its path longer than " + std::to_string(kMaxKeyPathLength);
    case PathError::kTooDeep:
      return "the key is nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
  }
  return "bad key name";
}

Key* FindKey(Tree& tree, int root, const KeyPath& path) {
  Key* key = &tree.roots[root];
  for (const auto& name : path) {
    auto it = key->subkeys.find(FoldName(name));
    if (it == key->subkeys.end()) return nullptr;
    key = it->second.get();
  }
  return key;
}

const Key* FindKey(const Tree& tree, int root, const KeyPath& path) {
  return FindKey(const_cast<Tree&>(tree), root, path);
}

Key& CreateKey(Tree& tree, int root, const KeyPath& path, bool* created) {
  if (created) *created = false;
  Key* key = &tree.roots[root];
  for (const auto& name : path) {
    auto& slot = key->subkeys[FoldName(name)];
    if (!slot) {
      slot = std::make_unique<Key>();
      slot->name = name;
      if (created) *created = true;
    }
    key = slot.get();
  }
  return *key;
}

}  // namespace pgx::auto_::registry
