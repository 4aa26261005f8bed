// The pulse generator's command tree: the common commands and every subsystem of the family.

#include "sim/pulse_generator_commands.h"

#include "sim/engine.h"

namespace pgx::sim {

const CommandTree& PulseGenerator::tree() {
  static const CommandTree t = [] {
    CommandTree tree;
    Engine::add_standard_commands(tree);
    pg::add_frequency_commands(tree);
    pg::add_timing_commands(tree);
    pg::add_level_commands(tree);
    pg::add_output_commands(tree);
    pg::add_trigger_commands(tree);
    pg::add_pattern_commands(tree);
    pg::add_system_commands(tree);
    return tree;
  }();
  return t;
}

}  // namespace pgx::sim
