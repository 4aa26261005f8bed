// What server modules write into the registry, through the test server's own DllRegisterServer and through
// the helpers it uses.
#include "automation/registration.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "automation/bstr.h"
#include "automation/errorinfo.h"
#include "automation/registry.h"
#include "automation/testing/testsrv_idl.h"

namespace pgx::auto_ {
namespace {

namespace fs = std::filesystem;

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pgx-registration-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/registry";
    ::setenv("PGX_REGISTRY", path_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string FileText() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static ClassRegistration Widget() {
    return {CLSID_Widget,
            u"Widget Class",
            u"TestSrv.Widget.1",
            u"TestSrv.Widget",
            u"Apartment",
            PGX_TESTSRV_MODULE,
            &TestSrvLib_TypeLibrary(),
            {{u"Control", u""}, {u"MiscStatus\\1", u"132497"}}};
  }
  static std::u16string ErrorDescription() {
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

  std::string dir_, path_;
};

// A server's keys go in whole or not at all: one key it cannot write (here an extra key whose name the
// registry refuses, the last it records) leaves the registry exactly as it was, and so does a damaged file.
TEST_F(RegistrationTest, AServerIsRegisteredWholeOrNotAtAll) {
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT, u"Other.App", u"", u"kept"), ERROR_SUCCESS);
  const std::string before = FileText();
  ClassRegistration broken = Widget();
  broken.extra_keys.push_back({u"Bad\x01Key", u"x"});
  {
    RegistryTransaction registration;
    RegisterTypeLibrary(registration, TestSrvLib_TypeLibrary(), PGX_TESTSRV_MODULE);
    RegisterClassKeys(registration, broken);
    EXPECT_EQ(CommitRegistration(registration), HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(FileText(), before);

  const std::string damaged = before + "[HKEY_CLASSES_ROOT\\Broken\n";
  std::ofstream(path_, std::ios::binary) << damaged;
  {
    RegistryTransaction registration;
    RegisterClassKeys(registration, Widget());
    EXPECT_EQ(CommitRegistration(registration), HRESULT_FROM_WIN32(ERROR_BADDB));
  }
  EXPECT_EQ(FileText(), damaged);
  std::u16string file16;
  Utf8ToUtf16(path_, file16);
  EXPECT_NE(ErrorDescription().find(file16), std::u16string::npos);

  std::ofstream(path_, std::ios::binary) << before;
  {
    RegistryTransaction registration;
    RegisterClassKeys(registration, Widget());
    RegisterTypeLibrary(registration, TestSrvLib_TypeLibrary(), PGX_TESTSRV_MODULE);
    EXPECT_EQ(CommitRegistration(registration), S_OK);
  }
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, u"TestSrv.Widget\\CurVer"), u"TestSrv.Widget.1");
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, u"Other.App"), u"kept");

  // Unregistering leaves another version of the library and what belongs to others.
  const std::u16string other_version = u"TypeLib\\" + GuidToU16String(LIBID_TestSrvLib) + u"\\9.9";
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT, other_version, u"", u"a later library"), ERROR_SUCCESS);
  {
    RegistryTransaction unregistration;
    UnregisterClassKeys(unregistration, Widget());
    UnregisterTypeLibrary(unregistration, TestSrvLib_TypeLibrary());
    EXPECT_EQ(CommitRegistration(unregistration), S_OK);
  }
  EXPECT_FALSE(RegReadString(HKEY_CLASSES_ROOT, u"TestSrv.Widget\\CurVer"));
  EXPECT_FALSE(RegReadString(HKEY_CLASSES_ROOT, u"CLSID\\" + GuidToU16String(CLSID_Widget)));
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, other_version), u"a later library");
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, u"Other.App"), u"kept");
}

TEST_F(RegistrationTest, ModulesRegisterAndUnregisterTheirKeys) {
  const std::string module = PGX_TESTSRV_MODULE;
  std::string message;
  ASSERT_EQ(RegisterServerModule(module, false, message), S_OK) << message;

  const std::u16string clsid = GuidToU16String(CLSID_Widget);
  const std::u16string libid = GuidToU16String(LIBID_TestSrvLib);
  struct Expected {
    std::u16string key, name, value;
  } expected[] = {
      {u"TestSrv.Widget.1", u"", u"Widget Class"},
      {u"TestSrv.Widget.1\\CLSID", u"", clsid},
      {u"TestSrv.Widget\\CurVer", u"", u"TestSrv.Widget.1"},
      {u"CLSID\\" + clsid, u"", u"Widget Class"},
      {u"CLSID\\" + clsid + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
      {u"CLSID\\" + clsid + u"\\VersionIndependentProgID", u"", u"TestSrv.Widget"},
      {u"CLSID\\" + clsid + u"\\TypeLib", u"", libid},
      {u"CLSID\\" + clsid + u"\\MiscStatus\\1", u"", u"132497"},
      {u"TypeLib\\" + libid + u"\\1.2", u"", u"Test server type library"},
      {u"TypeLib\\" + libid + u"\\1.2\\FLAGS", u"", u"0"},
      {u"Interface\\" + GuidToU16String(IID_IWidget), u"", u"IWidget"},
      {u"Interface\\" + GuidToU16String(IID_IWidget) + u"\\TypeLib", u"Version", u"1.2"},
      {u"Interface\\" + GuidToU16String(DIID__IWidgetEvents) + u"\\ProxyStubClsid32", u"",
       u"{00020420-0000-0000-C000-000000000046}"},
  };
  for (const Expected& e : expected) {
    EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, e.key, e.name), e.value);
  }
  HKEY control = nullptr;  // a marker key without a value
  ASSERT_EQ(
      RegOpenKeyEx(HKEY_CLASSES_ROOT, (u"CLSID\\" + clsid + u"\\Control").c_str(), 0, KEY_READ, &control),
      ERROR_SUCCESS);
  RegCloseKey(control);
  std::u16string module16;
  Utf8ToUtf16(module, module16);
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, u"TypeLib\\" + libid + u"\\1.2\\0\\win64"), module16);

  ASSERT_EQ(RegisterServerModule(module, true, message), S_OK) << message;
  for (const Expected& e : expected) EXPECT_FALSE(RegReadString(HKEY_CLASSES_ROOT, e.key, e.name));
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, (u"TypeLib\\" + libid).c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegisterServerModule(dir_ + "/none.so", false, message), CO_E_DLLNOTFOUND);
  EXPECT_NE(message.find("none.so"), std::string::npos);
}

}  // namespace
}  // namespace pgx::auto_
