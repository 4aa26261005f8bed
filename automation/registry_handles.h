// The table of open registry key handles. A handle names a key by its root and path; it stays valid when
// the key is deleted (calls through it then fail with ERROR_KEY_DELETED) until RegCloseKey.
#pragma once

#include "automation/registry.h"
#include "automation/registry_tree.h"

namespace pgx::auto_::registry {

// A new handle for the key at `path` below `root`.
HKEY OpenHandle(int root, KeyPath path);
// Resolves a predefined root or an open handle to (root, path). False for anything else.
bool ResolveHandle(HKEY key, int& root, KeyPath& path);
// Closes an open handle; the predefined roots close without effect. False for anything else.
bool CloseHandle(HKEY key);

}  // namespace pgx::auto_::registry
