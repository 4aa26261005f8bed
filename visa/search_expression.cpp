#include "visa/search_expression.h"

#include <bitset>
#include <cctype>
#include <vector>

namespace pgx::visa {

struct SearchExpression::Node {
  enum class Kind { kCharSet, kSequence, kAlternatives, kRepeat } kind;
  std::bitset<256> chars;      // kCharSet: the characters it accepts (both cases of a letter)
  bool at_least_once = false;  // kRepeat: '+' rather than '*'
  std::vector<std::unique_ptr<Node>> children;

  explicit Node(Kind k) : kind(k) {}
};

namespace {

using Node = SearchExpression::Node;
using Positions = std::vector<bool>;  // positions in the name that a partial match can reach

void add_char(std::bitset<256>& set, unsigned char c) {
  set.set(c);
  set.set(static_cast<unsigned char>(std::tolower(c)));
  set.set(static_cast<unsigned char>(std::toupper(c)));
}

// Recursive-descent parser; depth is bounded so a hostile expression cannot exhaust the stack.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::unique_ptr<Node> parse() {
    auto root = alternatives(0);
    if (!root || pos_ != text_.size()) return nullptr;
    return root;
  }

 private:
  static constexpr int kMaxDepth = 64;

  std::unique_ptr<Node> alternatives(int depth) {
    if (depth > kMaxDepth) return nullptr;
    auto node = std::make_unique<Node>(Node::Kind::kAlternatives);
    for (;;) {
      auto branch = sequence(depth);
      if (!branch) return nullptr;
      node->children.push_back(std::move(branch));
      if (pos_ < text_.size() && text_[pos_] == '|') {
        ++pos_;
        continue;
      }
      return node;
    }
  }

  std::unique_ptr<Node> sequence(int depth) {
    auto node = std::make_unique<Node>(Node::Kind::kSequence);
    while (pos_ < text_.size() && text_[pos_] != '|' && text_[pos_] != ')') {
      char c = text_[pos_];
      if (c == '*' || c == '+') {
        if (node->children.empty()) return nullptr;  // nothing to repeat
        ++pos_;
        auto repeat = std::make_unique<Node>(Node::Kind::kRepeat);
        repeat->at_least_once = c == '+';
        repeat->children.push_back(std::move(node->children.back()));
        node->children.back() = std::move(repeat);
        continue;
      }
      auto item = atom(depth);
      if (!item) return nullptr;
      node->children.push_back(std::move(item));
    }
    if (node->children.empty()) return nullptr;  // an empty expression or alternative
    return node;
  }

  std::unique_ptr<Node> atom(int depth) {
    char c = text_[pos_++];
    switch (c) {
      case '(': {
        auto inner = alternatives(depth + 1);
        if (!inner || pos_ >= text_.size() || text_[pos_] != ')') return nullptr;
        ++pos_;
        return inner;
      }
      case '[':
        return char_class();
      case '?': {
        auto any = std::make_unique<Node>(Node::Kind::kCharSet);
        any->chars.set();
        return any;
      }
      case '\\': {
        if (pos_ >= text_.size()) return nullptr;
        return single(text_[pos_++]);
      }
      case ']':
      case '{':
      case '}':
        return nullptr;  // attribute filters are not supported
      default:
        return single(c);
    }
  }

  static std::unique_ptr<Node> single(char c) {
    auto node = std::make_unique<Node>(Node::Kind::kCharSet);
    add_char(node->chars, static_cast<unsigned char>(c));
    return node;
  }

  std::unique_ptr<Node> char_class() {
    auto node = std::make_unique<Node>(Node::Kind::kCharSet);
    bool negate = pos_ < text_.size() && text_[pos_] == '^';
    if (negate) ++pos_;
    bool any = false;
    while (pos_ < text_.size() && text_[pos_] != ']') {
      unsigned char first = static_cast<unsigned char>(text_[pos_++]);
      if (first == '\\') {
        if (pos_ >= text_.size()) return nullptr;
        first = static_cast<unsigned char>(text_[pos_++]);
      }
      if (pos_ + 1 < text_.size() && text_[pos_] == '-' && text_[pos_ + 1] != ']') {
        unsigned char last = static_cast<unsigned char>(text_[pos_ + 1]);
        pos_ += 2;
        if (last < first) return nullptr;
        for (unsigned c = first; c <= last; ++c) add_char(node->chars, static_cast<unsigned char>(c));
      } else {
        add_char(node->chars, first);
      }
      any = true;
    }
    if (pos_ >= text_.size() || !any) return nullptr;  // unterminated or empty list
    ++pos_;
    if (negate) node->chars.flip();
    return node;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// Every position reachable by matching `node` from any position in `from` (a set simulation: no
// backtracking, so the time is bounded by expression size times name length squared).
Positions advance(const Node& node, const Positions& from, std::string_view name) {
  const std::size_t n = name.size();
  switch (node.kind) {
    case Node::Kind::kCharSet: {
      Positions to(n + 1, false);
      for (std::size_t i = 0; i < n; ++i)
        if (from[i] && node.chars.test(static_cast<unsigned char>(name[i]))) to[i + 1] = true;
      return to;
    }
    case Node::Kind::kSequence: {
      Positions at = from;
      for (const auto& child : node.children) at = advance(*child, at, name);
      return at;
    }
    case Node::Kind::kAlternatives: {
      Positions to(n + 1, false);
      for (const auto& child : node.children) {
        Positions branch = advance(*child, from, name);
        for (std::size_t i = 0; i <= n; ++i) to[i] = to[i] || branch[i];
      }
      return to;
    }
    case Node::Kind::kRepeat: {
      Positions reached = node.at_least_once ? advance(*node.children[0], from, name) : from;
      Positions frontier = reached;
      for (;;) {
        Positions next = advance(*node.children[0], frontier, name);
        bool grew = false;
        for (std::size_t i = 0; i <= n; ++i) {
          next[i] = next[i] && !reached[i];
          if (next[i]) {
            reached[i] = true;
            grew = true;
          }
        }
        if (!grew) return reached;
        frontier = std::move(next);
      }
    }
  }
  return Positions(n + 1, false);
}

}  // namespace

SearchExpression::SearchExpression(std::unique_ptr<Node> root) : root_(std::move(root)) {}
SearchExpression::SearchExpression(SearchExpression&&) noexcept = default;
SearchExpression& SearchExpression::operator=(SearchExpression&&) noexcept = default;
SearchExpression::~SearchExpression() = default;

std::optional<SearchExpression> SearchExpression::compile(std::string_view expression) {
  if (expression.size() > 1024) return std::nullopt;
  auto root = Parser(expression).parse();
  if (!root) return std::nullopt;
  return SearchExpression(std::move(root));
}

bool SearchExpression::matches(std::string_view name) const {
  Positions start(name.size() + 1, false);
  start[0] = true;
  return advance(*root_, start, name)[name.size()];
}

}  // namespace pgx::visa
