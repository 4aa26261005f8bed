#include "automation/registration.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "automation/bstr.h"
#include "automation/errorinfo.h"
#include "automation/module.h"

namespace pgx::auto_ {
namespace {

std::u16string Widen(std::string_view text) {
  std::u16string out;
  if (!Utf8ToUtf16(text, out)) out = u"?";
  return out;
}

std::u16string VersionText(const LibraryInfo& lib) {
  return Widen(std::to_string(lib.major) + "." + std::to_string(lib.minor));
}

// The proxy classes the platform names for automation interfaces.
constexpr const char16_t* kPSOAInterface = u"{00020424-0000-0000-C000-000000000046}";
constexpr const char16_t* kPSDispatch = u"{00020420-0000-0000-C000-000000000046}";

bool IsRegisteredInterface(const TypeInfoEntry& t) {
  return t.kind == TKIND_DISPATCH ||
         (t.kind == TKIND_INTERFACE && (t.flags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)));
}

}  // namespace

void RegisterClassKeys(RegistryTransaction& tx, const ClassRegistration& reg) noexcept {
  try {
    const std::u16string clsid = GuidToU16String(reg.clsid);
    const std::u16string key = u"CLSID\\" + clsid;
    if (!reg.progid.empty()) {
      tx.SetString(HKEY_CLASSES_ROOT, reg.progid, u"", reg.description);
      tx.SetString(HKEY_CLASSES_ROOT, reg.progid + u"\\CLSID", u"", clsid);
    }
    if (!reg.version_independent.empty()) {
      tx.SetString(HKEY_CLASSES_ROOT, reg.version_independent, u"", reg.description);
      tx.SetString(HKEY_CLASSES_ROOT, reg.version_independent + u"\\CLSID", u"", clsid);
      if (!reg.progid.empty())
        tx.SetString(HKEY_CLASSES_ROOT, reg.version_independent + u"\\CurVer", u"", reg.progid);
    }
    tx.SetString(HKEY_CLASSES_ROOT, key, u"", reg.description);
    if (!reg.progid.empty()) tx.SetString(HKEY_CLASSES_ROOT, key + u"\\ProgID", u"", reg.progid);
    if (!reg.version_independent.empty()) {
      tx.SetString(HKEY_CLASSES_ROOT, key + u"\\VersionIndependentProgID", u"", reg.version_independent);
    }
    tx.CreateKey(HKEY_CLASSES_ROOT, key + u"\\Programmable");
    tx.SetString(HKEY_CLASSES_ROOT, key + u"\\InprocServer32", u"", Widen(reg.module_path));
    tx.SetString(HKEY_CLASSES_ROOT, key + u"\\InprocServer32", u"ThreadingModel", reg.threading_model);
    if (reg.library) {
      tx.SetString(HKEY_CLASSES_ROOT, key + u"\\TypeLib", u"", GuidToU16String(reg.library->libid));
      tx.SetString(HKEY_CLASSES_ROOT, key + u"\\Version", u"", VersionText(*reg.library));
    }
    for (const auto& [subkey, value] : reg.extra_keys) {
      if (value.empty()) {  // a key that only marks something ("Control")
        tx.CreateKey(HKEY_CLASSES_ROOT, key + u"\\" + subkey);
      } else {
        tx.SetString(HKEY_CLASSES_ROOT, key + u"\\" + subkey, u"", value);
      }
    }
  } catch (const std::bad_alloc&) {
    tx.Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}

void UnregisterClassKeys(RegistryTransaction& tx, const ClassRegistration& reg) noexcept {
  try {
    tx.DeleteTree(HKEY_CLASSES_ROOT, u"CLSID\\" + GuidToU16String(reg.clsid));
    if (!reg.progid.empty()) tx.DeleteTree(HKEY_CLASSES_ROOT, reg.progid);
    if (!reg.version_independent.empty()) tx.DeleteTree(HKEY_CLASSES_ROOT, reg.version_independent);
  } catch (const std::bad_alloc&) {
    tx.Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}

void RegisterTypeLibrary(RegistryTransaction& tx, const LibraryInfo& lib,
                         const std::string& module_path) noexcept {
  try {
    const std::u16string libid = GuidToU16String(lib.libid);
    const std::u16string key = u"TypeLib\\" + libid + u"\\" + VersionText(lib);
    const std::size_t slash = module_path.find_last_of('/');
    const std::string dir = module_path.substr(0, slash == std::string::npos ? 0 : slash);
    tx.SetString(HKEY_CLASSES_ROOT, key, u"", Widen(lib.helpstring ? lib.helpstring : lib.name));
    tx.SetString(HKEY_CLASSES_ROOT, key + u"\\0\\win64", u"", Widen(module_path));
    tx.SetString(HKEY_CLASSES_ROOT, key + u"\\FLAGS", u"", u"0");
    tx.SetString(HKEY_CLASSES_ROOT, key + u"\\HELPDIR", u"", Widen(dir));
    for (USHORT i = 0; i < lib.type_count; ++i) {
      const TypeInfoEntry& t = lib.types[i];
      if (!IsRegisteredInterface(t)) continue;
      const std::u16string ikey = u"Interface\\" + GuidToU16String(t.guid);
      const char16_t* ps = t.kind == TKIND_DISPATCH ? kPSDispatch : kPSOAInterface;
      tx.SetString(HKEY_CLASSES_ROOT, ikey, u"", Widen(t.name));
      tx.SetString(HKEY_CLASSES_ROOT, ikey + u"\\ProxyStubClsid", u"", ps);
      tx.SetString(HKEY_CLASSES_ROOT, ikey + u"\\ProxyStubClsid32", u"", ps);
      tx.SetString(HKEY_CLASSES_ROOT, ikey + u"\\TypeLib", u"", libid);
      tx.SetString(HKEY_CLASSES_ROOT, ikey + u"\\TypeLib", u"Version", VersionText(lib));
    }
  } catch (const std::bad_alloc&) {
    tx.Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}

void UnregisterTypeLibrary(RegistryTransaction& tx, const LibraryInfo& lib) noexcept {
  try {
    const std::u16string libid_key = u"TypeLib\\" + GuidToU16String(lib.libid);
    tx.DeleteTree(HKEY_CLASSES_ROOT, libid_key + u"\\" + VersionText(lib));
    tx.DeleteKeyIfEmpty(HKEY_CLASSES_ROOT, libid_key);  // the library's key goes with its last version
    for (USHORT i = 0; i < lib.type_count; ++i) {
      const TypeInfoEntry& t = lib.types[i];
      if (IsRegisteredInterface(t))
        tx.DeleteTree(HKEY_CLASSES_ROOT, u"Interface\\" + GuidToU16String(t.guid));
    }
  } catch (const std::bad_alloc&) {
    tx.Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}

HRESULT CommitRegistration(RegistryTransaction& tx) noexcept {
  const LSTATUS s = tx.Commit();
  if (s == ERROR_SUCCESS) return S_OK;
  const HRESULT hr = HRESULT_FROM_WIN32(static_cast<DWORD>(s));
  if (s == ERROR_BADDB || s == ERROR_CANTWRITE || s == ERROR_CANTREAD) {
    try {
      const std::string text = RegistryErrorText();
      if (!text.empty()) return RaiseError(hr, IID_NULL, u"", Utf8OrLatin1ToUtf16(text));
    } catch (const std::bad_alloc&) {
    }
  }
  return hr;
}

HRESULT RegisterServerModule(const std::string& module_path, bool unregister, std::string& message) {
  char resolved[4096];
  if (!::realpath(module_path.c_str(), resolved)) {
    message = module_path + ": " + std::strerror(errno);
    return CO_E_DLLNOTFOUND;
  }
  void* handle = ::dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = ::dlerror();
    message = std::string(resolved) + " could not be loaded: " + (err ? err : "unknown loader error");
    return CO_E_ERRORINDLL;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto fn = reinterpret_cast<LPFNREGISTERSERVER>(::dlsym(handle, entry));
  HRESULT hr;
  if (!fn) {
    message = std::string(resolved) + " does not export " + entry;
    hr = CO_E_ERRORINDLL;
  } else {
    SetErrorInfo(0, nullptr);
    hr = fn();
    if (FAILED(hr)) {
      const char* text = SystemMessageText(hr);
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
      message = std::string(entry) + " of " + resolved + " failed with " + code +
                (text ? std::string(": ") + text : "");
      IErrorInfo* info = nullptr;
      if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        info->GetDescription(&description);
        std::string text;
        if (description && SUCCEEDED(BstrToUtf8(description, &text)) && !text.empty())
          message += " (" + text + ")";
        SysFreeString(description);
        info->Release();
      }
    }
  }
  ::dlclose(handle);
  return hr;
}

}  // namespace pgx::auto_
