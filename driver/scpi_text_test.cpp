#include "driver/scpi_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace pgx::driver {
namespace {

TEST(DriverTextRealText, WritesTheShortestTextThatReadsBackExactly) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{2.5, "2.5"},           {0.1, "0.1"},
               {-0.015, "-0.015"},     {1e-8, "1e-08"},
               {20e-9, "2e-08"},       {1.5e-9, "1.5e-09"},
               {100e6, "100000000"},   {123456.0, "123456"},
               {0.001, "0.001"},       {1e-5, "0.00001"},
               {1e-6, "1e-06"},        {1e20, "1e+20"},
               {-2.5e-12, "-2.5e-12"}, {0.0, "0"},
               {-0.0, "-0"},           {1.0 / 3.0, "0.3333333333333333"},
               {5e-324, "5e-324"},     {1.7976931348623157e308, "1.7976931348623157e+308"}};
  for (const auto& c : cases) {
    std::string text;
    append_real(text, c.value);
    EXPECT_EQ(text, c.text);
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000; ++i) {
    const double value = std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random),
                                    std::uniform_int_distribution<int>(-60, 60)(random));
    std::string text;
    append_real(text, value);
    const auto back = parse_real(text);
    ASSERT_TRUE(back) << text;
    EXPECT_EQ(*back, value) << text;
  }
}

// Instrument-like values (a few significant digits, any scale) and random decimal texts: formatting reads
// back exactly and parsing agrees with the general conversion of the standard library.
TEST(DriverTextRealText, AgreesWithTheStandardConversions) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 20000; ++i) {
    const double value = static_cast<double>(std::uniform_int_distribution<int>(1, 999999)(random)) *
                         std::pow(10.0, std::uniform_int_distribution<int>(-20, 12)(random));
    std::string text;
    append_real(text, value);
    double back = 0;
    ASSERT_EQ(std::from_chars(text.data(), text.data() + text.size(), back).ec, std::errc()) << text;
    EXPECT_EQ(back, value) << text;
    char shortest[32];
    const auto end = std::to_chars(shortest, shortest + sizeof shortest, value).ptr;
    double shortest_value = 0;
    std::from_chars(shortest, end, shortest_value);
    // As few significant digits as the shortest form: the same value, at most the fixed-point zeros longer.
    EXPECT_LE(text.size(), static_cast<std::size_t>(end - shortest) + 16) << text;

    std::string decimal =
        std::to_string(std::uniform_int_distribution<std::uint64_t>(0, 99999999999ULL)(random));
    if (random() % 2) decimal.insert(random() % (decimal.size() + 1), ".");
    if (decimal == ".") decimal = "0.5";
    decimal += "e" + std::to_string(std::uniform_int_distribution<int>(-40, 40)(random));
    const auto parsed = parse_real(decimal);
    double expected = 0;
    std::from_chars(decimal.data(), decimal.data() + decimal.size(), expected);
    ASSERT_TRUE(parsed) << decimal;
    EXPECT_EQ(*parsed, expected) << decimal;
  }
}

