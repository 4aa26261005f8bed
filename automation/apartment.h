// Apartments: which threads may use the runtime, and what the runtime promises to the servers it loads.
//
// A thread joins an apartment with CoInitialize or CoInitializeEx before it activates anything, and leaves
// it with as many CoUninitialize calls: COINIT_APARTMENTTHREADED (what CoInitialize asks for) gives the
// thread a single-threaded apartment of its own, COINIT_MULTITHREADED puts it into the process's one
// multithreaded apartment. The first call on a thread answers S_OK, a further call for the same kind
// S_FALSE (it still counts and needs its CoUninitialize), a call for the other kind RPC_E_CHANGED_MODE
// (it does not count); unknown flags are E_INVALIDARG. Activation (CoGetClassObject, CoCreateInstance)
// on a thread in no apartment fails with CO_E_NOTINITIALIZED; there is no implicit apartment. Reading the
// registry (CLSIDFromProgID, ProgIDFromCLSID), error information and unloading need none.
//
// What a server registered with ThreadingModel "Apartment" can rely on:
// - The runtime calls into a server module only on the thread of the client call that leads there:
//   DllGetClassObject and the class factory's CreateInstance run on the thread that called
//   CoGetClassObject or CoCreateInstance, so each object is created on its client's thread. The runtime
//   starts no thread and never calls an object from a thread of its own.
// - The one exception is DllCanUnloadNow, which CoFreeUnusedLibraries calls on whatever thread calls it:
//   it must only read the module's counts (pgx::auto_::Module keeps them atomic, as are reference counts).
// - A module is unloaded only after it stayed unloadable for the unload delay (activation.h).
//
// What the runtime does not do: it does not marshal. There are no proxies between apartments: an
// apartment-threaded class activated from the multithreaded apartment is created directly on the calling
// thread (the platform would create it in a host apartment and hand out a proxy), and an interface pointer
// passed to another thread is called directly from there. So a client calls each object of an
// apartment-threaded server only on the thread that created it; the runtime does not check this. Error
// information is per thread, so it describes a failed call only on that call's thread. CoUninitialize
// neither releases nor disconnects objects: a thread releases its objects before its last CoUninitialize.
#pragma once

#include "automation/hresult.h"
#include "automation/types.h"

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

// `reserved` is ignored, as the platform ignores it.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
// Balances one successful CoInitialize(Ex) (S_OK or S_FALSE) of this thread; the last one takes the thread
// out of its apartment. Without a matching call it does nothing.
void CoUninitialize();

enum APTTYPE {
  APTTYPE_CURRENT = -1,
  APTTYPE_STA = 0,
  APTTYPE_MTA = 1,
};
enum APTTYPEQUALIFIER {
  APTTYPEQUALIFIER_NONE = 0,
};
// The kind of apartment this thread is in; CO_E_NOTINITIALIZED when it is in none.
HRESULT CoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier);

namespace pgx::auto_ {

// Keeps the thread in an apartment for the scope: CoInitializeEx on construction, the balancing
// CoUninitialize on destruction when it succeeded.
class ApartmentScope {
 public:
  explicit ApartmentScope(DWORD coinit = COINIT_APARTMENTTHREADED) noexcept
      : status_(CoInitializeEx(nullptr, coinit)) {}
  ~ApartmentScope() {
    if (SUCCEEDED(status_)) CoUninitialize();
  }
  ApartmentScope(const ApartmentScope&) = delete;
  ApartmentScope& operator=(const ApartmentScope&) = delete;

  // What CoInitializeEx answered: S_OK, S_FALSE, RPC_E_CHANGED_MODE, ...
  HRESULT status() const noexcept { return status_; }

 private:
  HRESULT status_;
};

// Whether this thread is in an apartment (what activation requires).
bool IsThreadInApartment() noexcept;

}  // namespace pgx::auto_
