#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "automation/bstr.h"
#include "automation/com_error.h"

namespace pgx::auto_ {
namespace {

DWORD PrefixOf(BSTR b) {
  DWORD prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(b) - sizeof(DWORD), sizeof prefix);
  return prefix;
}

TEST(BstrTest, LayoutIsByteCountCharactersAndUncountedNul) {
  BSTR b = SysAllocString(u"abc");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PrefixOf(b), 6u);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(SysStringByteLen(b), 6u);
  EXPECT_EQ(b[3], u'\0');
  SysFreeString(b);
}

TEST(BstrTest, NullAndEmptyAreDistinct) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);  // allowed

  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], u'\0');
  SysFreeString(empty);
}

TEST(BstrTest, EmbeddedNulAndSurrogatePairsCountAsCharacters) {
  const char16_t text[] = u"a\0b\U0001F600";  // 'a', NUL, 'b', a surrogate pair
  BSTR b = SysAllocStringLen(text, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(SysStringByteLen(b), 10u);
  EXPECT_EQ(BstrView(b), std::u16string_view(text, 5));
  EXPECT_EQ(b[5], u'\0');
  // SysAllocString stops at the first NUL.
  BSTR cut = SysAllocString(text);
  EXPECT_EQ(SysStringLen(cut), 1u);
  SysFreeString(cut);
  SysFreeString(b);
}

TEST(BstrTest, NullSourceGivesZeroFilledString) {
  BSTR b = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 4u);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(b[i], u'\0');
  SysFreeString(b);
}

TEST(BstrTest, OverflowingLengthsGiveNull) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringLen(u"x", 0x80000000u), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFEu), nullptr);
  BSTR keep = SysAllocString(u"keep");
  EXPECT_FALSE(SysReAllocStringLen(&keep, nullptr, 0xFFFFFFFFu));
  EXPECT_EQ(BstrView(keep), u"keep");  // unchanged on failure
  SysFreeString(keep);
}

TEST(BstrTest, ByteLengthKeepsOddCounts) {
  BSTR b = SysAllocStringByteLen("abc", 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringByteLen(b), 3u);
  EXPECT_EQ(SysStringLen(b), 1u);
  EXPECT_EQ(std::memcmp(b, "abc", 3), 0);
  // The data is followed by a NUL character.
  EXPECT_EQ(reinterpret_cast<const char*>(b)[3], 0);
  EXPECT_EQ(reinterpret_cast<const char*>(b)[4], 0);
  SysFreeString(b);
}

