#include "automation/activation.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "automation/bstr.h"
#include "automation/errorinfo.h"
#include "automation/module.h"
#include "automation/registry.h"

using pgx::auto_::GuidToU16String;
using pgx::auto_::RegReadString;

namespace {

using Clock = std::chrono::steady_clock;

// What CoFreeUnusedLibraries waits for: the platform's default unload delay.
constexpr std::chrono::milliseconds kDefaultUnloadDelay = std::chrono::minutes(10);

struct LoadedModule {
  void* handle = nullptr;
  LPFNGETCLASSOBJECT get_class_object = nullptr;
  LPFNCANUNLOADNOW can_unload_now = nullptr;
  // Since when the module is a candidate for unloading: found unloadable, and neither found in use nor
  // activated since. Empty while it is not a candidate.
  std::optional<Clock::time_point> unloadable_since;
};

// Recursive: a module's initialisation may itself create objects of another module.
std::recursive_mutex g_modules_mutex;
std::map<std::string, LoadedModule> g_modules;

HRESULT LoadFailure(HRESULT hr, const std::string& path, const std::string& why) {
  // A file name and the loader's or the C library's message are text from outside.
  return pgx::auto_::RaiseError(
      hr, IID_NULL, u"",
      pgx::auto_::Utf8OrLatin1ToUtf16("The server module '" + path + "' could not be loaded: " + why));
}

// The loaded module for `path`, loading it on first use. The caller holds g_modules_mutex.
HRESULT Load(const std::string& path, LoadedModule*& out) {
  if (auto it = g_modules.find(path); it != g_modules.end()) {
    out = &it->second;
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
  out = &g_modules.emplace(path, m).first->second;
  return S_OK;
}

std::u16string ClsidKey(REFCLSID clsid) {
  return u"CLSID\\" + GuidToU16String(clsid);
}

}  // namespace

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
  if (!pgx::auto_::IsThreadInApartment()) return CO_E_NOTINITIALIZED;
  if (!(context & CLSCTX_INPROC_SERVER)) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    auto path16 = RegReadString(HKEY_CLASSES_ROOT, ClsidKey(clsid) + u"\\InprocServer32");
    if (!path16 || path16->empty()) return REGDB_E_CLASSNOTREG;
    std::string path;
    if (!pgx::auto_::Utf16ToUtf8(*path16, path)) return REGDB_E_CLASSNOTREG;
    // Held until the factory is handed out (and counts in the module's lock count), so that
    // CoFreeUnusedLibraries on another thread cannot unload the module in between.
    std::lock_guard<std::recursive_mutex> lock(g_modules_mutex);
    LoadedModule* module = nullptr;
    HRESULT hr = Load(path, module);
    if (FAILED(hr)) return hr;
    module->unloadable_since.reset();  // activated: the module's unload delay starts over
    return module->get_class_object(clsid, riid, ppv);
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

namespace {

using RemoteCreate = HRESULT (*)(REFCLSID, const COSERVERINFO*, IUnknown**);
using RemoteClsid = HRESULT (*)(LPCOLESTR, const COSERVERINFO*, LPCLSID);

// The remote part of the runtime (libpgxremote, beside this library), loaded on the first remote
// activation and kept for the life of the process (its threads' connections live in it).
HRESULT RemoteEntry(const char* symbol, void** entry) {
  static std::mutex mutex;
  static void* handle = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  *entry = ::dlsym(RTLD_DEFAULT, symbol);  // linked into the program already
  if (*entry) return S_OK;
  if (!handle) {
    std::string path = pgx::auto_::ModulePathOf(reinterpret_cast<const void*>(&CoCreateInstanceEx));
    const auto slash = path.rfind('/');
    path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "libpgxremote.so";
    handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
      const char* err = ::dlerror();
      return LoadFailure(CO_E_ERRORINDLL, path, err ? err : "unknown loader error");
    }
  }
  *entry = ::dlsym(handle, symbol);
  return *entry ? S_OK : CO_E_ERRORINDLL;
}

bool NamesRemoteServer(const COSERVERINFO* info) {
  return info && info->pwszName && info->pwszName[0];
}

}  // namespace

HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, COSERVERINFO* server_info,
                           DWORD count, MULTI_QI* results) {
  if (count == 0 || !results) return E_INVALIDARG;
  for (DWORD i = 0; i < count; ++i) {
    if (!results[i].pIID) return E_INVALIDARG;
    results[i].pItf = nullptr;
    results[i].hr = E_NOINTERFACE;
  }
  IUnknown* object = nullptr;
  HRESULT hr = S_OK;
  if (NamesRemoteServer(server_info) && (context & CLSCTX_REMOTE_SERVER)) {
    if (outer) {
      hr = CLASS_E_NOAGGREGATION;
    } else {
      void* entry = nullptr;
      hr = RemoteEntry("PgxRemoteCreateInstance", &entry);
      if (SUCCEEDED(hr)) hr = reinterpret_cast<RemoteCreate>(entry)(clsid, server_info, &object);
    }
  } else {
    hr = CoCreateInstance(clsid, outer, context, IID_IUnknown, reinterpret_cast<void**>(&object));
  }
  if (FAILED(hr)) {
    for (DWORD i = 0; i < count; ++i) results[i].hr = hr;
    return hr;
  }
  DWORD found = 0;
  for (DWORD i = 0; i < count; ++i) {
    results[i].hr = object->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
    if (SUCCEEDED(results[i].hr)) ++found;
  }
  object->Release();
  return found == count ? S_OK : found ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

void CoFreeUnusedLibrariesEx(DWORD unload_delay_ms, DWORD) {
  const auto delay =
      unload_delay_ms == INFINITE ? kDefaultUnloadDelay : std::chrono::milliseconds(unload_delay_ms);
  std::lock_guard<std::recursive_mutex> lock(g_modules_mutex);
  const Clock::time_point now = Clock::now();
  for (auto it = g_modules.begin(); it != g_modules.end();) {
    LoadedModule& m = it->second;
    if (!m.can_unload_now || m.can_unload_now() != S_OK) {
      m.unloadable_since.reset();
      ++it;
      continue;
    }
    if (delay.count() != 0 && !m.unloadable_since) m.unloadable_since = now;
    if (delay.count() != 0 && now - *m.unloadable_since < delay) {
      ++it;
      continue;
    }
    ::dlclose(m.handle);
    it = g_modules.erase(it);
  }
}

void CoFreeUnusedLibraries() {
  CoFreeUnusedLibrariesEx(INFINITE, 0);
}

namespace pgx::auto_ {

bool IsServerModuleLoaded(std::string_view path) {
  std::lock_guard<std::recursive_mutex> lock(g_modules_mutex);
  return g_modules.count(std::string(path)) != 0;
}

HRESULT CLSIDFromProgIDOnServer(LPCOLESTR progid, const COSERVERINFO* server, LPCLSID clsid) {
  HRESULT hr = CLSIDFromProgID(progid, clsid);
  if (SUCCEEDED(hr) || !NamesRemoteServer(server) || !progid || !clsid) return hr;
  void* entry = nullptr;
  HRESULT load = RemoteEntry("PgxRemoteCLSIDFromProgID", &entry);
  if (FAILED(load)) return load;
  return reinterpret_cast<RemoteClsid>(entry)(progid, server, clsid);
}

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (!::dladdr(address, &info) || !info.dli_fname) return {};
  char resolved[4096];
  if (::realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

}  // namespace pgx::auto_
