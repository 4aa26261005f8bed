#include <string>
#include <unordered_set>

#include <gtest/gtest.h>

#include "automation/bstr.h"
#include "automation/guid.h"
#include "automation/interfaces.h"

namespace pgx::auto_ {
namespace {

constexpr GUID kSample = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
constexpr const char16_t* kSampleText = u"{12345678-9ABC-DEF0-0123-456789ABCDEF}";

TEST(GuidTest, TextFormRoundTrips) {
  OLECHAR text[39];
  ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
  EXPECT_EQ(std::u16string_view(text), kSampleText);
  EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);  // no room for the NUL
  EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");

  CLSID parsed{};
  ASSERT_EQ(CLSIDFromString(kSampleText, &parsed), S_OK);
  EXPECT_EQ(parsed, kSample);
  // Lower-case hex is accepted too.
  IID lower{};
  ASSERT_EQ(IIDFromString(u"{12345678-9abc-def0-0123-456789abcdef}", &lower), S_OK);
  EXPECT_EQ(lower, kSample);

  LPOLESTR allocated = nullptr;
  ASSERT_EQ(StringFromCLSID(kSample, &allocated), S_OK);
  EXPECT_EQ(std::u16string_view(allocated), kSampleText);
  CoTaskMemFree(allocated);

  static_assert(*ParseGuid("{00020400-0000-0000-C000-000000000046}") == IID_IDispatch);
}

TEST(GuidTest, BadTextIsRefusedAndLeavesTheOutputAlone) {
  const char16_t* bad[] = {
      u"",
      u"12345678-9ABC-DEF0-0123-456789ABCDEF",     // no braces
      u"{12345678-9ABC-DEF0-0123-456789ABCDE}",    // one digit short
      u"{12345678-9ABC-DEF0-0123-456789ABCDEF0}",  // one digit too many
      u"{12345678-9ABC-DEF0-0123-456789ABCDEG}",   // not hex
      u"{12345678+9ABC-DEF0-0123-456789ABCDEF}",   // wrong separator
      u"{12345678-9ABC-DEF00123-456789ABCDEF-}",   // separator misplaced
      u"{12345678-9ABC-DEF0-0123-456789ABCDEF} ",  // trailing blank
      u"Pgxsrv.PgxGen",
  };
  for (const char16_t* text : bad) {
    SCOPED_TRACE(Bstr(text).ToUtf8());
    CLSID clsid = kSample;
    EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, kSample);
    IID iid = kSample;
    EXPECT_EQ(IIDFromString(text, &iid), E_INVALIDARG);
    EXPECT_EQ(iid, kSample);
  }
  // A non-ASCII character whose low byte is a hex digit is not a hex digit.
  std::u16string wide(kSampleText);
  wide[1] = u'\u0131';
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(wide.c_str(), &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(kSampleText, nullptr), E_INVALIDARG);
  CLSID null_text = kSample;
  EXPECT_EQ(CLSIDFromString(nullptr, &null_text), S_OK);
  EXPECT_EQ(null_text, CLSID_NULL);
}

TEST(GuidTest, ComparisonAndHashingSeeEveryByte) {
  std::unordered_set<GUID> seen;
  for (int byte = 0; byte < 16; ++byte) {
    GUID g = kSample;
    reinterpret_cast<unsigned char*>(&g)[byte] ^= 0x01;
    EXPECT_NE(g, kSample);
    EXPECT_TRUE(g < kSample || kSample < g);
    seen.insert(g);
  }
  seen.insert(kSample);
  EXPECT_EQ(seen.size(), 17u);
  EXPECT_TRUE(IsEqualGUID(kSample, kSample));
  EXPECT_FALSE(kSample < kSample);
}

}  // namespace
}  // namespace pgx::auto_
