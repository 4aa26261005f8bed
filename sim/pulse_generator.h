#pragma once
// The pulse/pattern generator of the family: a mainframe (benchtop Q500A or VXI module M4000A) with one or
// two output front-ends, its settings, their coupling, the warnings they raise and the commands that reach
// them.

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

  static constexpr std::size_t kMemories = 10;
  static constexpr std::size_t kMaxPattern = 16384;

  PulseGenerator(Identity identity, std::vector<const FrontEndModel*> front_ends, double clock_in_frequency);

  static const CommandTree& tree();
  void set_faults(const FaultConfig* faults) { faults_ = faults; }

  std::string identity() const override;
  std::string options() const override;
  void reset() override;
  int self_test() override;
  void calibrate(Call& call) override;
  void save(Call& call, long long location) override;
  void recall(Call& call, long long location) override;
  void learn(Call& call) override;
  void trigger(Call& call) override;
  void bus_trigger() override { ++triggers_; }
  std::uint64_t triggers_received() const override { return triggers_; }
  std::uint16_t questionable_condition() const override;

  // The warnings in force, in a fixed order.
  std::vector<std::string> warnings() const;
  std::size_t warning_count() const;

  // ---- The model as the command handlers and the learn string see it ----

  // Which quantity stays when the period changes.
  enum WidthHold { kHoldWidth, kHoldDutyCycle, kHoldTrailingDelay };
  enum RatioHold { kHoldTime, kHoldRatio };

  // Level limits of a channel, in volts and in amperes into its load.
  struct Limits {
    double volt_high = 0, volt_low = 0, curr_high = 0, curr_low = 0;
    // Whether levels (in volts) into `load` lie within them.
    bool hold(double high_v, double low_v, double load) const;
  };

  struct Channel {
    int width_hold = kHoldWidth;
    double width_held = 100e-9;  // s, %, or the trailing-edge delay in s, after width_hold
    int delay_hold = kHoldTime;
    double delay_held = 0;  // s, or a fraction of the period
    int delay_unit = 0;     // S, PCT, DEG, RAD
    bool double_pulse = false;
    int double_hold = kHoldTime;
    double double_held = 500e-9;
    int double_unit = 0;  // S, PCT
    int transition_hold = kHoldTime;
    double leading_held = 5e-9;  // s, or a fraction of the width
    double trailing_held = 5e-9;
    int transition_unit = 0;  // S, PCT
    bool trailing_coupled = false;
    double high = 1.0;  // V or A, after the instrument's level hold
    double low = 0.0;
    Limits limits;
    bool limits_on = false;
    bool output_on = false;
    bool complement_on = false;
    int polarity = 0;  // NORM, INV
    double source_impedance = 50;
    double load = 50;
    int signal_format = 0;  // NRZ, RZ
  };

  struct Settings {
    double period = 1e-6;
    std::array<Channel, 2> channel{};
    int level_hold = 0;  // VOLT, CURR
    int channel_math = 0;
    bool pattern_on = false;
    int pattern_update = 2;
    int pattern_format = 0;              // ASCII, binary replies
    std::array<std::string, 3> pattern;  // one byte (0 or 1) per position: channel 1, channel 2, strobe
    long long trigger_count = 1;
    int trigger_source = 0;
    int trigger_slope = 0;
    double trigger_level = 1.0;
    double trigger_impedance = 50;
    int arm_source = 0;
    int arm_sense = 0;
    int arm_slope = 0;
    double arm_period = 1e-3;
    bool external_width = false;
    double arm_level = 1.0;
    double arm_impedance = 10000;
    std::array<int, 3> output_level{};  // immediate, trigger, strobe: TTL, ECL, STA
    long long trigger_output_source = 1;
    bool trigger_output_auto = false;
    int vxi_source = 0;
    int vxi_line = 10;  // NONE
    int reference_source = 1;
    double reference_frequency = 10e6;
  };

  Settings& settings() { return s_; }
  const Settings& settings() const { return s_; }
  int channels() const { return static_cast<int>(front_ends_.size()); }
  const FrontEndModel& fe(int ch) const { return *front_ends_[static_cast<std::size_t>(ch - 1)]; }
  Channel& chan(int ch) { return s_.channel[static_cast<std::size_t>(ch - 1)]; }
  const Channel& chan(int ch) const { return s_.channel[static_cast<std::size_t>(ch - 1)]; }
  bool lacks_any(std::uint32_t bits) const;
  // A VXI module (the front-ends of one mainframe are all VXI or all benchtop).
  bool vxi() const { return front_ends_.front()->vxi; }
  double max_frequency() const;
  // The frequency of the signal at CLK IN (0: no signal).
  double clock_in_frequency() const { return clock_in_frequency_; }

  // Suffix checks and restrictions; each pushes its error and returns false.
  bool channel_of(Call& c, int slot, int& ch) const;
  bool need(Call& c, int ch, std::uint32_t bits) const;
  bool need_all(Call& c, std::uint32_t bits) const;
  bool need_vxi(Call& c, std::uint32_t bits) const;

  // Derived timing of a channel, in seconds.
  double delay(int ch) const;
  double width(int ch) const;
  double double_delay(int ch) const;
  double leading(int ch) const;
  double trailing(int ch) const;
  void store_width(int ch, double width_s);
  void store_delay(int ch, double delay_s);

  // Levels of a channel in volts; writing checks everything and stores in the held unit.
  double high_volts(int ch) const;
  double low_volts(int ch) const;
  double max_volts_into_load(int ch, double limit_50) const;
  int check_levels(int ch, double high_v, double low_v) const;
  // Whether the channel's levels stay valid (in range, and within the limits when they are on) with another
  // load: 0 or the error that the level commands would give.
  int check_load(int ch, double load) const;
  void store_levels(int ch, double high_v, double low_v);
  // Whether the voltages (0) or the currents (1) stay when the load changes; the levels stay as they are.
  void set_level_hold(int hold);

  // Secure operation; leaving it sanitises the stored data.
  bool secure() const { return secure_; }
  void set_secure(bool on);
  // The calibration state: true after a failed calibration, and while a failing calibration is injected.
  bool calibration_failed() const;

 private:
  Settings defaults() const;
  template <typename F>
  void for_each_warning(F&& f) const;

  Identity identity_;
  std::vector<const FrontEndModel*> front_ends_;
  double clock_in_frequency_;
  const FaultConfig* faults_ = nullptr;
  Settings s_;
  std::array<Settings, kMemories> memories_;
  bool secure_ = false;
  bool calibration_failed_ = false;
  std::uint64_t triggers_ = 0;
};

}  // namespace pgx::sim
