// Activation by ProgID through the registry, and the whole runtime at work on the test server module:
// created by ProgID, called late-bound by name, early-bound and through the generated client wrappers,
// then released and unloaded.
#include "automation/activation.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "automation/client.h"
#include "automation/errorinfo.h"
#include "automation/registry.h"
#include "automation/testing/testsrv_client.h"
#include "automation/testing/testsrv_idl.h"

namespace pgx::auto_ {
namespace {

namespace fs = std::filesystem;

std::string ModulePath() {
  auto path =
      RegReadString(HKEY_CLASSES_ROOT, u"CLSID\\" + GuidToU16String(CLSID_Widget) + u"\\InprocServer32");
  std::string out;
  if (path) Utf16ToUtf8(*path, out);
  return out;
}

std::u16string ErrorDescription() {
  IErrorInfo* info = nullptr;
  std::u16string text;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR d = nullptr;
    info->GetDescription(&d);
    text = BstrView(d);
    SysFreeString(d);
    info->Release();
  }
  return text;
}

// A scratch copy of the build's test registry, so a test may change it.
class ScratchRegistry {
 public:
  ScratchRegistry() {
    char pattern[] = "/tmp/pgx-activation-test-XXXXXX";
    dir_ = ::mkdtemp(pattern) ? pattern : "/tmp";
    const char* current = std::getenv("PGX_REGISTRY");
    original_ = current ? current : "";
    path_ = dir_ + "/registry";
    std::error_code ec;
    if (!original_.empty()) fs::copy_file(original_, path_, ec);
    ::setenv("PGX_REGISTRY", path_.c_str(), 1);
  }
  ~ScratchRegistry() {
    ::setenv("PGX_REGISTRY", original_.c_str(), 1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_, path_, original_;
};

// Every test runs in a single-threaded apartment, as a client of the test server would.
class ActivationTest : public ::testing::Test {
 protected:
  ApartmentScope apartment_;
};

TEST_F(ActivationTest, ProgIdsLeadToTheClassAndBack) {
  struct Case {
    const char16_t* progid;
    HRESULT hr;
  } cases[] = {{u"TestSrv.Widget.1", S_OK},
               {u"TestSrv.Widget", S_OK},  // through CurVer
               {u"testsrv.WIDGET", S_OK},
               {u"{6A3C1F20-5B7D-4E2A-9C11-2F0B7D1E4A30}", S_OK},
               {u"TestSrv.Gadget", CO_E_CLASSSTRING},
               {u"", CO_E_CLASSSTRING}};
  for (const Case& c : cases) {
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgID(c.progid, &clsid), c.hr);
    if (c.hr == S_OK) {
      EXPECT_EQ(clsid, CLSID_Widget);
    }
  }
  LPOLESTR progid = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_Widget, &progid), S_OK);
  EXPECT_EQ(std::u16string_view(progid), u"TestSrv.Widget.1");
  CoTaskMemFree(progid);
  EXPECT_EQ(ProgIDFromCLSID(IID_IWidget, &progid), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progid, nullptr);
}

// CurVer is followed when it leads to a class; when it leads nowhere, the ProgID's own CLSID counts.
TEST_F(ActivationTest, CurVerIsFollowedOnlyWhereItLeads) {
  ScratchRegistry scratch;
  const std::u16string widget = GuidToU16String(CLSID_Widget);
  const std::u16string other = u"{11111111-2222-3333-4444-555555555555}";
  struct Key {
    const char16_t* key;
    std::u16string value;
  } keys[] = {
      {u"Pgx.Stale\\CLSID", widget},        {u"Pgx.Stale\\CurVer", u"Pgx.Stale.9"},
      {u"Pgx.Moved\\CLSID", other},         {u"Pgx.Moved\\CurVer", u"Pgx.Moved.2"},
      {u"Pgx.Moved.2\\CLSID", widget},      {u"Pgx.Nothing\\CurVer", u"Pgx.Nothing.1"},
      {u"Pgx.Loop\\CurVer", u"Pgx.Loop.1"}, {u"Pgx.Loop.1\\CurVer", u"Pgx.Loop"},
  };
  for (const Key& k : keys) ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT, k.key, u"", k.value), ERROR_SUCCESS);
  struct Case {
    const char16_t* progid;
    HRESULT hr;
  } cases[] = {{u"Pgx.Stale", S_OK},
               {u"Pgx.Moved", S_OK},
               {u"Pgx.Nothing", CO_E_CLASSSTRING},
               {u"Pgx.Loop", CO_E_CLASSSTRING}};
  for (const Case& c : cases) {
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgID(c.progid, &clsid), c.hr) << std::string(c.progid, c.progid + 11);
    if (c.hr == S_OK) {
      EXPECT_EQ(clsid, CLSID_Widget);
    }
  }
}

