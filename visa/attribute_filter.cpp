#include "visa/attribute_filter.h"

#include <cctype>
#include <string>
#include <vector>

namespace pgx::visa {

struct AttributeFilter::Node {
  enum class Kind { kOr, kAnd, kNot, kCompare } kind;
  std::vector<std::unique_ptr<Node>> children;
  // kCompare
  ViAttr attribute = 0;
  enum class Op { kEq, kNe, kLt, kGt, kLe, kGe } op = Op::kEq;
  bool is_text = false;
  long long number = 0;
  std::string text;

  explicit Node(Kind k) : kind(k) {}

  bool evaluate(const AttributeSet& attributes) const {
    switch (kind) {
      case Kind::kOr:
        for (const auto& c : children)
          if (c->evaluate(attributes)) return true;
        return false;
      case Kind::kAnd:
        for (const auto& c : children)
          if (!c->evaluate(attributes)) return false;
        return true;
      case Kind::kNot:
        return !children.front()->evaluate(attributes);
      case Kind::kCompare:
        return compare(attributes);
    }
    return false;
  }

  bool compare(const AttributeSet& attributes) const {
    if (is_text) {
      const std::string* value = attributes.text(attribute);
      if (!value) return false;
      return op == Op::kEq ? *value == text : *value != text;
    }
    std::optional<long long> value = attributes.signed_number(attribute);
    if (!value) return false;
    switch (op) {
      case Op::kEq:
        return *value == number;
      case Op::kNe:
        return *value != number;
      case Op::kLt:
        return *value < number;
      case Op::kGt:
        return *value > number;
      case Op::kLe:
        return *value <= number;
      case Op::kGe:
        return *value >= number;
    }
    return false;
  }
};

namespace {

using Node = AttributeFilter::Node;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::unique_ptr<Node> parse() {
    auto root = parse_or(0);
    skip_blanks();
    if (!root || pos_ != text_.size()) return nullptr;
    return root;
  }

 private:
  static constexpr int kMaxDepth = 64;  // a deeper nesting is no filter anyone writes

  void skip_blanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool take(std::string_view token) {
    skip_blanks();
    if (text_.substr(pos_, token.size()) != token) return false;
    pos_ += token.size();
    return true;
  }

  std::unique_ptr<Node> parse_or(int depth) {
    if (depth > kMaxDepth) return nullptr;
    auto first = parse_and(depth);
    if (!first) return nullptr;
    auto node = std::make_unique<Node>(Node::Kind::kOr);
    node->children.push_back(std::move(first));
    while (take("||")) {
      auto next = parse_and(depth);
      if (!next) return nullptr;
      node->children.push_back(std::move(next));
    }
    return node;
  }

  std::unique_ptr<Node> parse_and(int depth) {
    auto first = parse_unary(depth);
    if (!first) return nullptr;
    auto node = std::make_unique<Node>(Node::Kind::kAnd);
    node->children.push_back(std::move(first));
    while (take("&&")) {
      auto next = parse_unary(depth);
      if (!next) return nullptr;
      node->children.push_back(std::move(next));
    }
    return node;
  }

  std::unique_ptr<Node> parse_unary(int depth) {
    if (depth > kMaxDepth) return nullptr;
    skip_blanks();
    if (text_.substr(pos_, 2) != "!=" && take("!")) {
      auto operand = parse_unary(depth + 1);
      if (!operand) return nullptr;
      auto node = std::make_unique<Node>(Node::Kind::kNot);
      node->children.push_back(std::move(operand));
      return node;
    }
    if (take("(")) {
      auto inner = parse_or(depth + 1);
      if (!inner || !take(")")) return nullptr;
      return inner;
    }
    return parse_comparison();
  }

  std::unique_ptr<Node> parse_comparison() {
    skip_blanks();
    std::size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
      ++pos_;
    auto attribute = attribute_by_name(text_.substr(start, pos_ - start));
    if (!attribute) return nullptr;
    auto node = std::make_unique<Node>(Node::Kind::kCompare);
    node->attribute = *attribute;
    // Two-character operators first, so that "<=" is not taken for "<".
    if (take("==")) {
      node->op = Node::Op::kEq;
    } else if (take("!=")) {
      node->op = Node::Op::kNe;
    } else if (take("<=")) {
      node->op = Node::Op::kLe;
    } else if (take(">=")) {
      node->op = Node::Op::kGe;
    } else if (take("<")) {
      node->op = Node::Op::kLt;
    } else if (take(">")) {
      node->op = Node::Op::kGt;
    } else {
      return nullptr;
    }
    skip_blanks();
    if (take("\"")) {
      std::size_t end = text_.find('"', pos_);
      if (end == std::string_view::npos) return nullptr;
      if (node->op != Node::Op::kEq && node->op != Node::Op::kNe) return nullptr;
      node->is_text = true;
      node->text = std::string(text_.substr(pos_, end - pos_));
      pos_ = end + 1;
      return node;
    }
    if (!parse_number(node->number)) return nullptr;
    return node;
  }

  bool parse_number(long long& out) {
    bool negative = take("-");
    int base = 10;
    if (text_.substr(pos_, 2) == "0x" || text_.substr(pos_, 2) == "0X") {
      base = 16;
      pos_ += 2;
    }
    unsigned long long value = 0;
    std::size_t digits = 0;
    for (; pos_ < text_.size(); ++pos_, ++digits) {
      int c = static_cast<unsigned char>(text_[pos_]);
      int digit = std::isdigit(c)                    ? c - '0'
                  : (base == 16 && std::isxdigit(c)) ? std::toupper(c) - 'A' + 10
                                                     : -1;
      if (digit < 0) break;
      if (value > (0xFFFFFFFFFFFFFFFFull - static_cast<unsigned>(digit)) / static_cast<unsigned>(base))
        return false;  // overflow
      value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    if (digits == 0) return false;
    out = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

AttributeFilter::AttributeFilter(std::unique_ptr<Node> root) : root_(std::move(root)) {}
AttributeFilter::AttributeFilter(AttributeFilter&&) noexcept = default;
AttributeFilter& AttributeFilter::operator=(AttributeFilter&&) noexcept = default;
AttributeFilter::~AttributeFilter() = default;

std::optional<AttributeFilter> AttributeFilter::compile(std::string_view text) {
  auto root = Parser(text).parse();
  if (!root) return std::nullopt;
  return AttributeFilter(std::move(root));
}

bool AttributeFilter::matches(const AttributeSet& attributes) const {
  return root_->evaluate(attributes);
}

bool split_search_expression(std::string_view expression, std::string_view& pattern,
                             std::optional<std::string_view>& filter) {
  filter.reset();
  std::size_t open = expression.find('{');
  if (open == std::string_view::npos) {
    pattern = expression;
    return expression.find('}') == std::string_view::npos;
  }
  if (expression.back() != '}') return false;
  pattern = expression.substr(0, open);
  filter = expression.substr(open + 1, expression.size() - open - 2);
  // Braces inside quoted text are text; any other brace is a mistake.
  bool quoted = false;
  for (char c : *filter) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '{' || c == '}')) return false;
  }
  return !quoted;
}

}  // namespace pgx::visa
