#include "automation/activation.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "automation/bstr.h"
#include "automation/errorinfo.h"
#include "automation/module.h"
#include "automation/registry.h"

using pgx::auto_::GuidToU16String;
using pgx::auto_::RegReadString;

namespace {

struct LoadedModule {
  void* handle = nullptr;
  LPFNGETCLASSOBJECT get_class_object = nullptr;
  LPFNCANUNLOADNOW can_unload_now = nullptr;
};

// Recursive: a module's initialisation may itself create objects of another module.
std::recursive_mutex g_modules_mutex;
std::map<std::string, LoadedModule> g_modules;

std::u16string Widen(std::string_view text) {
  std::u16string out;
  if (!pgx::auto_::Utf8ToUtf16(text, out)) out = u"?";
  return out;
}

HRESULT LoadFailure(HRESULT hr, const std::string& path, const std::string& why) {
  // A file name and the loader's or the C library's message are text from outside.
  return pgx::auto_::RaiseError(
      hr, IID_NULL, u"",
      pgx::auto_::Utf8OrLatin1ToUtf16("The server module '" + path + "' could not be loaded: " + why));
}

// The loaded module for `path`, loading it on first use.
HRESULT Load(const std::string& path, LoadedModule& out) {
  std::lock_guard<std::recursive_mutex> lock(g_modules_mutex);
  if (auto it = g_modules.find(path); it != g_modules.end()) {
    out = it->second;
    return S_OK;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return LoadFailure(CO_E_DLLNOTFOUND, path, std::strerror(errno));
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = ::dlerror();
    return LoadFailure(CO_E_ERRORINDLL, path, err ? err : "unknown loader error");
  }
  LoadedModule m;
  m.handle = handle;
  m.get_class_object = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
  m.can_unload_now = reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(handle, "DllCanUnloadNow"));
  if (!m.get_class_object) {
    ::dlclose(handle);
    return LoadFailure(CO_E_ERRORINDLL, path, "it does not export DllGetClassObject");
  }
  g_modules.emplace(path, m);
  out = m;
  return S_OK;
}

std::u16string ClsidKey(REFCLSID clsid) {
  return u"CLSID\\" + GuidToU16String(clsid);
}

HRESULT FromStatus(LSTATUS s) {
  if (s == ERROR_SUCCESS) return S_OK;
  std::string text = pgx::auto_::RegistryErrorText();
  HRESULT hr = HRESULT_FROM_WIN32(static_cast<DWORD>(s));
  if (!text.empty() && (s == ERROR_BADDB || s == ERROR_CANTWRITE || s == ERROR_CANTREAD)) {
    pgx::auto_::RaiseError(hr, IID_NULL, u"", pgx::auto_::Utf8OrLatin1ToUtf16(text));
  }
  return hr;
}

}  // namespace

HRESULT CoInitialize(void*) {
  return S_OK;
}
HRESULT CoInitializeEx(void*, DWORD) {
  return S_OK;
}
void CoUninitialize() {}

HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid) {
  if (!progid || !clsid) return E_INVALIDARG;
  if (progid[0] == u'{') return CLSIDFromString(progid, clsid);
  std::u16string name(progid);
  try {
    // A version-independent ProgID names its current version.
    for (int hops = 0; hops < 4; ++hops) {
      auto cur = RegReadString(HKEY_CLASSES_ROOT, name + u"\\CurVer");
      if (!cur || cur->empty() || *cur == name) break;
      if (RegReadString(HKEY_CLASSES_ROOT, *cur + u"\\CLSID")) {
        name = *cur;
        break;
      }
      name = *cur;
    }
    auto text = RegReadString(HKEY_CLASSES_ROOT, name + u"\\CLSID");
    // A CurVer that leads nowhere does not hide the class the ProgID names itself.
    if (!text && name != progid) text = RegReadString(HKEY_CLASSES_ROOT, std::u16string(progid) + u"\\CLSID");
    if (!text) return CO_E_CLASSSTRING;
    auto guid = pgx::auto_::ParseGuid(*text);
    if (!guid) return CO_E_CLASSSTRING;
    *clsid = *guid;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid) {
  if (!progid) return E_INVALIDARG;
  *progid = nullptr;
  try {
    auto text = RegReadString(HKEY_CLASSES_ROOT, ClsidKey(clsid) + u"\\ProgID");
    if (!text || text->empty()) return REGDB_E_CLASSNOTREG;
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text->size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::memcpy(out, text->c_str(), (text->size() + 1) * sizeof(OLECHAR));
    *progid = out;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!(context & CLSCTX_INPROC_SERVER)) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    auto path16 = RegReadString(HKEY_CLASSES_ROOT, ClsidKey(clsid) + u"\\InprocServer32");
    if (!path16 || path16->empty()) return REGDB_E_CLASSNOTREG;
    std::string path;
    if (!pgx::auto_::Utf16ToUtf8(*path16, path)) return REGDB_E_CLASSNOTREG;
    // Held until the factory is handed out (and counts in the module's lock count), so that
    // CoFreeUnusedLibraries on another thread cannot unload the module in between.
    std::lock_guard<std::recursive_mutex> lock(g_modules_mutex);
    LoadedModule module;
    HRESULT hr = Load(path, module);
    if (FAILED(hr)) return hr;
    return module.get_class_object(clsid, riid, ppv);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr =
      CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  return hr;
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::recursive_mutex> lock(g_modules_mutex);
  for (auto it = g_modules.begin(); it != g_modules.end();) {
    const LoadedModule& m = it->second;
    if (m.can_unload_now && m.can_unload_now() == S_OK) {
      ::dlclose(m.handle);
      it = g_modules.erase(it);
    } else {
      ++it;
    }
  }
}

namespace pgx::auto_ {

bool IsServerModuleLoaded(std::string_view path) {
  std::lock_guard<std::recursive_mutex> lock(g_modules_mutex);
  return g_modules.count(std::string(path)) != 0;
}

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (!::dladdr(address, &info) || !info.dli_fname) return {};
  char resolved[4096];
  if (::realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

HRESULT RegisterClassKeys(const ClassRegistration& reg) {
  try {
    const std::u16string clsid = GuidToU16String(reg.clsid);
    const std::u16string key = u"CLSID\\" + clsid;
    std::u16string module = Widen(reg.module_path);
    struct Entry {
      std::u16string path, name, value;
    };
    std::vector<Entry> entries;
    if (!reg.progid.empty()) {
      entries.push_back({reg.progid, u"", reg.description});
      entries.push_back({reg.progid + u"\\CLSID", u"", clsid});
    }
    if (!reg.version_independent.empty()) {
      entries.push_back({reg.version_independent, u"", reg.description});
      entries.push_back({reg.version_independent + u"\\CLSID", u"", clsid});
      if (!reg.progid.empty()) entries.push_back({reg.version_independent + u"\\CurVer", u"", reg.progid});
    }
    entries.push_back({key, u"", reg.description});
    if (!reg.progid.empty()) entries.push_back({key + u"\\ProgID", u"", reg.progid});
    if (!reg.version_independent.empty()) {
      entries.push_back({key + u"\\VersionIndependentProgID", u"", reg.version_independent});
    }
    entries.push_back({key + u"\\Programmable", u"", u""});
    entries.push_back({key + u"\\InprocServer32", u"", module});
    entries.push_back({key + u"\\InprocServer32", u"ThreadingModel", reg.threading_model});
    if (reg.library) {
      entries.push_back({key + u"\\TypeLib", u"", GuidToU16String(reg.library->libid)});
      entries.push_back(
          {key + u"\\Version", u"",
           Widen(std::to_string(reg.library->major) + "." + std::to_string(reg.library->minor))});
    }
    for (const auto& [subkey, value] : reg.extra_keys) entries.push_back({key + u"\\" + subkey, u"", value});
    for (const Entry& e : entries) {
      LSTATUS s;
      if (e.name.empty() && e.value.empty()) {  // a key that only marks something ("Programmable")
        HKEY key = nullptr;
        s = RegCreateKeyEx(HKEY_CLASSES_ROOT, e.path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                           nullptr);
        if (s == ERROR_SUCCESS) RegCloseKey(key);
      } else {
        s = RegWriteString(HKEY_CLASSES_ROOT, e.path, e.name, e.value);
      }
      if (s != ERROR_SUCCESS) return FromStatus(s);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterClassKeys(const ClassRegistration& reg) {
  try {
    std::u16string keys[] = {u"CLSID\\" + GuidToU16String(reg.clsid), reg.progid, reg.version_independent};
    for (const auto& key : keys) {
      if (key.empty()) continue;
      LSTATUS s = RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
      if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return FromStatus(s);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

namespace {
// The proxy classes the platform names for automation interfaces.
constexpr const char16_t* kPSOAInterface = u"{00020424-0000-0000-C000-000000000046}";
constexpr const char16_t* kPSDispatch = u"{00020420-0000-0000-C000-000000000046}";

std::u16string VersionText(const LibraryInfo& lib) {
  return Widen(std::to_string(lib.major) + "." + std::to_string(lib.minor));
}
bool IsRegisteredInterface(const TypeInfoEntry& t) {
  return t.kind == TKIND_DISPATCH ||
         (t.kind == TKIND_INTERFACE && (t.flags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)));
}
}  // namespace

HRESULT RegisterTypeLibrary(const LibraryInfo& lib, const std::string& module_path) {
  try {
    const std::u16string libid = GuidToU16String(lib.libid);
    const std::u16string key = u"TypeLib\\" + libid + u"\\" + VersionText(lib);
    std::string dir = module_path.substr(
        0, module_path.find_last_of('/') == std::string::npos ? 0 : module_path.find_last_of('/'));
    struct Entry {
      std::u16string path, name, value;
    };
    std::vector<Entry> entries{{key, u"", Widen(lib.helpstring ? lib.helpstring : lib.name)},
                               {key + u"\\0\\win64", u"", Widen(module_path)},
                               {key + u"\\FLAGS", u"", u"0"},
                               {key + u"\\HELPDIR", u"", Widen(dir)}};
    for (USHORT i = 0; i < lib.type_count; ++i) {
      const TypeInfoEntry& t = lib.types[i];
      if (!IsRegisteredInterface(t)) continue;
      const std::u16string ikey = u"Interface\\" + GuidToU16String(t.guid);
      const char16_t* ps = t.kind == TKIND_DISPATCH ? kPSDispatch : kPSOAInterface;
      entries.push_back({ikey, u"", Widen(t.name)});
      entries.push_back({ikey + u"\\ProxyStubClsid", u"", ps});
      entries.push_back({ikey + u"\\ProxyStubClsid32", u"", ps});
      entries.push_back({ikey + u"\\TypeLib", u"", libid});
      entries.push_back({ikey + u"\\TypeLib", u"Version", VersionText(lib)});
    }
    for (const Entry& e : entries) {
      LSTATUS s = RegWriteString(HKEY_CLASSES_ROOT, e.path, e.name, e.value);
      if (s != ERROR_SUCCESS) return FromStatus(s);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterTypeLibrary(const LibraryInfo& lib) {
  try {
    const std::u16string libid_key = u"TypeLib\\" + GuidToU16String(lib.libid);
    const std::u16string key = libid_key + u"\\" + VersionText(lib);
    LSTATUS s = RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
    if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return FromStatus(s);
    // The library's key goes when no other version is left.
    HKEY lib_key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, libid_key.c_str(), 0, KEY_READ, &lib_key) == ERROR_SUCCESS) {
      OLECHAR name[256];
      DWORD size = 256;
      bool empty =
          RegEnumKeyEx(lib_key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
      RegCloseKey(lib_key);
      if (empty) RegDeleteTree(HKEY_CLASSES_ROOT, libid_key.c_str());
    }
    for (USHORT i = 0; i < lib.type_count; ++i) {
      const TypeInfoEntry& t = lib.types[i];
      if (!IsRegisteredInterface(t)) continue;
      const std::u16string ikey = u"Interface\\" + GuidToU16String(t.guid);
      s = RegDeleteTree(HKEY_CLASSES_ROOT, ikey.c_str());
      if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return FromStatus(s);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
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
