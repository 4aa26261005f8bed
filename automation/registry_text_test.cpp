#include "automation/registry_text.h"

#include <gtest/gtest.h>

#include <string>

#include "automation/registry.h"

namespace pgx::auto_::registry {
namespace {

KeyPath Path(std::u16string_view text) {
  KeyPath path;
  EXPECT_EQ(SplitKeyPath(text, path), PathError::kNone);
  return path;
}

void SetText(Tree& tree, int root, std::u16string_view key, std::u16string name, std::u16string text) {
  Value v;
  v.name = name;
  v.type = REG_SZ;
  v.text = std::move(text);
  CreateKey(tree, root, Path(key)).values[FoldName(name)] = v;
}

TEST(RegistryTextTest, TheTextReadsBackAsTheTreeItWasWrittenFrom) {
  Tree tree;
  SetText(tree, kClassesRoot, u"Pgx.Test\\Sub\\Deep", u"", u"quote \" back\\slash\nline\t\x01 \u00e9\u6f22");
  SetText(tree, kClassesRoot, u"Pgx.Test", u"Name \"q\"", u"top");
  CreateKey(tree, kClassesRoot, Path(u"Pgx.Test\\Sub\\Empty"));  // a key that only marks something
  SetText(tree, kCurrentUser, u"", u"RootValue", u"at the root");
  Value number;
  number.name = u"Number";
  number.type = REG_DWORD;
  number.number = 0xDEADBEEF;
  CreateKey(tree, kCurrentUser, Path(u"Software\\Pgx")).values[u"number"] = number;

  const std::string text = WriteText(tree);
  Tree read;
  ASSERT_EQ(ParseText("f", text, read), "") << text;
  EXPECT_EQ(WriteText(read), text);
  const Key* deep = FindKey(read, kClassesRoot, Path(u"pgx.test\\SUB\\deep"));
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->values.at(u"").text, u"quote \" back\\slash\nline\t\x01 \u00e9\u6f22");
  EXPECT_NE(FindKey(read, kClassesRoot, Path(u"Pgx.Test\\Sub\\Empty")), nullptr);
  EXPECT_EQ(FindKey(read, kCurrentUser, Path(u"Software\\Pgx"))->values.at(u"number").number, 0xDEADBEEFu);
  EXPECT_EQ(read.roots[kCurrentUser].values.at(u"rootvalue").text, u"at the root");

  // Keys that hold nothing but subkeys are implied by the subkeys' lines.
  EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\Pgx.Test]\n\"Name \\\"q\\\"\"=\"top\""), std::string::npos)
      << text;
  EXPECT_EQ(text.find("[HKEY_CLASSES_ROOT\\Pgx.Test\\Sub]"), std::string::npos) << text;
  EXPECT_EQ(text.find("[HKEY_CURRENT_USER\\Software]"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\Pgx.Test\\Sub\\Empty]"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Number\"=dword:deadbeef"), std::string::npos) << text;
  EXPECT_NE(text.find("\\x01"), std::string::npos) << text;
}

TEST(RegistryTextTest, DamageIsReportedWithTheFileAndTheLine) {
  std::string too_deep = "[HKEY_CURRENT_USER";
  for (std::size_t i = 0; i <= kMaxKeyDepth; ++i) too_deep += "\\k";
  std::string deepest = "[HKEY_CURRENT_USER";
  for (std::size_t i = 0; i < kMaxKeyDepth; ++i) deepest += "\\k";
  std::string too_long_path = "[HKEY_CURRENT_USER";
  for (int i = 0; i < 200; ++i) too_long_path += "\\" + std::string(200, 'p');
  struct Case {
    std::string text;
    const char* expected;  // "" when the text is fine
  } cases[] = {
      {"[HKEY_CLASSES_ROOT\\Good]\n@=\"fine\"\n\"Broken\"=\"no end\n", "f:3: unterminated string"},
      {"@=\"early\"\n", "f:1: a value stands before the first [key] line"},
      {"[HKEY_LOCAL_MACHINE\\X]\n", "f:1: unknown root key 'HKEY_LOCAL_MACHINE'"},
      {"; comment\n[HKEY_CURRENT_USER\\X]\n\"n\"=dword:12\n", "f:3: expected 8 hex digits"},
      {"[HKEY_CURRENT_USER\\X\n", "f:1: expected ']'"},
      {"[HKEY_CURRENT_USER\\X]\nname=\"v\"\n", "f:2: expected '[key]'"},
      {"[HKEY_CURRENT_USER\\X]\n\"n\"=\"\\q\"\n", "f:2: unknown escape '\\q'"},
      {"[HKEY_CURRENT_USER\\X]\n\"n\"=\"\\xff\"\n", "f:2: the string is not valid UTF-8"},
      {"[]\n", "f:1: bad key name"},
      {"[HKEY_CURRENT_USER\\a\x01]\n", "f:1: bad key name"},
      {"\n" + too_deep + "]\n", "f:2: the key is nested deeper than 512 levels"},
      {"[HKEY_CURRENT_USER\\" + std::string(256, 'n') + "]\n", "f:1: the key name is longer than 255"},
      {too_long_path + "]\n",
       "f:1: the key name is longer than 255 characters or its path longer than 32767"},
      {deepest + "]\n", ""},
      {"[\\hkey_current_user\\\\X\\]\n@=\"v\"\n", ""},
      {"[HKEY_CURRENT_USER]\r\n  @ = \"v\"  \r\n", ""},
  };
  for (const Case& c : cases) {
    Tree tree;
    std::string error = ParseText("f", c.text, tree);
    if (*c.expected) {
      EXPECT_EQ(error.rfind(c.expected, 0), 0u) << error;
    } else {
      EXPECT_EQ(error, "") << c.text.substr(0, 80);
    }
  }
}

}  // namespace
}  // namespace pgx::auto_::registry
