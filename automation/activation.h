// Class activation: ProgID <-> CLSID through the registry, loading in-process server modules and asking
// their class factories, and the registration helpers server modules use in DllRegisterServer.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/guid.h"
#include "automation/interfaces.h"
#include "automation/typelib.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;

constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_MULTITHREADED = 0x0;

// The runtime needs no per-thread set-up; these exist so that client code reads as on the platform.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
void CoUninitialize();

// The CLSID of a ProgID: the default value of HKCR\<ProgID>\CLSID, following HKCR\<ProgID>\CurVer for a
// version-independent ProgID. A braced CLSID text is accepted as well. Unknown: CO_E_CLASSSTRING.
HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid);
// The ProgID of HKCR\CLSID\{clsid}\ProgID, in task memory (CoTaskMemFree). REGDB_E_CLASSNOTREG when none.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid);

// Loads the module registered under HKCR\CLSID\{clsid}\InprocServer32 (once; it stays loaded until
// CoFreeUnusedLibraries finds it unused) and asks its DllGetClassObject. Results: REGDB_E_CLASSNOTREG for
// an unregistered class, CO_E_DLLNOTFOUND when the module file is missing, CO_E_ERRORINDLL when it cannot
// be loaded or lacks the entry point (both with error information naming the path and the loader's
// message), CLASS_E_CLASSNOTAVAILABLE for other contexts than CLSCTX_INPROC_SERVER.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* server_info, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
// Unloads every loaded module whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

namespace pgx::auto_ {

// Whether the module at `path` (as registered) is loaded by the activation code now.
bool IsServerModuleLoaded(std::string_view path);

// The file of the module that contains `address` (dladdr); "" when unknown.
std::string ModulePathOf(const void* address);

// What DllRegisterServer of a module writes for one creatable class under HKEY_CLASSES_ROOT.
struct ClassRegistration {
  CLSID clsid;
  std::u16string description;            // "PgxGen Class"
  std::u16string progid;                 // "Pgxsrv.PgxGen.1"
  std::u16string version_independent;    // "Pgxsrv.PgxGen"
  std::u16string threading_model;        // "Apartment"
  std::string module_path;               // InprocServer32
  const LibraryInfo* library = nullptr;  // TypeLib and Version of the class key
  // Further subkeys of CLSID\{clsid} with their default values, e.g. {u"Control", u""},
  // {u"MiscStatus\\1", u"132497"}; an empty value creates the key alone.
  std::vector<std::pair<std::u16string, std::u16string>> extra_keys;
};
// <progid> = description, <progid>\CLSID; <vi-progid> = description, \CLSID, \CurVer; CLSID\{clsid} =
// description with ProgID, VersionIndependentProgID, Programmable, InprocServer32 (+ ThreadingModel),
// TypeLib and Version.
HRESULT RegisterClassKeys(const ClassRegistration& reg);
HRESULT UnregisterClassKeys(const ClassRegistration& reg);

// HKCR\TypeLib\{libid}\<major.minor> = helpstring (or name) with 0\win64 = path, FLAGS = 0, HELPDIR; and for
// each dual, oleautomation or dispatch interface HKCR\Interface\{iid} = name with ProxyStubClsid(32) and
// TypeLib (+ Version).
HRESULT RegisterTypeLibrary(const LibraryInfo& library, const std::string& module_path);
HRESULT UnregisterTypeLibrary(const LibraryInfo& library);

// Loads `module_path` and calls its DllRegisterServer (or DllUnregisterServer). On failure `message`
// says what went wrong.
HRESULT RegisterServerModule(const std::string& module_path, bool unregister, std::string& message);

}  // namespace pgx::auto_
