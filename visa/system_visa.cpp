#include "visa/system_visa.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace pgx::visa {
namespace {

// Names under which VISA libraries are usually installed.
constexpr const char* kUsualNames[] = {"libvisa.so",   "libvisa.so.0", "libvisa32.so",
                                       "librsvisa.so", "libiovisa.so", "libktvisa32.so"};

template <typename F>
void resolve(void* handle, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(handle, name));
}

// The base address of the loaded object that holds `address` (null when none does).
void* object_base(const void* address) {
  Dl_info info{};
  return address && dladdr(address, &info) ? info.dli_fbase : nullptr;
}

}  // namespace
}  // namespace pgx::visa

// Every build of this library exports this tag, so that it recognises a copy of itself (under any file
// name) when asked to forward to one. (A function, not data: two copies of a global variable in one
// process is a violation of the one-definition rule that sanitizers rightly report.)
extern "C" __attribute__((visibility("default"))) const char* pgxvisa_implementation_tag() {
  return "pgxvisa";
}

namespace pgx::visa {

bool is_this_implementation(void* handle, const void* entry_point) {
  // The tag must be the library's own, not one of a library it depends on.
  const void* tag = dlsym(handle, "pgxvisa_implementation_tag");
  return tag && object_base(tag) == object_base(entry_point);
}

std::shared_ptr<const SystemVisa> load_system_visa(const std::string& path, ViStatus& status,
                                                   std::string& detail) {
  static std::mutex mutex;
  static auto* loaded = new std::map<std::string, std::shared_ptr<const SystemVisa>>();
  std::lock_guard lock(mutex);
  status = VI_SUCCESS;
  if (auto it = loaded->find(path); it != loaded->end()) return it->second;

  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    status = VI_ERROR_LIBRARY_NFOUND;
    const char* why = dlerror();
    detail = "cannot load VISA library " + path + (why ? std::string(": ") + why : std::string());
    return nullptr;
  }
  auto visa = std::make_shared<SystemVisa>();
  visa->path = path;
  visa->handle = handle;
#define PGX_VISA_RESOLVE(name) resolve(handle, #name, visa->name);
  PGX_VISA_FORWARDED_FUNCTIONS(PGX_VISA_RESOLVE)
#undef PGX_VISA_RESOLVE
  if (!visa->viOpenDefaultRM) {
    status = VI_ERROR_LIBRARY_NFOUND;
    detail = path + " is not a VISA library: it has no viOpenDefaultRM";
    dlclose(handle);
    return nullptr;
  }
  if (visa->viOpenDefaultRM == &::viOpenDefaultRM) {
    status = VI_ERROR_LIBRARY_NFOUND;
    detail = path + " is this library itself; PGX_VISA_LIBRARY must name another VISA library";
    dlclose(handle);
    return nullptr;
  }
  if (is_this_implementation(handle, reinterpret_cast<const void*>(visa->viOpenDefaultRM))) {
    // Forwarding to it would have it forward to itself again, until the stack overflows.
    status = VI_ERROR_LIBRARY_NFOUND;
    detail =
        path + " is a copy of this VISA library (pgxvisa); PGX_VISA_LIBRARY must name another VISA library";
    dlclose(handle);
    return nullptr;
  }
  loaded->emplace(path, visa);
  return visa;
}

std::shared_ptr<const SystemVisa> system_visa_from_environment(ViStatus& status, std::string& detail) {
  status = VI_SUCCESS;
  const char* wanted = std::getenv("PGX_VISA_LIBRARY");
  if (!wanted || !*wanted) return nullptr;
  if (std::string(wanted) != "auto") return load_system_visa(wanted, status, detail);
  for (const char* name : kUsualNames) {
    void* probe = dlopen(name, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
    if (!probe) probe = dlopen(name, RTLD_LAZY | RTLD_LOCAL);
    if (!probe) continue;
    dlclose(probe);
    auto visa = load_system_visa(name, status, detail);
    if (visa) return visa;
  }
  status = VI_SUCCESS;  // none installed: the built-in backends serve
  detail.clear();
  return nullptr;
}

}  // namespace pgx::visa
