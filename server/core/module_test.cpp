// The server module as the runtime and a registration tool see it: its registration written into and
// removed from a fresh registry key by key, activation by ProgID from that registry, its class factory, and
// its unload rule, checked against the loader itself.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "automation/activation.h"
#include "automation/apartment.h"
#include "automation/client.h"
#include "automation/module.h"
#include "automation/registration.h"
#include "automation/registry.h"
#include "server/pgxsrv_idl.h"
#include "visa/testing/test_files.h"

namespace {

using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;
using pgx::visa::testing::read_file;
using pgx::visa::testing::ScopedEnv;
using pgx::visa::testing::TempDir;

constexpr WORD kGet = DISPATCH_PROPERTYGET;

std::string ModulePath() {
  char resolved[PATH_MAX];
  return realpath(PGXSRV_MODULE, resolved) ? resolved : PGXSRV_MODULE;
}

std::string Guid(REFGUID guid) {
  std::string text;
  pgx::auto_::Utf16ToUtf8(pgx::auto_::GuidToU16String(guid), text);
  return text;
}

// The registry file as a set of entries: "[KEY]" for every key the file lists (a key with values or without
// subkeys) and "[KEY] NAME=VALUE" for every value, in the file's own spelling.
std::set<std::string> Entries(const std::string& file) {
  std::set<std::string> entries;
  std::istringstream in(read_file(file));
  std::string line, key;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      key = line;
      entries.insert(key);
    } else {
      entries.insert(key + " " + line);
    }
  }
  return entries;
}

