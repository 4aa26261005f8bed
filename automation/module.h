// The module's object and lock counts, which decide when a loaded server module may be unloaded, and the
// entry points a server module exports.
#pragma once

#include <atomic>

#include "automation/guid.h"
#include "automation/hresult.h"

// The four entry points of an in-process server module, looked up by name after the module is loaded.
extern "C" {
__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
__attribute__((visibility("default"))) HRESULT DllCanUnloadNow(void);
__attribute__((visibility("default"))) HRESULT DllRegisterServer(void);
__attribute__((visibility("default"))) HRESULT DllUnregisterServer(void);
}
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, void**);
using LPFNCANUNLOADNOW = HRESULT (*)();
using LPFNREGISTERSERVER = HRESULT (*)();

namespace pgx::auto_ {

// Counts of live objects and of client locks (IClassFactory::LockServer) of the module this code is
// compiled into.
//
// The counts must be per module: a program and each server module it loads keep their own, otherwise a
// server module would never be told it may unload while the program holds objects of its own. The
// class is therefore given hidden visibility. With default visibility the ELF dynamic linker would bind
// every module's references to these inline statics (and inline functions) to the first definition it
// finds, usually the program's, and GCC would even mark the statics as process-wide unique symbols.
// Hidden symbols are resolved inside the module that defines them.
class __attribute__((visibility("hidden"))) Module {
 public:
  static void ObjectCreated() noexcept { objects_.fetch_add(1, std::memory_order_relaxed); }
  static void ObjectDestroyed() noexcept { objects_.fetch_sub(1, std::memory_order_acq_rel); }
  static void Lock() noexcept { locks_.fetch_add(1, std::memory_order_relaxed); }
  static void Unlock() noexcept { locks_.fetch_sub(1, std::memory_order_acq_rel); }

  static long ObjectCount() noexcept { return objects_.load(std::memory_order_acquire); }
  static long LockCount() noexcept { return locks_.load(std::memory_order_acquire); }
  // What DllCanUnloadNow answers: S_OK when no object lives and no lock is held, S_FALSE otherwise.
  static HRESULT CanUnloadNow() noexcept { return ObjectCount() == 0 && LockCount() == 0 ? S_OK : S_FALSE; }

 private:
  static inline std::atomic<long> objects_{0};
  static inline std::atomic<long> locks_{0};
};

}  // namespace pgx::auto_