TEST_F(ActivationTest, TheTestServerWorksThreeWaysAndUnloadsWhenReleased) {
  const std::string module = ModulePath();
  ASSERT_FALSE(module.empty());
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"TestSrv.Widget", &clsid), S_OK);
  ComPtr<ITypeInfo> info;  // outlives the objects: it keeps the module of its tables loaded
  {
    ComPtr<IDispatch> object;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               object.ReleaseAndGetAddressOfVoid()),
              S_OK);
    EXPECT_TRUE(IsServerModuleLoaded(module));

    // Late-bound, by name.
    DispatchPtr late(object);
    late.InvokeByName(u"count", DISPATCH_PROPERTYPUT, {Variant(LONG{5})});
    EXPECT_EQ(late.InvokeByName(u"COUNT", DISPATCH_PROPERTYGET).AsLong(), 5);
    EXPECT_EQ(late.InvokeByName(u"Format", DISPATCH_METHOD, {Variant(LONG{2})}).AsUtf8(), "5 unit");
    Variant child = late.InvokeByName(u"Item", DISPATCH_PROPERTYGET, {Variant(u"3")});
    EXPECT_EQ(DispatchPtr(child.pdispVal).InvokeByName(u"Index", DISPATCH_PROPERTYGET).AsLong(), 3);

    // Early-bound, through the interface.
    ComPtr<IWidget> early;
    ASSERT_EQ(object.As(&early), S_OK);
    LONG count = 0;
    ASSERT_EQ(early->get_Count(&count), S_OK);
    EXPECT_EQ(count, 5);
    TestAttributes attributes{};
    ASSERT_EQ(early->GetAttributes(&attributes), S_OK);
    EXPECT_EQ(attributes.ManfId, 4095);
    EXPECT_EQ(attributes.ModelCode, 0x1234);
    ComPtr<IWide> wide;
    ASSERT_EQ(object.As(&wide), S_OK);
    LONG member = 0;
    ASSERT_EQ(wide->get_Member17(&member), S_OK);
    EXPECT_EQ(member, 17);

    // Through the generated client wrappers.
    TestSrvLib::IWidgetPtr widget(object);
    widget.PutCount(9);
    EXPECT_EQ(widget.GetCount(), 9);
    EXPECT_EQ(widget.Format(2).View(), u"5 unit");
    EXPECT_EQ(widget.Format(2, 1.0, Bstr(u"V")).View(), u"2 V");
    LONG quotient = 0, remainder = 100;
    widget.Divide(17, 5, &quotient, &remainder);
    EXPECT_EQ(quotient, 3);
    EXPECT_EQ(remainder, 102);
    widget.Divide(17, 5, &quotient);
    widget.PutLevel(TestColorGreen, 1.25);
    EXPECT_EQ(widget.GetLevel(TestColorGreen), 1.25);
    EXPECT_EQ(widget.Flags(), 102);
    EXPECT_EQ(widget.Flags(VARIANT_FALSE, TestColorGreen), 1);
    EXPECT_EQ(widget.GetChild().GetIndex(), 0);
    EXPECT_EQ(widget.GetItem(Variant(LONG{2})).GetIndex(), 2);
    ComPtr<IChild> own_child;
    ASSERT_EQ(early->get_Child(own_child.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(widget.Adopt(own_child.Get()), VARIANT_TRUE);
    EXPECT_THROW(widget.Adopt(static_cast<IChild*>(nullptr)), com_error);
    TestSrvLib::IChildPtr item = widget.GetItem(Variant(LONG{1}));
    EXPECT_TRUE(item);
    try {
      widget.Fail(static_cast<LONG>(0x80040469), Variant(u"The array is too small for the data"));
      ADD_FAILURE() << "no exception";
    } catch (const com_error& e) {
      EXPECT_EQ(e.Error(), static_cast<HRESULT>(0x80040469));
      EXPECT_EQ(e.Description(), u"The array is too small for the data");
      EXPECT_EQ(e.Source(), u"TestSrv.Widget");
    }
    EXPECT_THROW(widget.GetLevel(static_cast<TestColor>(9)), com_error);

    // While objects live the module stays.
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_TRUE(IsServerModuleLoaded(module));
    ASSERT_EQ(object->GetTypeInfo(0, 0, info.ReleaseAndGetAddressOf()), S_OK);
  }
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_TRUE(IsServerModuleLoaded(module));
  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(BstrView(name), u"IWidget");
  SysFreeString(name);
  info.Reset();
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_FALSE(IsServerModuleLoaded(module));
  EXPECT_EQ(::dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);

  // And it loads again on the next request.
  ComPtr<IUnknown> again;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             again.ReleaseAndGetAddressOfVoid()),
            S_OK);
  again.Reset();
  CoFreeUnusedLibrariesEx(0, 0);
}

