// The registry's contents in memory: a tree of keys under the two predefined roots, each key with its
// named values. Key and value names are compared without regard to ASCII case and keep the case they were
// created with.
//
// Every way into the tree (a parsed file, a key path given to the API) goes through SplitKeyPath, which
// bounds the depth of a key and the length of its names, so no key is deeper than kMaxKeyDepth and code
// that walks the tree never needs more than that many steps.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/types.h"

namespace pgx::auto_::registry {

// How many keys may stand below a root on the way to a key, and how long one key name and a whole key path
// (the names below the root, with a separator between them) may be.
constexpr std::size_t kMaxKeyDepth = 512;
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxKeyPathLength = 32767;

// The predefined roots by index, and their names in the file.
constexpr int kRootCount = 2;
constexpr int kClassesRoot = 0;
constexpr int kCurrentUser = 1;
constexpr const char* kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER"};

// The names of the keys below a root, outermost first.
using KeyPath = std::vector<std::u16string>;

// A name for lookup: ASCII letters in lower case.
std::u16string FoldName(std::u16string_view name);

struct Value {
  std::u16string name;  // as created; "" is the default value
  DWORD type = 0;       // REG_SZ or REG_DWORD
  std::u16string text;  // REG_SZ
  DWORD number = 0;     // REG_DWORD
};

struct Key {
  std::u16string name;                                     // as created
  std::map<std::u16string, Value> values;                  // by folded name
  std::map<std::u16string, std::unique_ptr<Key>> subkeys;  // by folded name
};

struct Tree {
  Key roots[kRootCount];
};

// Why SplitKeyPath refused a path.
enum class PathError {
  kNone,
  kBadName,  // a control character, '[' or ']', or text that is not valid UTF-16
  kTooLong,  // a name longer than kMaxKeyNameLength or a path longer than kMaxKeyPathLength
  kTooDeep,  // more than kMaxKeyDepth keys
};

// Appends the backslash-separated names of `text` to `path` (empty names are skipped) and checks the
// result against the bounds above. On failure `path` is left as it was.
PathError SplitKeyPath(std::u16string_view text, KeyPath& path);
// What a PathError means, for messages ("the key is nested deeper than 512 levels").
std::string PathErrorText(PathError error);

// The key at `path` below `root`, or NULL.
Key* FindKey(Tree& tree, int root, const KeyPath& path);
const Key* FindKey(const Tree& tree, int root, const KeyPath& path);
// The key at `path`, creating the missing keys on the way; `created` tells whether any was.
Key& CreateKey(Tree& tree, int root, const KeyPath& path, bool* created = nullptr);

}  // namespace pgx::auto_::registry
