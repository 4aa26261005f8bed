// What a server module's DllRegisterServer and DllUnregisterServer write: the keys of its creatable classes
// and of its type library, recorded into one registry transaction so that a module is registered (or
// unregistered) whole or not at all.
//
//   extern "C" HRESULT DllRegisterServer() {
//     pgx::auto_::RegistryTransaction registration;
//     pgx::auto_::RegisterClassKeys(registration, TheClassRegistration());
//     pgx::auto_::RegisterTypeLibrary(registration, TheLibrary(), module_path);
//     return pgx::auto_::CommitRegistration(registration);
//   }
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "automation/guid.h"
#include "automation/registry_transaction.h"
#include "automation/typelib.h"

namespace pgx::auto_ {

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

// Records <progid> = description, <progid>\CLSID; <vi-progid> = description, \CLSID, \CurVer;
// CLSID\{clsid} = description with ProgID, VersionIndependentProgID, Programmable, InprocServer32
// (+ ThreadingModel), TypeLib, Version and the extra keys.
void RegisterClassKeys(RegistryTransaction& registration, const ClassRegistration& reg) noexcept;
// Records the removal of CLSID\{clsid}, the ProgID and the version-independent ProgID.
void UnregisterClassKeys(RegistryTransaction& registration, const ClassRegistration& reg) noexcept;

// Records HKCR\TypeLib\{libid}\<major.minor> = helpstring (or name) with 0\win64 = path, FLAGS = 0, HELPDIR;
// and for each dual, oleautomation or dispatch interface HKCR\Interface\{iid} = name with
// ProxyStubClsid(32) and TypeLib (+ Version).
void RegisterTypeLibrary(RegistryTransaction& registration, const LibraryInfo& library,
                         const std::string& module_path) noexcept;
// Records the removal of the library's version key (and of the library's key when no other version is
// left) and of its interfaces' keys.
void UnregisterTypeLibrary(RegistryTransaction& registration, const LibraryInfo& library) noexcept;

// Commits the registration and turns the result into what DllRegisterServer returns: S_OK, or the
// registry's failure as an HRESULT (with error information naming the file when the file was at fault).
HRESULT CommitRegistration(RegistryTransaction& registration) noexcept;

// Loads `module_path` and calls its DllRegisterServer (or DllUnregisterServer). On failure `message`
// says what went wrong.
HRESULT RegisterServerModule(const std::string& module_path, bool unregister, std::string& message);

}  // namespace pgx::auto_
