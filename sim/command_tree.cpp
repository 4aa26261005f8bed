#include "sim/command_tree.h"

#include <stdexcept>

namespace pgx::sim {
namespace {

char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equal_upper(std::string_view token, std::string_view upper_text) {
  if (token.size() != upper_text.size()) return false;
  for (std::size_t i = 0; i < token.size(); ++i)
    if (upper(token[i]) != upper_text[i]) return false;
  return true;
}

struct PatternNode {
  std::string short_form;
  std::string long_form;
  bool suffix = false;
  bool optional = false;
};

std::vector<PatternNode> parse_pattern(std::string_view p) {
  std::vector<PatternNode> out;
  std::size_t i = 0;
  auto fail = [&](const char* why) {
    throw std::logic_error(std::string(why) + " in pattern " + std::string(p));
  };
  while (i < p.size()) {
    PatternNode n;
    if (p[i] == '[') {
      n.optional = true;
      ++i;
    }
    if (i >= p.size() || p[i] != ':') fail("missing ':'");
    ++i;
    std::size_t start = i;
    while (i < p.size() &&
           ((p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= 'a' && p[i] <= 'z') || (p[i] >= '0' && p[i] <= '9')))
      ++i;
    std::string_view name = p.substr(start, i - start);
    if (name.empty()) fail("empty node");
    for (char c : name) {
      n.long_form += upper(c);
      if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) n.short_form += c;
    }
    if (n.short_form.empty()) fail("node without short form");
    if (i < p.size() && p[i] == '#') {
      n.suffix = true;
      ++i;
    }
    if (n.optional) {
      if (i >= p.size() || p[i] != ']') fail("missing ']'");
      ++i;
    }
    out.push_back(std::move(n));
  }
  if (out.empty()) fail("no node");
  if (out.size() > static_cast<std::size_t>(CommandTree::kMaxDepth)) fail("too deep");
  return out;
}

}  // namespace

CommandTree::CommandTree() {
  nodes_.push_back(Node{});
}

int CommandTree::find_child(int parent, std::string_view letters) const {
  for (int c : nodes_[static_cast<std::size_t>(parent)].children) {
    const Node& n = nodes_[static_cast<std::size_t>(c)];
    if (equal_upper(letters, n.short_form) || equal_upper(letters, n.long_form)) return c;
  }
  return -1;
}

const CommandTree::Entry* CommandTree::find_common(std::string_view letters) const {
  for (const Common& c : commons_)
    if (equal_upper(letters, c.name)) return &c.entry;
  return nullptr;
}

void CommandTree::add_common(std::string_view name, Handler set, Handler query) {
  if (name.size() < 2 || name[0] != '*') throw std::logic_error("common command without '*'");
  std::string n;
  for (char c : name.substr(1)) n += upper(c);
  if (find_common(n)) throw std::logic_error("common command entered twice: " + std::string(name));
  commons_.push_back(Common{n, Entry{set, query, {-1, -1, -1, -1}}});
}

void CommandTree::add(std::string_view pattern, Handler set, Handler query) {
  std::vector<PatternNode> nodes = parse_pattern(pattern);
  std::vector<int> optional_positions;
  int slots = 0;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (nodes[i].optional) optional_positions.push_back(static_cast<int>(i));
    if (nodes[i].suffix) ++slots;
  }
  if (slots > kMaxSlots) throw std::logic_error("too many suffixes in pattern " + std::string(pattern));
  const unsigned combinations = 1u << optional_positions.size();
  for (unsigned mask = 0; mask < combinations; ++mask) {
    // Bit k set: optional node k is present.
    Entry e{set, query, {-1, -1, -1, -1}};
    int at = kRoot;
    int depth = 0;
    int slot = 0;
    std::size_t opt = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      const PatternNode& pn = nodes[i];
      bool present = true;
      if (pn.optional) present = (mask >> opt++) & 1u;
      if (!present) {
        if (pn.suffix) ++slot;
        continue;
      }
      ++depth;
      int child = -1;
      for (int c : nodes_[static_cast<std::size_t>(at)].children)
        if (nodes_[static_cast<std::size_t>(c)].long_form == pn.long_form) child = c;
      if (child < 0) {
        Node n;
        n.short_form = pn.short_form;
        n.long_form = pn.long_form;
        n.takes_suffix = pn.suffix;
        n.depth = depth;
        n.parent = at;
        nodes_.push_back(std::move(n));
        child = static_cast<int>(nodes_.size() - 1);
        nodes_[static_cast<std::size_t>(at)].children.push_back(child);
      } else if (nodes_[static_cast<std::size_t>(child)].takes_suffix != pn.suffix) {
        throw std::logic_error("node " + pn.long_form + " with and without suffix in " +
                               std::string(pattern));
      }
      if (pn.suffix) e.slot_depth[static_cast<std::size_t>(slot++)] = static_cast<std::int8_t>(depth);
      at = child;
    }
    if (at == kRoot) continue;  // all nodes left out: never matches a bare parent
    Node& leaf = nodes_[static_cast<std::size_t>(at)];
    if (leaf.entry >= 0) throw std::logic_error("header entered twice by pattern " + std::string(pattern));
    entries_.push_back(e);
    leaf.entry = static_cast<int>(entries_.size() - 1);
  }
}

}  // namespace pgx::sim