TEST(DriverTextNumberParsing, AcceptsOnlyWellFormedNumbers) {
  const struct {
    const char* text;
    bool integer_ok;
    long long integer;
    bool real_ok;
    double real;
  } cases[] = {
      {"42", true, 42, true, 42},
      {"+7", true, 7, true, 7},
      {"-32768", true, -32768, true, -32768},
      {"  5 ", true, 5, true, 5},
      {"1.5", false, 0, true, 1.5},
      {"+1.0E-08", false, 0, true, 1e-8},
      {".5", false, 0, true, 0.5},
      {"5.", false, 0, true, 5},
      {"1e3", false, 0, true, 1000},
      {"", false, 0, false, 0},
      {"-", false, 0, false, 0},
      {"1e", false, 0, false, 0},
      {"e5", false, 0, false, 0},
      {"inf", false, 0, false, 0},
      {"NAN", false, 0, false, 0},
      {"0x1F", false, 0, false, 0},
      {"1,2", false, 0, false, 0},
      {"12abc", false, 0, false, 0},
      {"1 2", false, 0, false, 0},
      {"1e999", false, 0, false, 0},
      {"99999999999999999999", false, 0, true, 1e20},
      {"\"5\"", false, 0, false, 0},
  };
  for (const auto& c : cases) {
    const auto integer = parse_integer(c.text);
    EXPECT_EQ(integer.has_value(), c.integer_ok) << c.text;
    if (integer && c.integer_ok) {
      EXPECT_EQ(*integer, c.integer) << c.text;
    }
    const auto real = parse_real(c.text);
    EXPECT_EQ(real.has_value(), c.real_ok) << c.text;
    if (real && c.real_ok) {
      EXPECT_DOUBLE_EQ(*real, c.real) << c.text;
    }
  }
}

TEST(DriverTextBoolParsing, KnowsNumbersAndKeywordsOnly) {
  EXPECT_EQ(parse_bool("1"), true);
  EXPECT_EQ(parse_bool("on"), true);
  EXPECT_EQ(parse_bool("0"), false);
  EXPECT_EQ(parse_bool("OFF"), false);
  EXPECT_FALSE(parse_bool("2"));
  EXPECT_FALSE(parse_bool("ONE"));
  EXPECT_FALSE(parse_bool(""));
}

TEST(DriverTextBlocks, RoundTripAndRejectBadHeaders) {
  const std::string bytes("\x00\x01\n;#\xff", 6);
  std::string block;
  append_block(block, bytes.data(), bytes.size());
  EXPECT_EQ(block.substr(0, 3), "#16");
  EXPECT_EQ(block_extent(block), block.size());
  EXPECT_EQ(parse_block(block), std::string_view(bytes));

  std::string empty;
  append_block(empty, nullptr, 0);
  EXPECT_EQ(empty, "#10");
  EXPECT_EQ(parse_block(empty), std::string_view());

  std::string large;
  const std::string many(12345, 'x');
  append_block(large, many.data(), many.size());
  EXPECT_EQ(large.substr(0, 7), "#512345");

  EXPECT_EQ(parse_block("#0abc"), std::string_view("abc"));
  for (const char* bad : {"", "#", "#1", "#15abc", "#13abcd", "#x3abc", "abc", "#2a1x"}) {
    EXPECT_FALSE(parse_block(bad)) << bad;
  }
  EXPECT_FALSE(block_extent("#9123"));  // header still incomplete
}

TEST(DriverTextMessages, ALineFeedOutsideBlockDataEndsTheMessage) {
  const struct {
    std::string text;
    bool one;
  } cases[] = {
      {":FREQ?", true},
      {"", true},
      {":FREQ?\n*IDN?", false},
      {"\n", false},
      {":DIG:PATT:DATA1 #13\n\n\n", true},        // three data bytes
      {":DIG:PATT:DATA1 #12\n\n\n*IDN?", false},  // the third line feed ends the message
      {":DIG:PATT:DATA1 #15ab\n", true},          // a block announced longer than the text
      {":X #0\nabc", false},                      // an indefinite block ends at a line feed
      {":X \"a\nb\"", false},                     // so does a string
      {":X #a\n", false},                         // not a block header
      {std::string(":DIG:PATT:DATA1 #13\0\n\1;:FREQ?", 29), true},
  };
  for (const auto& c : cases) EXPECT_EQ(is_one_message(c.text), c.one) << c.text;
}

