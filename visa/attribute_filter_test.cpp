#include "visa/attribute_filter.h"

#include <gtest/gtest.h>

namespace pgx::visa {
namespace {

// The attributes of a VXI module in slot 3 and of a GPIB instrument.
AttributeSet vxi_module() {
  AttributeSet a;
  a.add(VI_ATTR_MANF_ID, AttrType::kUInt16, 0x0FFF);
  a.add(VI_ATTR_SLOT, AttrType::kInt16, 3);
  a.add(VI_ATTR_MODEL_CODE, AttrType::kUInt16, 0x0402);
  a.add_text(VI_ATTR_MODEL_NAME, "M4000A");
  return a;
}

AttributeSet gpib_box() {
  AttributeSet a;
  a.add(VI_ATTR_GPIB_PRIMARY_ADDR, AttrType::kUInt16, 10);
  a.add(VI_ATTR_SLOT, AttrType::kInt16, static_cast<ViAttrState>(-1));  // as a GPIB box would say it
  return a;
}

TEST(VisaAttributeFilter, ComparisonsAndTheirCombinations) {
  struct Case {
    const char* filter;
    bool vxi;
    bool gpib;
  };
  const Case cases[] = {
      {"VI_ATTR_MANF_ID==0xFFF", true, false},
      {"VI_ATTR_MANF_ID == 4095", true, false},
      {"VI_ATTR_MANF_ID != 4095", false, false},  // an attribute the resource lacks: false for every operator
      {"VI_ATTR_SLOT > 2 && VI_ATTR_SLOT <= 3", true, false},
      {"VI_ATTR_SLOT < 0", false, true},  // signed in the attribute's width
      {"VI_ATTR_SLOT == -1 || VI_ATTR_MODEL_CODE >= 0x400", true, true},
      {"!(VI_ATTR_SLOT == 3)", false, true},
      {"!VI_ATTR_SLOT==3", false, true},
      {"VI_ATTR_MODEL_NAME == \"M4000A\"", true, false},
      {"VI_ATTR_MODEL_NAME != \"m4000a\"", true, false},  // text compares case-sensitively
      {"VI_ATTR_GPIB_PRIMARY_ADDR==10&&(VI_ATTR_SLOT==1||VI_ATTR_SLOT==-1)", false, true},
      {"  VI_ATTR_SLOT   >=   3  ", true, false},
  };
  const AttributeSet vxi = vxi_module(), gpib = gpib_box();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    auto filter = AttributeFilter::compile(c.filter);
    ASSERT_TRUE(filter);
    EXPECT_EQ(filter->matches(vxi), c.vxi);
    EXPECT_EQ(filter->matches(gpib), c.gpib);
  }
}

TEST(VisaAttributeFilter, MalformedFiltersAreRefused) {
  for (const char* text :
       {"", "VI_ATTR_SLOT", "VI_ATTR_SLOT ==", "VI_ATTR_NO_SUCH == 1", "VI_ATTR_SLOT = 1",
        "VI_ATTR_SLOT == 1 &&", "(VI_ATTR_SLOT == 1", "VI_ATTR_SLOT == 1)", "VI_ATTR_SLOT == 0x",
        "VI_ATTR_SLOT == 99999999999999999999999", "VI_ATTR_MODEL_NAME < \"a\"",
        "VI_ATTR_MODEL_NAME == \"open", "1 == VI_ATTR_SLOT"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(AttributeFilter::compile(text));
  }
  // Nesting deep enough to exhaust the stack is refused, not followed.
  EXPECT_FALSE(
      AttributeFilter::compile(std::string(100000, '(') + "VI_ATTR_SLOT==1" + std::string(100000, ')')));
  EXPECT_FALSE(AttributeFilter::compile(std::string(100000, '!') + "VI_ATTR_SLOT==1"));
}

TEST(VisaAttributeFilter, AnExpressionSplitsIntoPatternAndFilter) {
  struct Case {
    const char* expression;
    bool valid;
    const char* pattern;
    const char* filter;  // null: none
  };
  const Case cases[] = {
      {"?*INSTR", true, "?*INSTR", nullptr},
      {"?*INSTR{VI_ATTR_SLOT==1}", true, "?*INSTR", "VI_ATTR_SLOT==1"},
      {"?*{VI_ATTR_MODEL_NAME==\"a{b}\"}", true, "?*", "VI_ATTR_MODEL_NAME==\"a{b}\""},
      {"?*INSTR{VI_ATTR_SLOT==1", false, "", nullptr},
      {"?*INSTR}", false, "", nullptr},
      {"?*{a}{b}", false, "", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expression);
    std::string_view pattern;
    std::optional<std::string_view> filter;
    ASSERT_EQ(split_search_expression(c.expression, pattern, filter), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(pattern, c.pattern);
    EXPECT_EQ(filter.has_value(), c.filter != nullptr);
    if (c.filter) {
      EXPECT_EQ(*filter, c.filter);
    }
  }
}

}  // namespace
}  // namespace pgx::visa
