// The small pieces every member stands on: the call-name stack, the text buffer, the keyword tables and the
// byte-array checks.
#include <gtest/gtest.h>

#include <string>

#include "automation/bstr.h"
#include "automation/safearray.h"
#include "server/core/byte_array.h"
#include "server/core/call_name_stack.h"
#include "server/core/lookup.h"
#include "server/core/messages.h"
#include "server/core/text_buffer.h"

namespace pgx::server {
namespace {

TEST(CallNameStack, KeepsTwentyNamesAndCountsTheRestAsOverflow) {
  CallNameStack stack;
  std::string names[21];
  for (int i = 0; i < 21; ++i) {
    names[i] = "Member" + std::to_string(i);
    stack.Push(names[i].c_str());
  }
  EXPECT_EQ(stack.Count(), 20);
  EXPECT_EQ(stack.Overflow(), 1);
  stack.Pop();  // the 21st push: only the overflow goes
  EXPECT_EQ(stack.Count(), 20);
  EXPECT_EQ(stack.Overflow(), 0);
  EXPECT_STREQ(stack.Entry(19), "Member19");
  stack.Pop();
  EXPECT_EQ(stack.Count(), 19);
  EXPECT_STREQ(stack.Entry(19), "Bad Index");
  EXPECT_STREQ(stack.Entry(-1), "Bad Index");
}

TEST(CallNameStack, AnOutermostCallStartsUnreported) {
  CallNameStack stack;
  stack.Push("Instrument.Open");
  stack.SetReported();
  stack.SetPublished(E_FAIL);
  stack.Push("Channels.Refresh");
  EXPECT_TRUE(stack.Reported());
  stack.Pop();
  stack.Pop();
  EXPECT_STREQ(stack.Entry(0), "Bad Index");
  stack.Push("Instrument.Close");
  EXPECT_FALSE(stack.Reported());
  EXPECT_EQ(stack.Published(), 0);
}

TEST(CallFrame, PopsOnEveryExit) {
  CallNameStack& stack = CallNameStack::Current();
  auto member = [&](bool early) {
    CallFrame frame("Err.Text");
    if (early) return stack.Count();
    return stack.Count() + 0;
  };
  EXPECT_EQ(member(true), 1);
  EXPECT_EQ(member(false), 1);
  EXPECT_EQ(stack.Count(), 0);
}

TEST(TextBuffer, GrowsToTheLargerOfTheRequestAndTwiceTheCapacity) {
  TextBuffer text;
  EXPECT_EQ(text.capacity(), 256u);
  ASSERT_EQ(text.Assign("*IDN?"), S_OK);
  ASSERT_EQ(text.Reserve(300), S_OK);
  EXPECT_EQ(text.capacity(), 512u);
  ASSERT_EQ(text.Reserve(5000), S_OK);
  EXPECT_EQ(text.capacity(), 5000u);
  EXPECT_EQ(text.view(), "*IDN?");
}

TEST(TextBuffer, BuildsTextsAndTrimsOnlyBlanks) {
  TextBuffer text;
  ASSERT_EQ(text.AppendLine("first"), S_OK);  // no line break before the first line
  ASSERT_EQ(text.AppendLine("second"), S_OK);
  EXPECT_EQ(text.view(), "first\nsecond");
  ASSERT_EQ(text.Assign("  \tM4030A  "), S_OK);
  ASSERT_EQ(text.Trim(), S_OK);
  EXPECT_EQ(text.view(), "\tM4030A");
  EXPECT_EQ(text.Find("30"), 4u);
  EXPECT_EQ(text.Find("30", 5), TextBuffer::npos);
  std::string long_text(1000, 'x');
  ASSERT_EQ(text.Format("%s:%d", long_text.c_str(), 7), S_OK);
  EXPECT_EQ(text.size(), 1002u);
  ASSERT_EQ(text.Append(text.view()), S_OK);  // appending itself survives the move to a larger buffer
  EXPECT_EQ(text.size(), 2004u);
}

TEST(TextBuffer, ABorrowedTextIsNotWritten) {
  TextBuffer text;
  text.Borrow("SEC");
  EXPECT_EQ(text.view(), "SEC");
  EXPECT_EQ(text.Append("x"), E_ACCESSDENIED);
  EXPECT_EQ(text.Assign("x"), E_ACCESSDENIED);
  EXPECT_EQ(text.Reserve(10), E_ACCESSDENIED);
  EXPECT_EQ(text.Data(), nullptr);
  text.Clear();
  EXPECT_EQ(text.Append("x"), S_OK);
}

TEST(TextBuffer, TakesAnUnterminatedAnswerOnlyUpToItsCapacity) {
  TextBuffer text;
  ASSERT_EQ(text.Reserve(256), S_OK);
  std::fill(text.Data(), text.Data() + text.capacity(), 'A');  // a driver that forgot the terminator
  text.TakeWrittenText();
  EXPECT_EQ(text.size(), 256u);
}

TEST(TextBuffer, InstrumentTextThatIsNotUtf8BecomesLatin1) {
  TextBuffer text;
  ASSERT_EQ(text.Assign("\xE9t\xE9"), S_OK);  // "été" in Latin-1
  BSTR out = nullptr;
  ASSERT_EQ(text.ToBstr(&out), S_OK);
  EXPECT_EQ(auto_::BstrView(out), u"\u00e9t\u00e9");
  SysFreeString(out);
  ASSERT_EQ(text.Assign("\xC3\xA9t\xC3\xA9"), S_OK);  // the same in UTF-8
  ASSERT_EQ(text.ToBstr(&out), S_OK);
  EXPECT_EQ(auto_::BstrView(out), u"\u00e9t\u00e9");
  SysFreeString(out);
  BSTR broken = SysAllocStringLen(u"\xD800", 1);  // an unpaired surrogate has no narrow form
  EXPECT_EQ(text.AssignBstr(broken), E_INVALIDARG);
  SysFreeString(broken);
}

TEST(TextBuffer, ADriverArgumentIsRefusedWhereTheDriverWouldReadLessThanWritten) {
  struct Case {
    std::u16string text;
    HRESULT result;
    const char* narrow;
  };
  const Case cases[] = {
      {u"patterns/ch1.txt", S_OK, "patterns/ch1.txt"},
      {u"\u00e9t\u00e9.pat", S_OK, "\xC3\xA9t\xC3\xA9.pat"},
      {u"", S_OK, ""},
      {std::u16string(u"ok\0/etc/passwd", 14), E_INVALIDARG, "kept"},  // the driver would see "ok"
      {std::u16string(u"\0", 1), E_INVALIDARG, "kept"},
      {u"\xD800x", E_INVALIDARG, "kept"},  // an unpaired surrogate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.narrow);
    TextBuffer text;
    ASSERT_EQ(text.Assign("kept"), S_OK);
    BSTR bstr = SysAllocStringLen(c.text.data(), static_cast<UINT>(c.text.size()));
    EXPECT_EQ(text.AssignBstrArgument(bstr), c.result);
    EXPECT_EQ(text.view(), c.narrow);
    SysFreeString(bstr);
  }
}

TEST(TextBuffer, AnAnswerCutInsideAUtf8CharacterLosesOnlyThatCharacter) {
  struct Case {
    std::string answer;
    std::string kept;
  };
  const Case cases[] = {
      {"caf\xC3", "caf"},                        // 2-byte character cut after its lead byte
      {"\xE2\x82", ""},                          // 3-byte character cut after two bytes
      {"x\xF0\x9F\x98", "x"},                    // 4-byte character cut after three bytes
      {"caf\xC3\xA9", "caf\xC3\xA9"},            // whole: kept
      {"abc", "abc"},                            // ASCII: kept
      {"\xE9t\xE9\xC3", "\xE9t\xE9\xC3"},        // Latin-1 before it: the last byte is a character of its own
      {"\x80\x80\x80\x80", "\x80\x80\x80\x80"},  // no lead byte at all
  };
  for (const Case& c : cases) {
    TextBuffer text;
    ASSERT_EQ(text.Assign(c.answer), S_OK);
    text.DropSplitCharacter();
    EXPECT_EQ(text.view(), c.kept);
    EXPECT_EQ(text.c_str()[text.size()], '\0');
  }
}

constexpr KeywordRow kUnits[] = {{0, "SEC"}, {0, "S"}, {1, "PCT"}};

TEST(Lookup, TurnsAnswersIntoValuesAndValuesIntoKeywords) {
  LONG value = -7;
  EXPECT_EQ(LookupValue("S", kUnits, &value), S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(LookupValue("sec", kUnits, &value), kErrInvalidResponse);  // exact, case-sensitive
  EXPECT_EQ(value, 2);                                                 // one past the last row
  value = -7;
  EXPECT_EQ(LookupValue("S", {}, &value), kErrInvalidResponse);
  EXPECT_EQ(value, -7);

  TextBuffer keyword;
  EXPECT_EQ(LookupText(0, kUnits, keyword), S_OK);
  EXPECT_EQ(keyword.view(), "SEC");  // the first row with the value
  EXPECT_TRUE(keyword.borrowed());
  EXPECT_EQ(LookupText(2, kUnits, keyword), E_INVALIDARG);
  EXPECT_TRUE(keyword.empty());
}

TEST(ByteArray, ChecksDimensionsAndElementCount) {
  EXPECT_EQ(ValidateByteArray(nullptr), E_POINTER);
  SAFEARRAYBOUND two[2] = {{4, 0}, {4, 0}};
  auto_::SafeArray square = auto_::SafeArray::Attach(SafeArrayCreate(VT_UI1, 2, two));
  EXPECT_EQ(ValidateByteArray(square.get()), kErrSingleDimensionOnly);
  auto_::SafeArray empty =
      auto_::SafeArray::Attach(SafeArrayCreateVector(VT_UI1, 0, 0));  // upper bound below the lower one
  EXPECT_EQ(ValidateByteArray(empty.get()), kErrArrayTooSmall);
  auto_::SafeArray longs = auto_::SafeArray::Attach(SafeArrayCreateVector(VT_I4, 0, 4));
  EXPECT_EQ(ValidateByteArray(longs.get()), E_INVALIDARG);
  auto_::SafeArray bytes = auto_::SafeArray::Attach(SafeArrayCreateVector(VT_UI1, 5, 28));
  LONG count = 0;
  EXPECT_EQ(ValidateByteArray(bytes.get(), &count), S_OK);
  EXPECT_EQ(count, 28);
}

TEST(OwnCodes, AreFacilityFourAboveTheBase) {
  EXPECT_EQ(kErrAlreadyOpen, static_cast<HRESULT>(0x80040465));
  EXPECT_EQ(kErrPulseModeCount, static_cast<HRESULT>(0x8004046F));
  EXPECT_TRUE(IsOwnCode(kErrDriver));
  EXPECT_FALSE(IsOwnCode(static_cast<HRESULT>(0x80040400)));  // code 0x400 itself is not above the base
  EXPECT_FALSE(IsOwnCode(E_INVALIDARG));
  EXPECT_STREQ(LoadStringResource(OwnMessageId(kErrNotSupported)),
               "The current instrument does not support this function.");
  EXPECT_EQ(LoadStringResource(112), nullptr);
}

}  // namespace
}  // namespace pgx::server
