#include "sim/pulse_generator.h"

#include "sim/engine.h"

namespace pgx::sim {

PulseGenerator::PulseGenerator(Identity identity, std::vector<const FrontEndModel*> front_ends,
                               double clock_in_frequency)
    : identity_(std::move(identity)), front_ends_(std::move(front_ends)), clock_in_frequency_(clock_in_frequency) {
  reset();
}

const CommandTree& PulseGenerator::tree() {
  static const CommandTree t = [] {
    CommandTree tree;
    Engine::add_standard_commands(tree);
    return tree;
  }();
  return t;
}

std::string PulseGenerator::identity() const {
  return identity_.maker + "," + identity_.model + "," + identity_.serial + "," + identity_.firmware;
}

std::string PulseGenerator::options() const {
  std::string s;
  for (const FrontEndModel* m : front_ends_) {
    if (!s.empty()) s += ',';
    s += m->name;
  }
  return s;
}

void PulseGenerator::reset() {}

int PulseGenerator::self_test() { return faults_ ? faults_->self_test_result : 0; }

}  // namespace pgx::sim