// A factory a client holds keeps its module loaded, like an object does: calling it after
// CoFreeUnusedLibraries must not run code that was unloaded.
TEST_F(ActivationTest, AHeldClassFactoryKeepsItsModuleLoaded) {
  const std::string module = ModulePath();
  ASSERT_FALSE(module.empty());
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_Widget, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.ReleaseAndGetAddressOfVoid()),
            S_OK);
  CoFreeUnusedLibrariesEx(0, 0);
  ASSERT_TRUE(IsServerModuleLoaded(module));
  ComPtr<IUnknown> same;  // another reference through QueryInterface counts as well
  ASSERT_EQ(factory->QueryInterface(IID_IUnknown, same.ReleaseAndGetAddressOfVoid()), S_OK);
  factory.Reset();
  CoFreeUnusedLibrariesEx(0, 0);
  ASSERT_TRUE(IsServerModuleLoaded(module));
  ASSERT_EQ(same.As(&factory), S_OK);
  same.Reset();
  ComPtr<IDispatch> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.ReleaseAndGetAddressOfVoid()), S_OK);
  factory.Reset();
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_TRUE(IsServerModuleLoaded(module));  // the object still lives
  object.Reset();
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_FALSE(IsServerModuleLoaded(module));
}

// Activation needs an apartment; reading the registry does not.
TEST_F(ActivationTest, AThreadInNoApartmentCannotActivate) {
  std::thread outsider([] {
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               object.ReleaseAndGetAddressOfVoid()),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoGetClassObject(CLSID_Widget, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               object.ReleaseAndGetAddressOfVoid()),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object.Get(), nullptr);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgID(u"TestSrv.Widget", &clsid), S_OK);
    for (DWORD kind : {COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED}) {
      {
        ApartmentScope apartment(kind);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   object.ReleaseAndGetAddressOfVoid()),
                  S_OK);
        object.Reset();
      }
      EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                 object.ReleaseAndGetAddressOfVoid()),
                CO_E_NOTINITIALIZED);
    }
  });
  outsider.join();
}

// A released module is unloaded only once it stayed unused for the delay; an activation meanwhile starts the
// delay over. CoFreeUnusedLibraries waits the default ten minutes, so within a test it never unloads.
TEST_F(ActivationTest, AnUnusedModuleIsUnloadedAfterItStayedUnusedForTheDelay) {
  using namespace std::chrono_literals;
  const std::string module = ModulePath();
  ASSERT_FALSE(module.empty());
  auto use = [] {
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               object.ReleaseAndGetAddressOfVoid()),
              S_OK);
  };
  constexpr DWORD kDelayMs = 50;
  use();
  CoFreeUnusedLibrariesEx(kDelayMs, 0);  // found unloadable: the delay starts
  EXPECT_TRUE(IsServerModuleLoaded(module));
  CoFreeUnusedLibraries();
  CoFreeUnusedLibrariesEx(60'000, 0);
  EXPECT_TRUE(IsServerModuleLoaded(module));
  std::this_thread::sleep_for(std::chrono::milliseconds(kDelayMs + 10));
  use();  // activated again: the delay starts over at the next look
  CoFreeUnusedLibrariesEx(kDelayMs, 0);
  EXPECT_TRUE(IsServerModuleLoaded(module));
  std::this_thread::sleep_for(std::chrono::milliseconds(kDelayMs + 10));
  CoFreeUnusedLibraries();  // the default delay has not passed
  EXPECT_TRUE(IsServerModuleLoaded(module));
  CoFreeUnusedLibrariesEx(kDelayMs, 0);
  EXPECT_FALSE(IsServerModuleLoaded(module));
}

