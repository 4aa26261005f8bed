#pragma once
// What the SCPI engine asks of the instrument behind it: identity, reset, self-test, settings memories,
// the learn string and the questionable status condition. Instrument-specific commands reach the
// instrument through the handlers of its command tree.

#include <cstdint>
#include <string>

namespace pgx::sim {

class Call;

class Instrument {
 public:
  virtual ~Instrument() = default;

  virtual std::string identity() const = 0;  // *IDN? reply
  virtual std::string options() const { return "0"; }
  virtual void reset() {}
  // *TST?: 0 when every board passes, else a bit mask of the failed boards.
  virtual int self_test() { return 0; }
  // The following refuse with -113 unless the instrument supports them.
  virtual void calibrate(Call& call);                   // *CAL?
  virtual void save(Call& call, long long location);    // *SAV
  virtual void recall(Call& call, long long location);  // *RCL
  virtual void learn(Call& call);                       // *LRN?
  virtual void trigger(Call& call);                     // *TRG
  // The trigger of *TRG and of the bus (GET); an instrument that cannot be triggered ignores the bus's.
  virtual void bus_trigger() {}
  virtual std::uint64_t triggers_received() const { return 0; }
  // Questionable status condition bits (voltage 0, current 1, time 2, frequency 5, calibration 8).
  virtual std::uint16_t questionable_condition() const { return 0; }
};

}  // namespace pgx::sim
