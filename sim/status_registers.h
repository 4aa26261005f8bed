#pragma once
// The IEEE 488.2 and SCPI status registers of one connection: the standard event status register with its
// enable, the service request enable, and the questionable status group (condition, transition filters,
// event and enable). The status byte is put together from them, the error queue and the output queue.

#include <cstdint>

namespace pgx::sim {

class StatusRegisters {
 public:
  // Standard event status register bits.
  static constexpr unsigned kOpc = 1u << 0, kQye = 1u << 2, kDde = 1u << 3, kExe = 1u << 4, kCme = 1u << 5,
                            kPon = 1u << 7;

  // The registers of the questionable group that a controller writes.
  enum class Questionable { kEnable, kPositiveTransition, kNegativeTransition };

  // Standard event status register (*ESR?): events are latched until read or cleared.
  void raise_events(unsigned bits) { event_status_ |= bits & 0xFF; }
  unsigned event_status() const { return event_status_; }
  unsigned take_event_status();
  unsigned event_enable() const { return event_enable_; }
  void set_event_enable(unsigned bits) { event_enable_ = bits & 0xFF; }
  // Service request enable (*SRE): bit 6 (MSS) cannot be enabled.
  unsigned service_request_enable() const { return service_request_enable_; }
  void set_service_request_enable(unsigned bits) { service_request_enable_ = bits & 0xBF; }

  std::uint16_t questionable(Questionable which) const;
  // Bit 15 is never used: a 16-bit value written sign-extended keeps its 15 bits.
  void set_questionable(Questionable which, std::uint16_t bits);
  std::uint16_t questionable_condition() const { return questionable_condition_; }
  // :STATus:QUEStionable:EVENt? reads and clears the event register.
  std::uint16_t take_questionable_event();
  // Latches the transitions from the last condition to `condition` that the filters pass.
  void update_questionable(std::uint16_t condition);

  // *CLS: the event registers (the enables and filters stay).
  void clear_events();
  // :STATus:PRESet: the questionable enable and filters to their preset values.
  void preset();

  // The status byte: error queue not empty (bit 2), questionable summary (3), message available (4),
  // event summary (5) and the request for service (6).
  std::uint8_t status_byte(bool errors_queued, bool message_available) const;

 private:
  unsigned event_status_ = kPon;
  unsigned event_enable_ = 0;
  unsigned service_request_enable_ = 0;
  std::uint16_t questionable_condition_ = 0;
  std::uint16_t questionable_event_ = 0;
  std::uint16_t questionable_enable_ = 0;
  std::uint16_t positive_transition_ = 0x7FFF;
  std::uint16_t negative_transition_ = 0;
};

}  // namespace pgx::sim
