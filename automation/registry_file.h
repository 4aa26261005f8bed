// The registry file as a store: read into a tree (and kept while the file is unchanged), and changed under
// an exclusive lock of "<file>.lock" by reading it afresh, changing the tree and saving it whole to a
// temporary file that is renamed over the old one. So two processes writing at once lose nothing and a
// reader never sees half a file.
//
// The file saved is the one the registry path leads to: when that path is a symbolic link (say, into a
// shared configuration folder), the link stays and its target is replaced, under the target's lock. The
// saved file keeps the mode (and, where the process may, the owner) of the file it replaces. A file that
// cannot be parsed is never overwritten.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "automation/registry.h"
#include "automation/registry_tree.h"

namespace pgx::auto_::registry {

// Records `text` as what RegistryErrorText() reports on this thread, and returns `status`.
LSTATUS Fail(LSTATUS status, std::string text);

// The tree as the file holds it now; a missing file is an empty tree. ERROR_BADDB for a damaged file,
// ERROR_CANTREAD when it cannot be read.
LSTATUS Load(std::shared_ptr<const Tree>& tree);

// Applies `change` to the file's current contents under the lock and saves the result when `change`
// returns ERROR_SUCCESS; any other result of `change` leaves the file untouched and is returned.
// ERROR_CANTWRITE when the lock cannot be taken or the file cannot be saved. `change` may throw
// std::bad_alloc, which leaves the file untouched and is passed on.
LSTATUS Change(const std::function<LSTATUS(Tree&)>& change);

}  // namespace pgx::auto_::registry