std::vector<std::string> Difference(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::vector<std::string> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

// A registry file of its own with something already in it, as a user's registry would have.
class FreshRegistry : public ::testing::Test {
 protected:
  FreshRegistry() : registry_(dir_.file("registry")), env_("PGX_REGISTRY", registry_) {
    pgx::auto_::RegWriteString(HKEY_CLASSES_ROOT, u"CLSID\\{00000000-0000-0000-0000-0000000000AA}", u"",
                               u"Another class");
    pgx::auto_::RegWriteString(HKEY_CLASSES_ROOT, u"Interface\\{00000000-0000-0000-0000-0000000000AB}", u"",
                               u"IAnother");
    pgx::auto_::RegWriteString(HKEY_CLASSES_ROOT, u"TypeLib\\{00000000-0000-0000-0000-0000000000AC}\\1.0",
                               u"", u"another library");
    pgx::auto_::RegWriteString(HKEY_CURRENT_USER, u"Software\\Someone", u"Setting", u"kept");
  }
  void SetUp() override { ASSERT_GE(CoInitialize(nullptr), 0); }
  void TearDown() override {
    CoFreeUnusedLibrariesEx(0, 0);
    CoUninitialize();
  }

  HRESULT Register(bool unregister = false) {
    std::string message;
    HRESULT hr = pgx::auto_::RegisterServerModule(PGXSRV_MODULE, unregister, message);
    EXPECT_EQ(hr, S_OK) << message;
    return hr;
  }

  TempDir dir_;
  std::string registry_;
  ScopedEnv env_;
};

// Registration is slow (every value is a safe write of the file), so one test writes and removes it.
TEST_F(FreshRegistry, RegistrationWritesExactlyItsKeysAndUnregistrationRemovesThem) {
  const std::string before_text = read_file(registry_);
  const std::set<std::string> before = Entries(registry_);
  ASSERT_EQ(Register(), S_OK);
  const std::vector<std::string> added = Difference(Entries(registry_), before);
  EXPECT_TRUE(Difference(before, Entries(registry_)).empty());

  const std::string module = ModulePath();
  const std::string dir = module.substr(0, module.rfind('/'));
  const std::string clsid = Guid(CLSID_PgxGen), libid = Guid(LIBID_pgxsrv);
  const std::string cls = "[HKEY_CLASSES_ROOT\\CLSID\\" + clsid;
  const std::string lib = "[HKEY_CLASSES_ROOT\\TypeLib\\" + libid;
  std::set<std::string> expected = {
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen.1]",
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen.1] @=\"PgxGen Class\"",
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen.1\\CLSID]",
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen.1\\CLSID] @=\"" + clsid + "\"",
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen]",
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen] @=\"PgxGen Class\"",
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen\\CLSID]",
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen\\CLSID] @=\"" + clsid + "\"",
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen\\CurVer]",
      "[HKEY_CLASSES_ROOT\\Pgxsrv.PgxGen\\CurVer] @=\"Pgxsrv.PgxGen.1\"",
      cls + "]",
      cls + "] @=\"PgxGen Class\"",
      cls + "\\ProgID]",
      cls + "\\ProgID] @=\"Pgxsrv.PgxGen.1\"",
      cls + "\\VersionIndependentProgID]",
      cls + "\\VersionIndependentProgID] @=\"Pgxsrv.PgxGen\"",
      cls + "\\Programmable]",
      cls + "\\InprocServer32]",
      cls + "\\InprocServer32] @=\"" + module + "\"",
      cls + "\\InprocServer32] \"ThreadingModel\"=\"Apartment\"",
      cls + "\\Control]",
      cls + "\\Insertable]",
      cls + "\\ToolboxBitmap32]",
      cls + "\\ToolboxBitmap32] @=\"" + module + ", 103\"",
      cls + "\\MiscStatus]",
      cls + "\\MiscStatus] @=\"0\"",
      cls + "\\MiscStatus\\1]",
      cls + "\\MiscStatus\\1] @=\"132497\"",
      cls + "\\TypeLib]",
      cls + "\\TypeLib] @=\"" + libid + "\"",
      cls + "\\Version]",
      cls + "\\Version] @=\"1.0\"",
      lib + "\\1.0]",
      lib + "\\1.0] @=\"pgxsrv 1.0 Type Library\"",
      lib + "\\1.0\\0\\win64]",
      lib + "\\1.0\\0\\win64] @=\"" + module + "\"",
      lib + "\\1.0\\FLAGS]",
      lib + "\\1.0\\FLAGS] @=\"0\"",
      lib + "\\1.0\\HELPDIR]",
      lib + "\\1.0\\HELPDIR] @=\"" + dir + "\"",
  };
  // Each interface of the library: its name, the automation marshaller and the library.
  int interfaces = 0;
  for (const std::string& entry : added) {
    if (entry.rfind("[HKEY_CLASSES_ROOT\\Interface\\", 0) != 0) {
      EXPECT_EQ(expected.count(entry), 1u) << "unexpected: " << entry;
      continue;
    }
    const std::string key = entry.substr(0, entry.find(']'));
    if (entry == key + "]") {
      if (key.find('\\', sizeof "[HKEY_CLASSES_ROOT\\Interface\\" - 1) == std::string::npos) ++interfaces;
      continue;
    }
    const std::string value = entry.substr(key.size() + 2);
    if (key.ends_with("\\TypeLib")) {
      EXPECT_TRUE(value == "@=\"" + libid + "\"" || value == "\"Version\"=\"1.0\"") << entry;
    } else if (key.ends_with("\\ProxyStubClsid") || key.ends_with("\\ProxyStubClsid32")) {
      EXPECT_TRUE(value == "@=\"{00020424-0000-0000-C000-000000000046}\"" ||
                  value == "@=\"{00020420-0000-0000-C000-000000000046}\"")
          << entry;
    } else {
      EXPECT_EQ(value.rfind("@=\"", 0), 0u) << entry;
    }
  }
  for (const std::string& entry : expected) {
    EXPECT_NE(std::find(added.begin(), added.end(), entry), added.end()) << "missing: " << entry;
  }
  // The 27 interfaces of the object tree and the root's event interface.
  EXPECT_EQ(interfaces, 28);
  EXPECT_NE(std::find(added.begin(), added.end(),
                      "[HKEY_CLASSES_ROOT\\Interface\\" + Guid(IID_IPgxGen) + "] @=\"IPgxGen\""),
            added.end());

  ASSERT_EQ(Register(/*unregister=*/true), S_OK);
  EXPECT_EQ(read_file(registry_), before_text);
  // Unregistering what is not registered is no failure and changes nothing.
  ASSERT_EQ(Register(/*unregister=*/true), S_OK);
  EXPECT_EQ(read_file(registry_), before_text);
}

// The module loaded by hand, as a registration tool or the runtime loads it.
class LoadedModule {
 public:
  LoadedModule() : handle_(dlopen(PGXSRV_MODULE, RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) return;
    get_class_object_ = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle_, "DllGetClassObject"));
    can_unload_now_ = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle_, "DllCanUnloadNow"));
  }
  ~LoadedModule() {
    if (handle_) dlclose(handle_);
  }
  bool ok() const { return handle_ && get_class_object_ && can_unload_now_; }
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) const {
    return get_class_object_(clsid, iid, out);
  }
  HRESULT CanUnloadNow() const { return can_unload_now_(); }

 private:
  void* handle_;
  LPFNGETCLASSOBJECT get_class_object_ = nullptr;
  LPFNCANUNLOADNOW can_unload_now_ = nullptr;
};

