// The registry file as a writer leaves it: locked, saved whole, in place of what the user set up (a link, a
// mode), and never from a file that cannot be read back.
#include <gtest/gtest.h>
#include <sys/stat.h>
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
    Use(dir_ + "/registry");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void Use(const std::string& path) {
    path_ = path;
    ::setenv("PGX_REGISTRY", path_.c_str(), 1);
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
  static mode_t Mode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  }

  std::string dir_, path_;
};

// A registry file that is a link (say, into a shared configuration folder) stays a link: the change goes to
// the file it names, through any number of links, relative or absolute, and a link to a file not yet
// there creates that file.
TEST_F(RegistryFileTest, WritesThroughALinkKeepTheLinkAndChangeItsTarget) {
  fs::create_directories(dir_ + "/shared/deeper");
  struct Case {
    const char* link;
    const char* target;  // as written into the link
    const char* file;    // the file that must receive the change, relative to the test folder
  } cases[] = {
      {"relative", "shared/registry-a", "shared/registry-a"},
      {"absolute", "", "shared/registry-b"},  // filled in below with an absolute path
      {"chain", "relative", "shared/registry-a"},
      {"into-folder", "shared/deeper/../deeper/registry-c", "shared/deeper/registry-c"},
  };
  Write(dir_ + "/shared/registry-a", "[HKEY_CURRENT_USER\\Before]\n@=\"kept\"\n");
  for (const Case& c : cases) {
    std::string target = *c.target ? c.target : dir_ + "/" + c.file;
    fs::create_symlink(target, dir_ + "/" + c.link);
    Use(dir_ + "/" + c.link);
    ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, u"Software\\Pgx", u"Link", u"through"), ERROR_SUCCESS)
        << c.link;
    EXPECT_TRUE(fs::is_symlink(dir_ + "/" + c.link)) << c.link;
    EXPECT_EQ(fs::read_symlink(dir_ + "/" + c.link), target) << c.link;
    EXPECT_NE(Text(dir_ + "/" + c.file).find("\"Link\"=\"through\""), std::string::npos) << c.link;
  }
  EXPECT_NE(Text(dir_ + "/shared/registry-a").find("[HKEY_CURRENT_USER\\Before]"), std::string::npos);
  // Nothing was left beside the link instead.
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << entry.path();
  }
}

// A user who made the file private (it may name modules and folders), or shared it with a group, keeps
// that mode through every change; a new file gets the usual mode.
TEST_F(RegistryFileTest, ASavedFileKeepsItsMode) {
  for (mode_t mode : {0600, 0640, 0664}) {
    Write(path_, "[HKEY_CURRENT_USER\\X]\n");
    ASSERT_EQ(::chmod(path_.c_str(), mode), 0);
    ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, u"X", u"n", u"v"), ERROR_SUCCESS);
    EXPECT_EQ(Mode(path_), mode) << std::oct << mode;
  }
  fs::remove(path_);
  mode_t old_mask = ::umask(022);
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, u"X", u"n", u"v"), ERROR_SUCCESS);
  ::umask(old_mask);
  EXPECT_EQ(Mode(path_), 0644u);
}

// A file with a key nested far deeper than any registration (a damaged or hostile file) is refused as
// damaged like any other unreadable file: no writer crashes on it, and it is left as it was.
TEST_F(RegistryFileTest, AFileWithAnAbsurdlyDeepKeyIsRefusedAsDamaged) {
  std::string deep = "[HKEY_CLASSES_ROOT";
  for (int i = 0; i < 20000; ++i) deep += "\\k";
  deep += "]\n@=\"bottom\"\n";
  const std::string text = "[HKEY_CURRENT_USER\\Fine]\n\n" + deep;
  Write(path_, text);
  EXPECT_EQ(RegWriteString(HKEY_CURRENT_USER, u"Fine", u"n", u"v"), ERROR_BADDB);
  EXPECT_NE(RegistryErrorText().find(path_ + ":3: the key is nested deeper than 512 levels"),
            std::string::npos)
      << RegistryErrorText();
  EXPECT_FALSE(RegReadString(HKEY_CURRENT_USER, u"Fine"));
  EXPECT_EQ(Text(path_), text);
}

// Saving writes each key's path once, so a file does not grow with the square of its depth: a file with
// one deep key stays about its size through a change elsewhere.
TEST_F(RegistryFileTest, ADeepKeyCostsItsOwnLineOnly) {
  std::string deep = "[HKEY_CLASSES_ROOT";
  for (int i = 0; i < 500; ++i) deep += "\\key";
  deep += "]\n@=\"bottom\"\n";
  Write(path_, deep);
  ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, u"Other", u"", u"v"), ERROR_SUCCESS);
  const std::string saved = Text(path_);
  EXPECT_LT(saved.size(), deep.size() + 200) << saved.size();
  std::u16string path;
  for (int i = 0; i < 500; ++i) path += u"key\\";
  EXPECT_EQ(RegReadString(HKEY_CLASSES_ROOT, path), u"bottom");
}

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
  auto key_name = [](int writer) {
    return u"Writer" + std::u16string(1, static_cast<char16_t>(u'0' + writer)) + u"\\Key";
  };
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
      EXPECT_EQ(
          RegQueryValueEx(key, value_name(i).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
          ERROR_SUCCESS);
      EXPECT_EQ(value, static_cast<DWORD>(i));
    }
    RegCloseKey(key);
  }
  EXPECT_FALSE(fs::exists(path_ + ".tmp." + std::to_string(children[0])));
}

}  // namespace
}  // namespace pgx::auto_
