// Building a channel's SCPI header from a template.
#include "server/core/text_buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "automation/hresult.h"

namespace pgx::server {
namespace {

struct SuffixCase {
  const char* first;
  const char* second;
  const char* insert;
  const char* expected;
};

TEST(TextBufferInsertChannelSuffix, ReplacesTheFirstMarkerOfBothPartsOnly) {
  const SuffixCase cases[] = {
      {"VOLT#:OFFS?", nullptr, "2", "VOLT2:OFFS?"},
      {":CURR", "#:LIM:LOW?", "1", ":CURR1:LIM:LOW?"},
      {":PULS:DEL#:UNIT", nullptr, "1", ":PULS:DEL1:UNIT"},
      // Only the first marker met is replaced, wherever it stands.
      {"A#B#", nullptr, "2", "A2B#"},
      {"A#", "B#", "1", "A1B#"},
      {"#", "", "2", "2"},
      // Without a marker both parts are copied as they are.
      {"*OPT?", nullptr, "1", "*OPT?"},
      {"AB", "CD", "1", "ABCD"},
      {"", "", "1", ""},
  };
  for (const SuffixCase& c : cases) {
    TextBuffer text;
    ASSERT_EQ(text.Assign("old text that is longer than the result"), S_OK);
    EXPECT_EQ(text.InsertChannelSuffix(c.first, c.second, '#', c.insert), S_OK) << c.first;
    EXPECT_EQ(text.view(), c.expected) << c.first;
    EXPECT_EQ(text.size(), std::string(c.expected).size());
  }
}

TEST(TextBufferInsertChannelSuffix, GrowsForTemplatesBeyondTheInlineRoom) {
  const std::string first = std::string(300, 'A') + "#";
  const std::string second(300, 'B');
  TextBuffer text;
  ASSERT_EQ(text.InsertChannelSuffix(first.c_str(), second.c_str(), '#', "12"), S_OK);
  EXPECT_EQ(text.view(), std::string(300, 'A') + "12" + second);
}

TEST(TextBufferInsertChannelSuffix, RefusesWhatItCannotBuild) {
  TextBuffer text;
  ASSERT_EQ(text.Assign("kept"), S_OK);
  EXPECT_EQ(text.InsertChannelSuffix(nullptr, "#", '#', "1"), E_POINTER);
  EXPECT_EQ(text.InsertChannelSuffix("VOLT#?", nullptr, '#', nullptr), E_POINTER);
  EXPECT_EQ(text.view(), "kept");
  // Its own text as a template would be overwritten while it is read.
  EXPECT_EQ(text.InsertChannelSuffix(text.c_str(), nullptr, '#', "1"), E_INVALIDARG);
  EXPECT_EQ(text.view(), "kept");

  TextBuffer constant;
  constant.Borrow("VOLT");
  EXPECT_EQ(constant.InsertChannelSuffix("VOLT#?", nullptr, '#', "1"), E_ACCESSDENIED);
  EXPECT_EQ(constant.view(), "VOLT");
}

}  // namespace
}  // namespace pgx::server
