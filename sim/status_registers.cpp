#include "sim/status_registers.h"

namespace pgx::sim {

unsigned StatusRegisters::take_event_status() {
  const unsigned v = event_status_;
  event_status_ = 0;
  return v;
}

std::uint16_t StatusRegisters::questionable(Questionable which) const {
  switch (which) {
    case Questionable::kEnable:
      return questionable_enable_;
    case Questionable::kPositiveTransition:
      return positive_transition_;
    case Questionable::kNegativeTransition:
      return negative_transition_;
  }
  return 0;
}

void StatusRegisters::set_questionable(Questionable which, std::uint16_t bits) {
  bits &= 0x7FFF;
  switch (which) {
    case Questionable::kEnable:
      questionable_enable_ = bits;
      break;
    case Questionable::kPositiveTransition:
      positive_transition_ = bits;
      break;
    case Questionable::kNegativeTransition:
      negative_transition_ = bits;
      break;
  }
}

std::uint16_t StatusRegisters::take_questionable_event() {
  const std::uint16_t v = questionable_event_;
  questionable_event_ = 0;
  return v;
}

void StatusRegisters::update_questionable(std::uint16_t condition) {
  const std::uint16_t now = condition & 0x7FFF;
  const auto rising = static_cast<std::uint16_t>(now & ~questionable_condition_);
  const auto falling = static_cast<std::uint16_t>(~now & questionable_condition_);
  questionable_event_ |=
      static_cast<std::uint16_t>((rising & positive_transition_) | (falling & negative_transition_));
  questionable_condition_ = now;
}

void StatusRegisters::clear_events() {
  event_status_ = 0;
  questionable_event_ = 0;
}

void StatusRegisters::preset() {
  questionable_enable_ = 0;
  positive_transition_ = 0x7FFF;
  negative_transition_ = 0;
}

std::uint8_t StatusRegisters::status_byte(bool errors_queued, bool message_available) const {
  unsigned stb = 0;
  if (errors_queued) stb |= 1u << 2;
  if (questionable_event_ & questionable_enable_) stb |= 1u << 3;
  if (message_available) stb |= 1u << 4;
  if (event_status_ & event_enable_) stb |= 1u << 5;
  if (stb & service_request_enable_ & ~0x40u) stb |= 1u << 6;
  return static_cast<std::uint8_t>(stb);
}

}  // namespace pgx::sim