TEST(DriverTextErrorEntries, ReadCodeAndText) {
  const struct {
    const char* text;
    bool ok;
    int code;
    const char* message;
  } cases[] = {
      {"0,\"No error\"", true, 0, "No error"},
      {"-113,\"Undefined header\"", true, -113, "Undefined header"},
      {"-222,\"Data out of range; \"\"VOLT1\"\"\"", true, -222, "Data out of range; \"VOLT1\""},
      {"+5, unquoted", true, 5, "unquoted"},
      {"-100", true, -100, ""},
      {"abc,\"x\"", false, 0, ""},
      {"", false, 0, ""},
      {"99999999999,\"big\"", false, 0, ""},
  };
  for (const auto& c : cases) {
    const auto entry = parse_error_entry(c.text);
    ASSERT_EQ(entry.has_value(), c.ok) << c.text;
    if (entry) {
      EXPECT_EQ(entry->code, c.code);
      EXPECT_EQ(entry->text, c.message);
    }
  }
}

TEST(DriverTextStatusSuffix, SplitsAtTheLastSeparator) {
  auto split = split_status_suffix("1E-08;0");
  ASSERT_TRUE(split);
  EXPECT_EQ(split->answer, "1E-08");
  EXPECT_TRUE(split->has_answer);
  EXPECT_EQ(split->status_byte, 0);

  split = split_status_suffix("W1;W2;36");
  ASSERT_TRUE(split);
  EXPECT_EQ(split->answer, "W1;W2");
  EXPECT_EQ(split->status_byte, 36);

  split = split_status_suffix("4");
  ASSERT_TRUE(split);
  EXPECT_FALSE(split->has_answer);
  EXPECT_EQ(split->status_byte, 4);

  for (const char* bad : {"", "1;", "1;256", "1;-1", "x;abc"}) EXPECT_FALSE(split_status_suffix(bad)) << bad;
}

TEST(DriverTextIdentity, ReadsFourFields) {
  const auto identity = parse_identity("PGX Instruments,M4000A,DE1234, 2.10");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->manufacturer, "PGX Instruments");
  EXPECT_EQ(identity->model, "M4000A");
  EXPECT_EQ(identity->serial, "DE1234");
  EXPECT_EQ(identity->firmware, "2.10");
  EXPECT_FALSE(parse_identity("PGX Instruments,M4000A,DE1234"));
  EXPECT_FALSE(parse_identity("a,b,c,d,e"));
}

TEST(DriverTextCopyText, NeverWritesPastTheSize) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  copy_text(buffer, 4, "abcdef");
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], '#');
  copy_text(buffer, 1, "abc");
  EXPECT_STREQ(buffer, "");
  copy_text(buffer, 0, "abc");  // nothing written, nothing read
  EXPECT_STREQ(buffer, "");
}

// Random answers: every parser either refuses or yields a value that is consistent with the text.
TEST(DriverTextAnswerFuzz, ParsersNeverMisreadRandomReplies) {
  std::mt19937 random(2026);
  const std::string alphabet =
      "0123456789+-.eE#;,\" \t\n\r\x01\xff"
      "ONFabc";
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 24)(random);
    for (int i = 0; i < length; ++i) {
      text += random() % 8 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
    }
    if (const auto value = parse_integer(text)) {
      EXPECT_EQ(std::to_string(*value), std::to_string(std::stoll(std::string(trim(text))))) << text;
    }
    if (const auto value = parse_real(text)) {
      EXPECT_TRUE(std::isfinite(*value)) << text;
      EXPECT_EQ(*value, std::stod(std::string(trim(text)))) << text;
    }
    if (const auto block = parse_block(text)) {
      EXPECT_GE(block->data(), text.data());
      EXPECT_LE(block->data() + block->size(), text.data() + text.size());
    }
    if (const auto split = split_status_suffix(text)) {
      EXPECT_GE(split->status_byte, 0);
      EXPECT_LE(split->status_byte, 255);
    }
    parse_error_entry(text);
    parse_identity(text);
    char buffer[6];
    buffer[5] = '!';
    copy_text(buffer, 5, text);
    EXPECT_EQ(buffer[5], '!');
    EXPECT_LE(std::strlen(buffer), 4u);
  }
}

}  // namespace
}  // namespace pgx::driver
