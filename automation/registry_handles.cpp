#include "automation/registry_handles.h"

#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>

struct HKEY__ {
  int root;
  pgx::auto_::registry::KeyPath path;
};

namespace pgx::auto_::registry {
namespace {

std::mutex g_handles_mutex;
std::unordered_set<HKEY> g_handles;

int RootIndex(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return kClassesRoot;
  if (key == HKEY_CURRENT_USER) return kCurrentUser;
  return -1;
}

}  // namespace

HKEY OpenHandle(int root, KeyPath path) {
  auto handle = std::make_unique<HKEY__>(HKEY__{root, std::move(path)});
  std::lock_guard lock(g_handles_mutex);
  g_handles.insert(handle.get());
  return handle.release();
}

bool ResolveHandle(HKEY key, int& root, KeyPath& path) {
  int r = RootIndex(key);
  if (r >= 0) {
    root = r;
    path.clear();
    return true;
  }
  std::lock_guard lock(g_handles_mutex);
  if (!g_handles.count(key)) return false;
  root = key->root;
  path = key->path;
  return true;
}

bool CloseHandle(HKEY key) {
  if (RootIndex(key) >= 0) return true;
  {
    std::lock_guard lock(g_handles_mutex);
    if (!g_handles.erase(key)) return false;
  }
  delete key;
  return true;
}

}  // namespace pgx::auto_::registry
