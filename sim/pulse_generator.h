#pragma once
// The pulse/pattern generator of the family: a mainframe (benchtop Q500A or VXI module M4000A) with one or
// two output front-ends, its settings, their coupling and the commands that reach them.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/command_tree.h"
#include "sim/device.h"
#include "sim/front_end.h"
#include "sim/instrument.h"

namespace pgx::sim {

class PulseGenerator final : public Instrument {
 public:
  struct Identity {
    std::string maker;
    std::string model;
    std::string serial;
    std::string firmware;
  };

  PulseGenerator(Identity identity, std::vector<const FrontEndModel*> front_ends, double clock_in_frequency);

  static const CommandTree& tree();
  void set_faults(const FaultConfig* faults) { faults_ = faults; }

  std::string identity() const override;
  std::string options() const override;
  void reset() override;
  int self_test() override;

 private:
  Identity identity_;
  std::vector<const FrontEndModel*> front_ends_;
  double clock_in_frequency_;
  const FaultConfig* faults_ = nullptr;
};

}  // namespace pgx::sim
