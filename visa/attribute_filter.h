#pragma once
// The attribute part of a search expression: "?*INSTR{VI_ATTR_MANF_ID == 0xFFF && VI_ATTR_SLOT > 2}".
//
//   filter     := or
//   or         := and { "||" and }
//   and        := unary { "&&" unary }
//   unary      := "!" unary | "(" or ")" | comparison
//   comparison := VI_ATTR_name ("==" | "!=" | "<" | ">" | "<=" | ">=") value
//   value      := a whole number (decimal, or hexadecimal with "0x"; may be negative) | "text in quotes"
//
// A number compares with a numeric attribute, a text (== and != only, case-sensitive) with a text
// attribute. A comparison with an attribute the resource does not have is false, whatever its operator.

#include <memory>
#include <optional>
#include <string_view>

#include "visa/attributes.h"

namespace pgx::visa {

class AttributeFilter {
 public:
  // Nothing when the text is malformed or names an attribute this library does not know.
  static std::optional<AttributeFilter> compile(std::string_view text);

  bool matches(const AttributeSet& attributes) const;

  struct Node;
  AttributeFilter(AttributeFilter&&) noexcept;
  AttributeFilter& operator=(AttributeFilter&&) noexcept;
  ~AttributeFilter();

 private:
  explicit AttributeFilter(std::unique_ptr<Node> root);
  std::unique_ptr<Node> root_;
};

// Splits a search expression into its name pattern and its attribute filter ("?*INSTR{...}" gives
// "?*INSTR" and "..."). `filter` is nothing when the expression has none; false when the braces are
// unbalanced.
bool split_search_expression(std::string_view expression, std::string_view& pattern,
                             std::optional<std::string_view>& filter);

}  // namespace pgx::visa
