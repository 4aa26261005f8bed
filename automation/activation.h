// Class activation: ProgID <-> CLSID through the registry, loading in-process server modules, asking their
// class factories, and unloading them when they are no longer used. Activation needs an apartment
// (apartment.h); what a server may rely on is written there.
#pragma once

#include <string>
#include <string_view>

#include "automation/apartment.h"
#include "automation/guid.h"
#include "automation/interfaces.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;

constexpr DWORD INFINITE = 0xFFFFFFFF;

// The CLSID of a ProgID: the default value of HKCR\<ProgID>\CLSID, following HKCR\<ProgID>\CurVer for a
// version-independent ProgID. A braced CLSID text is accepted as well. Unknown: CO_E_CLASSSTRING.
HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid);
// The ProgID of HKCR\CLSID\{clsid}\ProgID, in task memory (CoTaskMemFree). REGDB_E_CLASSNOTREG when none.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid);

// Loads the module registered under HKCR\CLSID\{clsid}\InprocServer32 (once; it stays loaded until
// CoFreeUnusedLibraries finds it unused) and asks its DllGetClassObject, on the calling thread. Results:
// CO_E_NOTINITIALIZED on a thread in no apartment, REGDB_E_CLASSNOTREG for an unregistered class,
// CO_E_DLLNOTFOUND when the module file is missing, CO_E_ERRORINDLL when it cannot be loaded or lacks the
// entry point (both with error information naming the path and the loader's message),
// CLASS_E_CLASSNOTAVAILABLE for other contexts than CLSCTX_INPROC_SERVER.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* server_info, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

// Who a client says it is to a remote host. The host's token goes in Password (PasswordLength
// characters); the other parts are not used.
struct COAUTHIDENTITY {
  OLECHAR* User;
  ULONG UserLength;
  OLECHAR* Domain;
  ULONG DomainLength;
  OLECHAR* Password;
  ULONG PasswordLength;
  ULONG Flags;
};
struct COAUTHINFO {
  DWORD dwAuthnSvc;
  DWORD dwAuthzSvc;
  LPOLESTR pwszServerPrincName;
  DWORD dwAuthnLevel;
  DWORD dwImpersonationLevel;
  COAUTHIDENTITY* pAuthIdentityData;
  DWORD dwCapabilities;
};
// The machine to create an object on: pwszName is "host", "host:port" or "[v6addr]:port", optionally
// with the scheme "pgx://" (plain) or "pgxs://" (TLS); NULL or empty means this machine.
struct COSERVERINFO {
  DWORD dwReserved1;
  LPOLESTR pwszName;
  COAUTHINFO* pAuthInfo;
  DWORD dwReserved2;
};
// One interface asked of a new object: pIID in, pItf and hr out.
struct MULTI_QI {
  const IID* pIID;
  IUnknown* pItf;
  HRESULT hr;
};

// Creates an object and asks it for every interface of `results`; S_OK when it has them all,
// CO_S_NOTALLINTERFACES when only some (each entry's hr says which), E_NOINTERFACE when none.
//
// With a server name and CLSCTX_REMOTE_SERVER in `context`, the object is created by the pgxd on that
// machine, among the classes registered there, and the client holds an IDispatch proxy of it (remote.h):
// only IUnknown and IDispatch can be asked of it. A host that cannot be reached answers
// HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), one that refuses the token E_ACCESSDENIED; a host that goes
// away later makes calls answer RPC_E_DISCONNECTED. Without a server name (or without
// CLSCTX_REMOTE_SERVER, as on the platform, which then ignores the name) the object is created in
// process as by CoCreateInstance. Remote objects cannot be aggregated (CLASS_E_NOAGGREGATION).
HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, COSERVERINFO* server_info,
                           DWORD count, MULTI_QI* results);

// Unloads the modules that stayed unloadable for `unload_delay_ms` milliseconds.
//
// A module's last object decrements the module's count inside the module's own code and then still has to
// return through it, so a module that DllCanUnloadNow calls unloadable now may still be running on another
// thread. As on the platform, a module found unloadable (DllCanUnloadNow answers S_OK) therefore becomes a
// candidate, and a later call unloads it only when the delay has passed since and it stayed unloadable all
// along: found in use, or activated (CoGetClassObject) in between, it starts over. That is sound because a
// module that no object or lock keeps gets new callers only through activation; the delay is the time
// left to a release that was under way when the module was first found unloadable. INFINITE means the
// default delay of ten minutes; 0 unloads at once (only for a caller that knows no other thread is in the
// module, such as a single-threaded program). Pass 0 for `reserved`.
void CoFreeUnusedLibrariesEx(DWORD unload_delay_ms, DWORD reserved);
// CoFreeUnusedLibrariesEx with the default delay.
void CoFreeUnusedLibraries();

namespace pgx::auto_ {

// Whether the module at `path` (as registered) is loaded by the activation code now.
bool IsServerModuleLoaded(std::string_view path);

// The file of the module that contains `address` (dladdr); "" when unknown.
std::string ModulePathOf(const void* address);

// The CLSID of a ProgID for creating an object on `server`: this machine's registry first, then the
// host's (so a client needs no registration of its own for a class it only creates remotely). With no
// server name it is CLSIDFromProgID.
HRESULT CLSIDFromProgIDOnServer(LPCOLESTR progid, const COSERVERINFO* server, LPCLSID clsid);

}  // namespace pgx::auto_
