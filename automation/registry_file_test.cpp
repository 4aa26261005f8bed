// The registry file as a writer leaves it: locked, saved whole, and never from a file that cannot be read
// back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "automation/registry.h"

namespace pgx::auto_ {
namespace {

namespace fs = std::filesystem;

class RegistryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pgx-registry-file-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/registry";
    ::setenv("PGX_REGISTRY", path_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static std::string Text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }

  std::string dir_, path_;
};

TEST_F(RegistryFileTest, ADamagedFileIsReportedWithItsLineAndNeverOverwritten) {
  const std::string damaged = "[HKEY_CLASSES_ROOT\\Good]\n@=\"fine\"\n\"Broken\"=\"no end\n";
  Write(path_, damaged);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, u"Good", 0, KEY_READ, &key), ERROR_BADDB);
  EXPECT_NE(RegistryErrorText().find(path_ + ":3:"), std::string::npos) << RegistryErrorText();
  EXPECT_NE(RegistryErrorText().find("unterminated string"), std::string::npos) << RegistryErrorText();
  EXPECT_EQ(RegWriteString(HKEY_CLASSES_ROOT, u"Other", u"", u"value"), ERROR_BADDB);
  EXPECT_EQ(Text(path_), damaged);
}

TEST_F(RegistryFileTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kWrites = 40;
  auto key_name = [](int writer) { return u"Writer" + std::u16string(1, static_cast<char16_t>(u'0' + writer)) + u"\\Key"; };
  auto value_name = [](int i) {
    return u"V" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
           std::u16string(1, static_cast<char16_t>(u'a' + i / 26));
  };
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        DWORD v = static_cast<DWORD>(i);
        if (RegSetKeyValue(HKEY_CLASSES_ROOT, key_name(c).c_str(), value_name(i).c_str(), REG_DWORD, &v,
                           sizeof v) != ERROR_SUCCESS) {
          ++failures;
        }
      }
      ::_exit(failures);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  for (int c = 0; c < 2; ++c) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, key_name(c).c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    for (int i = 0; i < kWrites; ++i) {
      DWORD type = 0, value = 0, size = sizeof value;
      EXPECT_EQ(RegQueryValueEx(key, value_name(i).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                &size),
                ERROR_SUCCESS);
      EXPECT_EQ(value, static_cast<DWORD>(i));
    }
    RegCloseKey(key);
  }
  EXPECT_FALSE(fs::exists(path_ + ".tmp." + std::to_string(children[0])));
}

}  // namespace
}  // namespace pgx::auto_
