#include "visa/search_expression.h"

#include <bitset>
#include <cctype>
#include <memory>
#include <vector>

namespace pgx::visa {
namespace {

// The parsed expression.
struct Node {
  enum class Kind { kCharSet, kSequence, kAlternatives, kRepeat } kind;
  std::bitset<256> chars;      // kCharSet: the characters it accepts (both cases of a letter)
  bool at_least_once = false;  // kRepeat: '+' rather than '*'
  std::vector<std::unique_ptr<Node>> children;

  explicit Node(Kind k) : kind(k) {}
};

}  // namespace

// The expression as a nondeterministic automaton, run on a name by keeping the set of states a match can
// be in (no backtracking): each character of the name costs at most one visit of each state and edge.
struct SearchExpression::Automaton {
  struct State {
    bool consumes = false;   // takes one character of `chars` and goes on to next[0]
    std::bitset<256> chars;  // when it consumes
    std::vector<int> next;   // otherwise: goes on to any of these without taking a character
  };
  std::vector<State> states;  // states[0] accepts: the whole name has been matched
  int start = 0;

  static constexpr int kAccept = 0;

  Automaton() : states(1) {}

  int add(State state) {
    states.push_back(std::move(state));
    return static_cast<int>(states.size()) - 1;
  }

  // Adds the states for `node`, to be followed by state `then`; returns the state that begins it.
  int build(const Node& node, int then) {
    switch (node.kind) {
      case Node::Kind::kCharSet: {
        State state;
        state.consumes = true;
        state.chars = node.chars;
        state.next = {then};
        return add(std::move(state));
      }
      case Node::Kind::kSequence:
        for (auto child = node.children.rbegin(); child != node.children.rend(); ++child)
          then = build(**child, then);
        return then;
      case Node::Kind::kAlternatives: {
        State fork;
        for (const auto& child : node.children) fork.next.push_back(build(*child, then));
        return add(std::move(fork));
      }
      case Node::Kind::kRepeat: {
        // A loop: from `again`, either once more through the item or on to what follows.
        int again = add(State{});
        int item = build(*node.children[0], again);
        states[static_cast<std::size_t>(again)].next = {item, then};
        return node.at_least_once ? item : again;
      }
    }
    return then;
  }

  // Adds `state` and every state reachable from it without taking a character to `set` (each state once
  // per step, as `seen` records with the number of the step).
  void close_over(int state, std::vector<int>& set, std::vector<unsigned>& seen, unsigned step,
                  std::vector<int>& pending) const {
    pending.assign(1, state);
    while (!pending.empty()) {
      int s = pending.back();
      pending.pop_back();
      auto index = static_cast<std::size_t>(s);
      if (seen[index] == step) continue;
      seen[index] = step;
      const State& at = states[index];
      if (at.consumes || s == kAccept) {
        set.push_back(s);
      } else {
        pending.insert(pending.end(), at.next.begin(), at.next.end());
      }
    }
  }

  bool matches(std::string_view name) const {
    std::vector<unsigned> seen(states.size(), 0);
    std::vector<int> current, following, pending;
    unsigned step = 1;
    close_over(start, current, seen, step, pending);
    for (char c : name) {
      ++step;
      following.clear();
      for (int s : current) {
        const State& at = states[static_cast<std::size_t>(s)];
        if (at.consumes && at.chars.test(static_cast<unsigned char>(c)))
          close_over(at.next[0], following, seen, step, pending);
      }
      current.swap(following);
      if (current.empty()) return false;
    }
    for (int s : current)
      if (s == kAccept) return true;
    return false;
  }
};

namespace {

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

}  // namespace

SearchExpression::SearchExpression(std::unique_ptr<Automaton> automaton) : automaton_(std::move(automaton)) {}
SearchExpression::SearchExpression(SearchExpression&&) noexcept = default;
SearchExpression& SearchExpression::operator=(SearchExpression&&) noexcept = default;
SearchExpression::~SearchExpression() = default;

std::optional<SearchExpression> SearchExpression::compile(std::string_view expression) {
  if (expression.size() > 1024) return std::nullopt;
  auto root = Parser(expression).parse();
  if (!root) return std::nullopt;
  auto automaton = std::make_unique<Automaton>();
  automaton->start = automaton->build(*root, Automaton::kAccept);
  return SearchExpression(std::move(automaton));
}

bool SearchExpression::matches(std::string_view name) const {
  return automaton_->matches(name);
}

}  // namespace pgx::visa
