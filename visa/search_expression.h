#pragma once
// Search expressions of viFindRsrc: VISA's regular-expression subset, matched case-insensitively against the
// whole resource name.
//
//   ?        any one character          [abc] [a-z]  one character of the list
//   *        the preceding item, zero or more times      [^abc]       one character not in the list
//   +        the preceding item, one or more times       a|b          either alternative
//   (...)    a group                    \c   the character c itself

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pgx::visa {

class SearchExpression {
 public:
  // Returns nothing when the expression is malformed (empty, unbalanced, a dangling operator...).
  static std::optional<SearchExpression> compile(std::string_view expression);

  // The work is bounded by the expression's length times the name's length, whatever the expression.
  bool matches(std::string_view name) const;

  SearchExpression(SearchExpression&&) noexcept;
  SearchExpression& operator=(SearchExpression&&) noexcept;
  ~SearchExpression();

  struct Automaton;

 private:
  explicit SearchExpression(std::unique_ptr<Automaton> automaton);
  std::unique_ptr<Automaton> automaton_;
};

}  // namespace pgx::visa