// One thread creates and releases objects while another keeps freeing unused libraries. An object's last
// Release runs on in its module after the module's count dropped to zero (the lingering module makes that
// stretch long); unloading the module then would pull the code from under the releasing thread. The
// creating thread pauses after each burst until the module is unloaded, so the module really goes and
// comes back while both threads race.
TEST_F(ActivationTest, FreeingLibrariesWhileAnotherThreadReleasesObjectsIsSafe) {
  ScratchRegistry scratch;
  const CLSID lingering = *ParseGuid("{9B3E2C71-4A5D-4F08-8E2B-6C1D7A9F3E55}");
  std::u16string module16;
  ASSERT_TRUE(Utf8ToUtf16(PGX_LINGERING_MODULE, module16));
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT, u"CLSID\\" + GuidToU16String(lingering) + u"\\InprocServer32",
                           u"", module16),
            ERROR_SUCCESS);
  constexpr int kRounds = 5;
  constexpr int kObjectsPerRound = 100;
  constexpr DWORD kDelayMs = 100;
  std::atomic<bool> done{false};
  std::thread freer([&] {
    while (!done.load()) {
      CoFreeUnusedLibraries();
      CoFreeUnusedLibrariesEx(kDelayMs, 0);
    }
  });
  int unloads = 0;
  std::thread client([&] {
    ApartmentScope apartment;
    for (int round = 0; round < kRounds; ++round) {
      for (int i = 0; i < kObjectsPerRound; ++i) {
        ComPtr<IUnknown> object;
        if (CoCreateInstance(lingering, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.ReleaseAndGetAddressOfVoid()) != S_OK) {
          ADD_FAILURE() << "activation failed";
          return;
        }
      }
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (IsServerModuleLoaded(PGX_LINGERING_MODULE) && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      if (!IsServerModuleLoaded(PGX_LINGERING_MODULE)) ++unloads;
    }
  });
  client.join();
  done = true;
  freer.join();
  EXPECT_EQ(unloads, kRounds);
}

TEST_F(ActivationTest, UnusableRegistrationsAreReportedWithThePath) {
  ScratchRegistry scratch;
  const CLSID missing_clsid = *ParseGuid("{11111111-2222-3333-4444-555555555555}");
  const CLSID garbage_clsid = *ParseGuid("{11111111-2222-3333-4444-666666666666}");
  const std::string missing = scratch.dir() + "/gone.so";
  const std::string garbage = scratch.dir() + "/garbage.so";
  std::ofstream(garbage) << "this is not a shared object";
  std::u16string missing16, garbage16;
  Utf8ToUtf16(missing, missing16);
  Utf8ToUtf16(garbage, garbage16);
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT,
                           u"CLSID\\" + GuidToU16String(missing_clsid) + u"\\InprocServer32", u"", missing16),
            ERROR_SUCCESS);
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT,
                           u"CLSID\\" + GuidToU16String(garbage_clsid) + u"\\InprocServer32", u"", garbage16),
            ERROR_SUCCESS);

  ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(missing_clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.ReleaseAndGetAddressOfVoid()),
            CO_E_DLLNOTFOUND);
  EXPECT_NE(ErrorDescription().find(missing16), std::u16string::npos);

  EXPECT_EQ(CoCreateInstance(garbage_clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.ReleaseAndGetAddressOfVoid()),
            CO_E_ERRORINDLL);
  std::u16string description = ErrorDescription();
  EXPECT_NE(description.find(garbage16), std::u16string::npos);
  EXPECT_NE(description.find(u"could not be loaded: "), std::u16string::npos);

  const CLSID unknown = *ParseGuid("{11111111-2222-3333-4444-777777777777}");
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.ReleaseAndGetAddressOfVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                             object.ReleaseAndGetAddressOfVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
}

}  // namespace
}  // namespace pgx::auto_
