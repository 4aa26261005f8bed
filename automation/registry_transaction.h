// Registry changes saved together: one lock, one read of the file, one save, all or nothing. This is how a
// server module registers or unregisters itself, so that a failure never leaves it half registered.
//
//   pgx::auto_::RegistryTransaction tx;
//   tx.SetString(HKEY_CLASSES_ROOT, u"Pgxsrv.PgxGen", u"", u"PgxGen Class");
//   tx.SetString(HKEY_CLASSES_ROOT, u"Pgxsrv.PgxGen\\CurVer", u"", u"Pgxsrv.PgxGen.1");
//   tx.DeleteTree(HKEY_CLASSES_ROOT, u"Pgxsrv.PgxGen.0");
//   LSTATUS status = tx.Commit();
//
// The recording functions only note a change; nothing touches the file before Commit, which applies the
// changes in order to the file's current contents and saves the result once. A change that cannot be
// recorded (an unknown handle, a name the registry refuses, lack of memory) makes Commit fail without
// saving anything; `status()` tells the first such failure early. Paths and names follow the registry
// functions (registry.h); `key` is a predefined root or an open handle, read when the change is recorded.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

#include "automation/registry.h"

namespace pgx::auto_ {

namespace registry {
struct Tree;
}

class RegistryTransaction {
 public:
  RegistryTransaction() = default;
  RegistryTransaction(const RegistryTransaction&) = delete;
  RegistryTransaction& operator=(const RegistryTransaction&) = delete;

  // Creates the key and the keys on the way to it.
  void CreateKey(HKEY key, std::u16string_view path) noexcept;
  // Sets a value, creating its key as needed; "" names the default value.
  void SetString(HKEY key, std::u16string_view path, std::u16string_view name,
                 std::u16string_view value) noexcept;
  void SetDword(HKEY key, std::u16string_view path, std::u16string_view name, DWORD value) noexcept;
  // Removes a value, when it is there.
  void DeleteValue(HKEY key, std::u16string_view path, std::u16string_view name) noexcept;
  // Removes the key with everything below it, when it is there; "" removes what the key holds.
  void DeleteTree(HKEY key, std::u16string_view path) noexcept;
  // Removes the key when it is there and holds neither values nor subkeys.
  void DeleteKeyIfEmpty(HKEY key, std::u16string_view path) noexcept;
  // Makes Commit fail with `status` (for a caller that could not work out a change).
  void Fail(LSTATUS status) noexcept;

  // ERROR_SUCCESS, or the first failure recorded.
  LSTATUS status() const noexcept { return status_; }
  // How many changes are recorded.
  std::size_t size() const noexcept { return changes_.size(); }

  // Applies and saves every change, or none: the first recorded failure, or what the file store reports
  // (ERROR_BADDB, ERROR_CANTWRITE, ... with RegistryErrorText()). The transaction is empty afterwards.
  LSTATUS Commit() noexcept;

 private:
  using Step = std::function<LSTATUS(registry::Tree&)>;
  void Record(HKEY key, std::u16string_view path,
              const std::function<Step(int root, std::vector<std::u16string> path)>& make) noexcept;

  std::vector<Step> changes_;
  LSTATUS status_ = ERROR_SUCCESS;
};

}  // namespace pgx::auto_