TEST(BstrTest, ReAllocMayTakeItsSourceFromTheOldString) {
  BSTR b = SysAllocString(u"hello world");
  ASSERT_TRUE(SysReAllocString(&b, b + 6));
  EXPECT_EQ(BstrView(b), u"world");
  ASSERT_TRUE(SysReAllocStringLen(&b, b, 3));
  EXPECT_EQ(BstrView(b), u"wor");
  ASSERT_TRUE(SysReAllocString(&b, nullptr));
  EXPECT_EQ(b, nullptr);
  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

struct Utf8Row {
  const char* what;
  std::string utf8;
  bool valid;
  std::u16string utf16;
};

TEST(BstrTest, Utf8ConversionIsStrict) {
  const Utf8Row rows[] = {
      {"ASCII", "Pulse", true, u"Pulse"},
      {"two-byte", "\xC2\xB5s", true, u"\u00B5s"},
      {"three-byte", "\xE2\x82\xAC", true, u"\u20AC"},
      {"four-byte becomes a pair", "\xF0\x9F\x98\x80", true, u"\U0001F600"},
      {"embedded NUL", std::string("a\0b", 3), true, std::u16string(u"a\0b", 3)},
      {"highest code point", "\xF4\x8F\xBF\xBF", true, u"\U0010FFFF"},
      {"stray continuation", "\x80", false, u""},
      {"truncated sequence", "\xE2\x82", false, u""},
      {"truncated at end after text", "ok\xC3", false, u""},
      {"overlong slash", "\xC0\xAF", false, u""},
      {"overlong three-byte", "\xE0\x80\xAF", false, u""},
      {"encoded surrogate", "\xED\xA0\x80", false, u""},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", false, u""},
      {"invalid lead byte", "\xFF", false, u""},
      {"bad continuation", "\xC3\x28", false, u""},
  };
  for (const Utf8Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::u16string out = u"untouched";
    EXPECT_EQ(Utf8ToUtf16(row.utf8, out), row.valid);
    if (row.valid) {
      EXPECT_EQ(out, row.utf16);
      std::string back;
      ASSERT_TRUE(Utf16ToUtf8(out, back));
      EXPECT_EQ(back, row.utf8);
    } else {
      EXPECT_EQ(out, u"untouched");
      BSTR b = reinterpret_cast<BSTR>(0x1);  // must stay as it is
      EXPECT_EQ(BstrFromUtf8(row.utf8, &b), kConversionFailed);
      EXPECT_EQ(b, reinterpret_cast<BSTR>(0x1));
    }
  }
}

TEST(BstrTest, UnpairedSurrogatesAreConversionFailures) {
  const std::u16string bad[] = {
      std::u16string(1, u'\xD800'),          // lone high surrogate at the end
      std::u16string(1, u'\xDC00'),          // lone low surrogate
      std::u16string{u'\xD800', u'a'},       // high surrogate followed by a normal character
      std::u16string{u'\xDC00', u'\xD800'},  // reversed pair
  };
  for (const auto& text : bad) {
    std::string out = "untouched";
    EXPECT_FALSE(Utf16ToUtf8(text, out));
    EXPECT_EQ(out, "untouched");
    BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    EXPECT_EQ(BstrToUtf8(b, &out), kConversionFailed);
    EXPECT_THROW(Bstr::Attach(b).ToUtf8(), com_error);
  }
}

TEST(BstrTest, TextFromOutsideConvertsAsUtf8OrElseLatin1) {
  struct Row {
    const char* what;
    std::string narrow;
    std::u16string wide;
  } rows[] = {
      {"ASCII", "Pulse", u"Pulse"},
      {"empty", "", u""},
      {"valid UTF-8 stays UTF-8", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"Latin-1 bytes", "\xE9t\xE9", u"\u00E9t\u00E9"},
      {"one bad byte makes the whole text Latin-1", "\xC3\xA9 \xE9", u"\u00C3\u00A9 \u00E9"},
      {"every byte value keeps its value", "\x80\xA0\xFF", u"\u0080\u00A0\u00FF"},
      {"truncated sequence at the end", "1.5 \xC2", u"1.5 \u00C2"},
      {"embedded NUL", std::string("\xB5\0s", 3), std::u16string(u"\u00B5\0s", 3)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(Utf8OrLatin1ToUtf16(row.narrow), row.wide);
    BSTR b = nullptr;
    ASSERT_EQ(BstrFromUtf8OrLatin1(row.narrow, &b), S_OK);
    ASSERT_NE(b, nullptr);  // an empty text is an empty string, not NULL
    EXPECT_EQ(BstrView(b), row.wide);
    SysFreeString(b);
    EXPECT_EQ(Bstr::FromUtf8OrLatin1(row.narrow).View(), row.wide);
  }
  EXPECT_EQ(BstrFromUtf8OrLatin1("x", nullptr), E_POINTER);
}

TEST(BstrTest, BstrRoundTripKeepsEmbeddedNul) {
  BSTR b = nullptr;
  ASSERT_EQ(BstrFromUtf8(std::string("x\0y", 3), &b), S_OK);
  EXPECT_EQ(SysStringLen(b), 3u);
  std::string back;
  ASSERT_EQ(BstrToUtf8(b, &back), S_OK);
  EXPECT_EQ(back, std::string("x\0y", 3));
  SysFreeString(b);
  ASSERT_EQ(BstrToUtf8(nullptr, &back), S_OK);
  EXPECT_EQ(back, "");
  EXPECT_EQ(BstrFromUtf8("a", nullptr), E_POINTER);
}

TEST(BstrTest, OwningBstrCopiesMovesAndHandsOut) {
  Bstr a = Bstr::FromUtf8("µs");
  EXPECT_EQ(a.View(), u"\u00B5s");
  Bstr b = a;
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(a, b);
  Bstr c = std::move(a);
  EXPECT_EQ(a.get(), nullptr);
  EXPECT_EQ(c.ToUtf8(), "µs");
  BSTR handed = c.Copy();
  EXPECT_EQ(BstrView(handed), c.View());
  SysFreeString(handed);
  BSTR* out = c.Out();  // frees the old value
  EXPECT_EQ(*out, nullptr);
  *out = SysAllocString(u"new");
  EXPECT_EQ(c, std::u16string_view(u"new"));
  EXPECT_TRUE(Bstr().Empty());
  EXPECT_EQ(Bstr(), Bstr(u""));  // NULL and empty compare equal as strings
  EXPECT_THROW(Bstr::FromUtf8("\xFF"), com_error);
  b = b;  // self-assignment keeps the value
  EXPECT_EQ(b.ToUtf8(), "µs");
}

}  // namespace
}  // namespace pgx::auto_
