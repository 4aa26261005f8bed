#pragma once
// The compiled command tree: every header an instrument knows, built once from patterns such as
// "[:SOURce]:VOLTage#[:LEVel][:IMMediate]:HIGH", then walked node by node while a message executes.
//
// Pattern syntax: nodes separated by ':', the short form in upper case and the rest in lower case, '#'
// after a node that takes a numeric suffix, and [brackets] around optional nodes. Every combination of
// optional nodes is entered into the tree, except the one that leaves no node at all. Common commands are
// entered by name ("*IDN").

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pgx::sim {

class Instrument;
class Call;
using Handler = void (*)(Instrument&, Call&);

class CommandTree {
 public:
  static constexpr int kMaxDepth = 8;
  static constexpr int kMaxSlots = 4;

  struct Entry {
    Handler set = nullptr;
    Handler query = nullptr;
    // For each suffix slot of the pattern (the suffixed nodes in pattern order): the depth of that node on
    // this entry's path, or -1 where the node was left out (its suffix is then 1).
    std::array<std::int8_t, kMaxSlots> slot_depth{-1, -1, -1, -1};
  };

  struct Node {
    std::string short_form;  // upper case
    std::string long_form;   // upper case
    bool takes_suffix = false;
    int depth = 0;  // root 0, first level 1
    int parent = -1;
    int entry = -1;
    std::vector<int> children;
  };

  CommandTree();

  // Throws std::logic_error for a malformed pattern or a header entered twice.
  void add(std::string_view pattern, Handler set, Handler query);
  void add_common(std::string_view name, Handler set, Handler query);

  static constexpr int kRoot = 0;
  const Node& node(int index) const { return nodes_[static_cast<std::size_t>(index)]; }
  const Entry& entry(int index) const { return entries_[static_cast<std::size_t>(index)]; }

  // The child of `parent` whose short or long form is `letters` (case-insensitive), or -1.
  int find_child(int parent, std::string_view letters) const;
  // The common command with this name ("IDN", case-insensitive, without '*'), or nullptr.
  const Entry* find_common(std::string_view letters) const;

 private:
  struct Common {
    std::string name;
    Entry entry;
  };
  std::vector<Node> nodes_;
  std::vector<Entry> entries_;
  std::vector<Common> commons_;
};

}  // namespace pgx::sim