// Whether the loader still has the module in the process (not only whether the runtime remembers it).
bool ModuleInProcess() {
  void* handle = dlopen(PGXSRV_MODULE, RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

TEST(ServerModule, TheFactoryMakesOnlyPgxGen) {
  pgx::auto_::ApartmentScope apartment;
  LoadedModule module;
  ASSERT_TRUE(module.ok());
  constexpr CLSID kErrClass = {0x08ACD48B, 0x64AD, 0x4782, {0xBB, 0xEB, 0xE3, 0x6F, 0x0F, 0x56, 0x05, 0x04}};
  for (const CLSID& other : {kErrClass, CLSID_NULL, IID_IPgxGen}) {
    void* factory = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.GetClassObject(other, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);
  }
  EXPECT_EQ(module.GetClassObject(CLSID_PgxGen, IID_IClassFactory, nullptr), E_POINTER);
  pgx::auto_::ComPtr<IClassFactory> factory;
  ASSERT_EQ(module.GetClassObject(CLSID_PgxGen, IID_IClassFactory, factory.ReleaseAndGetAddressOfVoid()),
            S_OK);
  pgx::auto_::ComPtr<IPgxGen> root;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPgxGen, root.ReleaseAndGetAddressOfVoid()), S_OK);
  VARIANT_BOOL enabled = VARIANT_FALSE;
  EXPECT_EQ(root->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_TRUE);
}

TEST(ServerModule, CanUnloadOnlyWhenNoObjectAndNoLockRemain) {
  pgx::auto_::ApartmentScope apartment;
  ASSERT_FALSE(ModuleInProcess());
  {
    LoadedModule module;
    ASSERT_TRUE(module.ok());
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
    pgx::auto_::ComPtr<IClassFactory> factory;
    ASSERT_EQ(module.GetClassObject(CLSID_PgxGen, IID_IClassFactory, factory.ReleaseAndGetAddressOfVoid()),
              S_OK);
    IDispatch* root = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&root)), S_OK);
    // A lock, and a factory a client still holds, keep the module as an object does.
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    IClassFactory* factory_ptr = factory.Get();
    factory = nullptr;
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    ASSERT_EQ(factory_ptr->LockServer(FALSE), S_OK);
    {
      DispatchPtr root_ptr(pgx::auto_::AttachComPtr(root));
      EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
      // A whole session: discovery, an opened instrument, its channels and a failure on the way.
      DispatchPtr instruments(root_ptr.InvokeByName(u"Instruments", kGet).pdispVal);
      DispatchPtr first(instruments.InvokeByName(u"Item", kGet, {Variant(LONG{1})}).pdispVal);
      EXPECT_EQ(first.InvokeByName(u"Open", kGet, {Variant(true)}).boolVal, VARIANT_TRUE);
      DispatchPtr channels(first.InvokeByName(u"Channels", kGet).pdispVal);
      DispatchPtr channel(channels.InvokeByName(u"Item", kGet, {Variant(LONG{1})}).pdispVal);
      EXPECT_THROW(channels.InvokeByName(u"Item", kGet, {Variant(LONG{9})}), pgx::auto_::com_error);
      root_ptr = nullptr;
      instruments = nullptr;
      first = nullptr;
      channels = nullptr;
      EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "a channel still held keeps the tree";
    }
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
  }
  EXPECT_FALSE(ModuleInProcess());
}

TEST_F(FreshRegistry, EitherProgIdCreatesTheRootAndTheModuleGoesAfterAFullSession) {
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"Pgxsrv.PgxGen", &clsid), CO_E_CLASSSTRING);
  ASSERT_EQ(Register(), S_OK);
  ASSERT_FALSE(ModuleInProcess());
  LPOLESTR progid = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_PgxGen, &progid), S_OK);
  EXPECT_EQ(std::u16string(progid), u"Pgxsrv.PgxGen.1");
  CoTaskMemFree(progid);
  for (const char16_t* name : {u"Pgxsrv.PgxGen.1", u"Pgxsrv.PgxGen"}) {
    ASSERT_EQ(CLSIDFromProgID(name, &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_PgxGen);
    IDispatch* root = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&root)),
              S_OK);
    DispatchPtr root_ptr(pgx::auto_::AttachComPtr(root));
    EXPECT_EQ(root_ptr.InvokeByName(u"Enabled", kGet).boolVal, VARIANT_TRUE);
  }
  CoFreeUnusedLibrariesEx(0, 0);  // at once: nothing of the module runs any more
  ASSERT_FALSE(ModuleInProcess());
  {
    IDispatch* root = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&root)),
              S_OK);
    DispatchPtr root_ptr(pgx::auto_::AttachComPtr(root));
    DispatchPtr instruments(root_ptr.InvokeByName(u"Instruments", kGet).pdispVal);
    DispatchPtr second(instruments.InvokeByName(u"Item", kGet, {Variant(LONG{2})}).pdispVal);
    second.InvokeByName(u"Open", kGet, {Variant(true)});
    DispatchPtr err(second.InvokeByName(u"Err", kGet).pdispVal);
    err.InvokeByName(u"LastError", kGet);
    second.InvokeByName(u"Close", DISPATCH_METHOD);
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_TRUE(ModuleInProcess()) << "unloaded while objects live";
  }
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_FALSE(pgx::auto_::IsServerModuleLoaded(ModulePath()));
  EXPECT_FALSE(ModuleInProcess());
}

}  // namespace
