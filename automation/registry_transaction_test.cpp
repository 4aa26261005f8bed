#include "automation/registry_transaction.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pgx::auto_ {
namespace {

namespace fs = std::filesystem;

class RegistryTransactionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pgx-registry-transaction-test-XXXXXX";
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
  static bool KeyExists(const char16_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  std::string dir_, path_;
};

// The changes apply in the order recorded, each seeing the ones before, and reach the file only on Commit.
TEST_F(RegistryTransactionTest, ChangesApplyInOrderOnCommit) {
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT, u"Old\\Sub", u"", u"old"), ERROR_SUCCESS);
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT, u"Lib\\1.0", u"", u"one"), ERROR_SUCCESS);
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT, u"Lib\\2.0", u"", u"two"), ERROR_SUCCESS);
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT, u"Full", u"Keep", u"k"), ERROR_SUCCESS);
  HKEY app = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, u"App", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &app, nullptr),
            ERROR_SUCCESS);
  const std::string before = FileText();

  RegistryTransaction tx;
  tx.SetString(HKEY_CLASSES_ROOT, u"New\\Key", u"", u"first");
  tx.SetString(HKEY_CLASSES_ROOT, u"new\\KEY", u"", u"second");  // the later change wins
  tx.SetString(HKEY_CLASSES_ROOT, u"New\\Key", u"Gone", u"x");
  tx.DeleteValue(HKEY_CLASSES_ROOT, u"New\\Key", u"GONE");
  tx.SetDword(app, u"Sub", u"Count", 7);  // relative to a handle
  tx.CreateKey(HKEY_CLASSES_ROOT, u"Marker\\Only");
  tx.DeleteTree(HKEY_CLASSES_ROOT, u"Old");
  tx.DeleteTree(HKEY_CLASSES_ROOT, u"Never\\There");  // nothing to remove is no failure
  tx.DeleteTree(HKEY_CLASSES_ROOT, u"Lib\\1.0");
  tx.DeleteKeyIfEmpty(HKEY_CLASSES_ROOT, u"Lib");   // another version is left
  tx.DeleteKeyIfEmpty(HKEY_CLASSES_ROOT, u"Full");  // it holds a value
  tx.DeleteTree(app, u"");                          // what the key holds, not the key
  tx.SetString(app, u"", u"After", u"a");
  EXPECT_EQ(tx.size(), 13u);
  EXPECT_EQ(tx.status(), static_cast<LSTATUS>(ERROR_SUCCESS));
  EXPECT_EQ(FileText(), before);

  ASSERT_EQ(tx.Commit(), static_cast<LSTATUS>(ERROR_SUCCESS));
  EXPECT_EQ(tx.size(), 0u);
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, u"New\\Key"), u"second");
  EXPECT_FALSE(RegReadString(HKEY_CLASSES_ROOT, u"New\\Key", u"Gone"));
  EXPECT_FALSE(KeyExists(u"App\\Sub"));
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, u"App", u"After"), u"a");
  EXPECT_TRUE(KeyExists(u"Marker\\Only"));
  EXPECT_FALSE(KeyExists(u"Old"));
  EXPECT_FALSE(KeyExists(u"Lib\\1.0"));
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, u"Lib\\2.0"), u"two");
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, u"Full", u"Keep"), u"k");

  // The last version gone, the library's key goes with it.
  tx.DeleteTree(HKEY_CLASSES_ROOT, u"Lib\\2.0");
  tx.DeleteKeyIfEmpty(HKEY_CLASSES_ROOT, u"Lib");
  ASSERT_EQ(tx.Commit(), static_cast<LSTATUS>(ERROR_SUCCESS));
  EXPECT_FALSE(KeyExists(u"Lib"));
  RegCloseKey(app);
}

// Whatever goes wrong, the file stays as it was: not one of the transaction's changes is saved.
TEST_F(RegistryTransactionTest, AFailureSavesNothing) {
  ASSERT_EQ(RegWriteString(HKEY_CLASSES_ROOT, u"Existing", u"", u"kept"), ERROR_SUCCESS);
  const std::string before = FileText();
  const char16_t lone_surrogate[] = {u'a', 0xD800, 0};
  std::u16string too_deep;
  for (int i = 0; i < 513; ++i) too_deep += u"k\\";
  struct Case {
    const char* what;
    void (*record)(RegistryTransaction&, const std::u16string&, const char16_t*);
    LSTATUS expected;
  } cases[] = {
      {"unknown handle",
       [](RegistryTransaction& tx, const std::u16string&, const char16_t*) {
         tx.SetString(reinterpret_cast<HKEY>(0x1234), u"X", u"", u"v");
       },
       ERROR_INVALID_HANDLE},
      {"control character in a key name",
       [](RegistryTransaction& tx, const std::u16string&, const char16_t*) {
         tx.CreateKey(HKEY_CLASSES_ROOT, u"Bad\x01Name");
       },
       ERROR_INVALID_PARAMETER},
      {"key too deep",
       [](RegistryTransaction& tx, const std::u16string& deep, const char16_t*) {
         tx.SetString(HKEY_CLASSES_ROOT, deep, u"", u"v");
       },
       ERROR_INVALID_PARAMETER},
      {"unpaired surrogate in a text",
       [](RegistryTransaction& tx, const std::u16string&, const char16_t* text) {
         tx.SetString(HKEY_CLASSES_ROOT, u"X", u"", text);
       },
       ERROR_INVALID_PARAMETER},
      {"a caller's own failure",
       [](RegistryTransaction& tx, const std::u16string&, const char16_t*) {
         tx.Fail(ERROR_NOT_ENOUGH_MEMORY);
       },
       ERROR_NOT_ENOUGH_MEMORY},
  };
  for (const Case& c : cases) {
    RegistryTransaction tx;
    tx.SetString(HKEY_CLASSES_ROOT, u"Existing", u"", u"changed");
    tx.SetString(HKEY_CLASSES_ROOT, u"Before", u"", u"v");
    c.record(tx, too_deep, lone_surrogate);
    tx.SetString(HKEY_CLASSES_ROOT, u"After", u"", u"v");
    EXPECT_EQ(tx.status(), c.expected) << c.what;
    EXPECT_EQ(tx.Commit(), c.expected) << c.what;
    EXPECT_EQ(FileText(), before) << c.what;
    EXPECT_EQ(tx.Commit(), static_cast<LSTATUS>(ERROR_SUCCESS)) << c.what;  // emptied by the failed one
  }

  const std::string damaged = "[HKEY_CLASSES_ROOT\\Existing]\n@=\"no end\n";
  std::ofstream(path_, std::ios::binary) << damaged;
  RegistryTransaction tx;
  tx.SetString(HKEY_CLASSES_ROOT, u"Existing", u"", u"changed");
  EXPECT_EQ(tx.Commit(), static_cast<LSTATUS>(ERROR_BADDB));
  EXPECT_NE(RegistryErrorText().find(path_ + ":2:"), std::string::npos) << RegistryErrorText();
  EXPECT_EQ(FileText(), damaged);
}

}  // namespace
}  // namespace pgx::auto_
