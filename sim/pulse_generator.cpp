#include "sim/pulse_generator.h"

#include <algorithm>
#include <cmath>

#include "sim/call.h"
#include "sim/engine.h"
#include "sim/pulse_generator_keywords.h"
#include "sim/scpi_error.h"

namespace pgx::sim {

using namespace pg;

PulseGenerator::PulseGenerator(Identity identity, std::vector<const FrontEndModel*> front_ends,
                               double clock_in_frequency)
    : identity_(std::move(identity)),
      front_ends_(std::move(front_ends)),
      clock_in_frequency_(clock_in_frequency) {
  s_ = defaults();
  memories_.fill(s_);
}

// ---- Model ------------------------------------------------------------------------------------------------

PulseGenerator::Settings PulseGenerator::defaults() const {
  Settings s;
  for (int ch = 1; ch <= channels(); ++ch) {
    Channel& c = s.channel[static_cast<std::size_t>(ch - 1)];
    const FrontEndModel& m = fe(ch);
    c.leading_held = c.trailing_held = std::clamp(5e-9, m.min_transition, m.max_transition);
    c.limits.volt_high = m.max_high;
    c.limits.volt_low = m.min_low;
    c.limits.curr_high = m.max_high / 50;
    c.limits.curr_low = m.min_low / 50;
    if (m.lacks & kLackLevel) {
      c.high = 2.5;
      c.low = 0;
    }
  }
  return s;
}

bool PulseGenerator::lacks_any(std::uint32_t bits) const {
  return std::any_of(front_ends_.begin(), front_ends_.end(),
                     [bits](const FrontEndModel* m) { return m->lacks & bits; });
}

double PulseGenerator::max_frequency() const {
  double f = 1e12;
  for (const FrontEndModel* m : front_ends_) f = std::min(f, m->max_frequency);
  return f;
}

bool PulseGenerator::channel_of(Call& c, int slot, int& ch) const {
  ch = c.suffix(slot);
  if (ch < 1 || ch > channels()) {
    c.fail(err::kHeaderSuffixOutOfRange);
    return false;
  }
  return true;
}

bool PulseGenerator::need(Call& c, int ch, std::uint32_t bits) const {
  if (fe(ch).lacks & bits) {
    c.fail(err::kHardwareMissing);
    return false;
  }
  return true;
}

bool PulseGenerator::need_all(Call& c, std::uint32_t bits) const {
  if (lacks_any(bits)) {
    c.fail(err::kHardwareMissing);
    return false;
  }
  return true;
}

bool PulseGenerator::need_vxi(Call& c, std::uint32_t bits) const {
  if (!front_ends_.front()->vxi) {
    c.fail(err::kHardwareMissing, "VXI hardware");
    return false;
  }
  return need_all(c, bits);
}

double PulseGenerator::delay(int ch) const {
  const Channel& c = chan(ch);
  return c.delay_hold == kHoldTime ? c.delay_held : c.delay_held * s_.period;
}

double PulseGenerator::width(int ch) const {
  const Channel& c = chan(ch);
  switch (c.width_hold) {
    case kHoldDutyCycle:
      return c.width_held / 100 * s_.period;
    case kHoldTrailingDelay:
      return c.width_held - delay(ch);
    default:
      return c.width_held;
  }
}

double PulseGenerator::double_delay(int ch) const {
  const Channel& c = chan(ch);
  return c.double_hold == kHoldTime ? c.double_held : c.double_held * s_.period;
}

double PulseGenerator::leading(int ch) const {
  const Channel& c = chan(ch);
  return c.transition_hold == kHoldTime ? c.leading_held : c.leading_held * width(ch);
}

double PulseGenerator::trailing(int ch) const {
  const Channel& c = chan(ch);
  if (c.trailing_coupled || (fe(ch).lacks & kLackLeTeAbs)) return leading(ch);
  return c.transition_hold == kHoldTime ? c.trailing_held : c.trailing_held * width(ch);
}

void PulseGenerator::store_width(int ch, double w) {
  Channel& c = chan(ch);
  switch (c.width_hold) {
    case kHoldDutyCycle:
      c.width_held = w / s_.period * 100;
      break;
    case kHoldTrailingDelay:
      c.width_held = delay(ch) + w;
      break;
    default:
      c.width_held = w;
      break;
  }
}

void PulseGenerator::store_delay(int ch, double d) {
  Channel& c = chan(ch);
  c.delay_held = c.delay_hold == kHoldTime ? d : d / s_.period;
}

double PulseGenerator::high_volts(int ch) const {
  const Channel& c = chan(ch);
  return s_.level_hold == 0 ? c.high : c.high * c.load;
}

double PulseGenerator::low_volts(int ch) const {
  const Channel& c = chan(ch);
  return s_.level_hold == 0 ? c.low : c.low * c.load;
}

double PulseGenerator::max_volts_into_load(int ch, double limit_50) const {
  const double r = chan(ch).load;
  return limit_50 * 2 * r / (r + 50);
}

namespace {

// Whether a channel with these settings may carry these levels (in volts): 0 or the error that refuses them.
int levels_error(const FrontEndModel& m, const PulseGenerator::Channel& c, double high_v, double low_v) {
  const double tol = 1e-9;
  if (high_v > kOpenLoadGain * m.max_high + tol || low_v < kOpenLoadGain * m.min_low - tol ||
      high_v < kOpenLoadGain * m.min_low - tol || low_v > kOpenLoadGain * m.max_high + tol)
    return err::kDataOutOfRange;
  const double amplitude = high_v - low_v;
  if (amplitude < m.min_amplitude - tol) return err::kSettingsConflict;
  if (amplitude > kOpenLoadGain * m.max_amplitude + tol) return err::kDataOutOfRange;
  if (c.limits_on && !c.limits.hold(high_v, low_v, c.load)) return err::kSettingsConflict;
  return 0;
}

}  // namespace

bool PulseGenerator::Limits::hold(double high_v, double low_v, double load) const {
  return high_v <= volt_high + 1e-9 && low_v >= volt_low - 1e-9 && high_v / load <= curr_high + 1e-12 &&
         low_v / load >= curr_low - 1e-12;
}

int PulseGenerator::check_levels(int ch, double high_v, double low_v) const {
  return levels_error(fe(ch), chan(ch), high_v, low_v);
}

int PulseGenerator::check_load(int ch, double load) const {
  if (fe(ch).lacks & kLackLevel) return 0;
  Channel c = chan(ch);
  c.load = load;
  // The held unit stays: held currents give other voltages into the new load.
  const double per_unit = s_.level_hold == 0 ? 1 : load;
  return levels_error(fe(ch), c, c.high * per_unit, c.low * per_unit);
}

void PulseGenerator::store_levels(int ch, double high_v, double low_v) {
  Channel& c = chan(ch);
  if (s_.level_hold == 0) {
    c.high = high_v;
    c.low = low_v;
  } else {
    c.high = high_v / c.load;
    c.low = low_v / c.load;
  }
}

void PulseGenerator::set_level_hold(int hold) {
  if (hold == s_.level_hold) return;
  for (int ch = 1; ch <= channels(); ++ch) {
    Channel& k = chan(ch);
    const double factor = hold == 1 ? 1 / k.load : k.load;
    k.high *= factor;
    k.low *= factor;
  }
  s_.level_hold = hold;
}

void PulseGenerator::set_secure(bool on) {
  if (secure_ && !on) {
    memories_.fill(defaults());
    for (std::string& p : s_.pattern) p.clear();
  }
  secure_ = on;
}

bool PulseGenerator::calibration_failed() const {
  return calibration_failed_ || (faults_ && faults_->calibration_fails);
}

template <typename F>
void PulseGenerator::for_each_warning(F&& f) const {
  // f(text, channel, questionable bit)
  for (int ch = 1; ch <= channels(); ++ch) {
    const FrontEndModel& m = fe(ch);
    const double w = width(ch);
    if (w > s_.period - m.min_width * (1 - 1e-9) || w < m.min_width * (1 - 1e-9))
      f("Width clipped to fit period on channel ", ch, 2);
    if (!(m.lacks & kLackTransTime) && (leading(ch) > w * (1 + 1e-9) || trailing(ch) > w * (1 + 1e-9)))
      f("Transition clipped to fit width on channel ", ch, 2);
    if (chan(ch).double_pulse && double_delay(ch) + w > s_.period * (1 + 1e-9))
      f("Double pulse does not fit period on channel ", ch, 2);
    if (!(m.lacks & kLackLevel)) {
      const double top = max_volts_into_load(ch, m.max_high);
      const double bottom = max_volts_into_load(ch, m.min_low);
      const double tol = 1e-9;
      if (high_volts(ch) > top + tol || low_volts(ch) < bottom - tol)
        f("Levels clipped by load on channel ", ch, 0);
    }
  }
}

std::vector<std::string> PulseGenerator::warnings() const {
  std::vector<std::string> out;
  for_each_warning([&](const char* text, int ch, int) { out.push_back(text + std::to_string(ch)); });
  return out;
}

std::size_t PulseGenerator::warning_count() const {
  std::size_t n = 0;
  for_each_warning([&](const char*, int, int) { ++n; });
  return n;
}

std::uint16_t PulseGenerator::questionable_condition() const {
  unsigned bits = 0;
  for_each_warning([&](const char*, int, int bit) { bits |= 1u << bit; });
  if (calibration_failed_) bits |= 1u << 8;
  return static_cast<std::uint16_t>(bits);
}

// ---- Common commands ----------------------------------------------------------------------------------

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

void PulseGenerator::reset() {
  s_ = defaults();
}

int PulseGenerator::self_test() {
  return faults_ ? faults_->self_test_result : 0;
}

void PulseGenerator::calibrate(Call& c) {
  if (!need_all(c, kLackAutoCalibrate)) return;
  calibration_failed_ = faults_ && faults_->calibration_fails;
  if (calibration_failed_) c.engine().push_error(err::kCalibrationFailed);
  c.reply_integer(calibration_failed_ ? 1 : 0);
}

void PulseGenerator::save(Call& c, long long n) {
  if (n < 0 || n >= static_cast<long long>(kMemories)) return c.fail(err::kDataOutOfRange);
  memories_[static_cast<std::size_t>(n)] = s_;
}

void PulseGenerator::recall(Call& c, long long n) {
  if (n < 0 || n >= static_cast<long long>(kMemories)) return c.fail(err::kDataOutOfRange);
  s_ = memories_[static_cast<std::size_t>(n)];
}

void PulseGenerator::trigger(Call&) {
  bus_trigger();
}

}  // namespace pgx::sim
