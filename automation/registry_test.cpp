#include "automation/registry.h"

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

// Every test works on a registry file of its own.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pgx-registry-test-XXXXXX";
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
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static DWORD Dword(HKEY key, const char16_t* name) {
    DWORD type = 0, value = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    return value;
  }

  std::string dir_, path_;
};

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, u"Pgx.Test\\Sub\\Deep", 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  const char16_t text[] = u"quote \" back\\slash\nline \u00e9\u6f22";
  ASSERT_EQ(RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  DWORD number = 0xDEADBEEF;
  ASSERT_EQ(
      RegSetValueEx(key, u"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
      ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  // Read back through a new handle opened with another spelling of the names.
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, u"PGX.TEST\\sub\\DEEP"), std::u16string(text));
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, u"pgx.test\\SUB\\deep", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(Dword(key, u"NUMBER"), 0xDEADBEEFu);

  // Size queries and short buffers.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueEx(key, u"", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof text);
  BYTE small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueEx(key, nullptr, nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(RegQueryValueEx(key, u"Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);

  // The file is text a person can read.
  std::string file = FileText();
  EXPECT_NE(file.find("[HKEY_CLASSES_ROOT\\Pgx.Test\\Sub\\Deep]"), std::string::npos) << file;
  EXPECT_NE(file.find("\"Number\"=dword:deadbeef"), std::string::npos) << file;
  EXPECT_NE(file.find("@=\"quote \\\" back\\\\slash\\nline"), std::string::npos) << file;

  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, u"Pgx.Test\\Sub\\Deep", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(key);
}

TEST_F(RegistryTest, EnumerationAndDeletion) {
  for (const char16_t* name : {u"Root\\b", u"Root\\A", u"Root\\c\\inner"}) {
    ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, name, u"", u"x"), ERROR_SUCCESS);
  }
  HKEY root = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"Root", 0, KEY_READ, &root), ERROR_SUCCESS);
  std::vector<std::u16string> names;
  for (DWORD i = 0;; ++i) {
    OLECHAR name[16];
    DWORD size = 16;
    LSTATUS s = RegEnumKeyEx(root, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(s, ERROR_SUCCESS);
    names.emplace_back(name, size);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"b", u"c"}));
  OLECHAR tiny[1];
  DWORD tiny_size = 1;
  EXPECT_EQ(RegEnumKeyEx(root, 0, tiny, &tiny_size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

  EXPECT_EQ(RegDeleteKey(root, u"c"), ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(RegDeleteKey(root, u"A"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKey(root, u"A"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTree(root, u"C"), ERROR_SUCCESS);
  EXPECT_FALSE(RegReadString(HKEY_CURRENT_USER, u"Root\\c\\inner"));
  EXPECT_TRUE(RegReadString(HKEY_CURRENT_USER, u"Root\\b"));

  // The handle of a deleted key reports it; the predefined roots cannot be deleted.
  EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, u"Root"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueEx(root, nullptr, nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);
  RegCloseKey(root);
  EXPECT_EQ(RegCloseKey(root), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyEx(reinterpret_cast<HKEY>(0x1234), u"x", 0, KEY_READ, &root), ERROR_INVALID_HANDLE);
}

// The file holds UTF-8, so text that is not valid UTF-16 is refused instead of being saved mangled.
TEST_F(RegistryTest, NamesAndTextsWithAnUnpairedSurrogateAreRefused) {
  const char16_t lone_high[] = {u'a', 0xD800, u'b', 0};
  const char16_t lone_low[] = {0xDC00, 0};
  const char16_t pair[] = {u'x', 0xD83D, 0xDE00, 0};
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"Software\\Pgx", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                           nullptr),
            ERROR_SUCCESS);
  struct Case {
    const char16_t* key;
    const char16_t* name;
    const char16_t* text;
    LSTATUS expected;
  };
  const Case cases[] = {
      {lone_high, nullptr, nullptr, ERROR_INVALID_PARAMETER},
      {lone_low, nullptr, nullptr, ERROR_INVALID_PARAMETER},
      {nullptr, lone_high, u"v", ERROR_INVALID_PARAMETER},
      {nullptr, u"Name", lone_low, ERROR_INVALID_PARAMETER},
      {nullptr, u"Name", lone_high, ERROR_INVALID_PARAMETER},
      {pair, nullptr, nullptr, ERROR_SUCCESS},
      {nullptr, pair, pair, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    if (c.key) {
      HKEY sub = nullptr;
      EXPECT_EQ(RegCreateKeyEx(key, c.key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                c.expected);
      if (sub) RegCloseKey(sub);
    } else {
      std::u16string text(c.text);
      EXPECT_EQ(RegSetValueEx(key, c.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(char16_t))),
                c.expected);
    }
  }
  RegCloseKey(key);
  // What was refused left nothing behind; what was accepted reads back unchanged.
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, u"Software\\Pgx", pair), std::u16string(pair));
  EXPECT_FALSE(RegReadString(HKEY_CURRENT_USER, u"Software\\Pgx", u"Name"));
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"Software\\Pgx", 0, KEY_READ, &key), ERROR_SUCCESS);
  char16_t name[64];
  DWORD length = 64;
  EXPECT_EQ(RegEnumKeyEx(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, length), std::u16string(pair));
  length = 64;
  EXPECT_EQ(RegEnumKeyEx(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

// The bounds hold for the sum of a handle's path and the path below it, so no writer makes a key that a
// later reader would refuse as damaged.
TEST_F(RegistryTest, KeysBeyondTheDepthAndLengthBoundsAreRefused) {
  std::u16string half;
  for (int i = 0; i < 256; ++i) half += u"k\\";
  HKEY middle = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, half.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &middle,
                           nullptr),
            ERROR_SUCCESS);
  struct Case {
    std::u16string sub_key;
    LSTATUS expected;
  } cases[] = {
      {half + u"one-too-many", ERROR_INVALID_PARAMETER},
      {std::u16string(256, u'n'), ERROR_INVALID_PARAMETER},
      {std::u16string(255, u'n'), ERROR_SUCCESS},
      {half, ERROR_SUCCESS},  // 512 levels
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RegWriteString(middle, c.sub_key, u"", u"v"), c.expected) << c.sub_key.size();
  }
  RegCloseKey(middle);
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, half + half), u"v");
}

TEST_F(RegistryTest, TheFileIsPerUserWhenNotNamed) {
  ::unsetenv("PGX_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  EXPECT_EQ(RegistryPath(), dir_ + "/pgx/registry");
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", dir_.c_str(), 1);
  EXPECT_EQ(RegistryPath(), dir_ + "/.config/pgx/registry");
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, u"Software\\Pgx", u"Name", u"v"), ERROR_SUCCESS);
  EXPECT_TRUE(fs::exists(dir_ + "/.config/pgx/registry"));
}

}  // namespace
}  // namespace pgx::auto_
