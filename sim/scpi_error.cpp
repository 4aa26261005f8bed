#include "sim/scpi_error.h"

#include <algorithm>
#include <array>
#include <utility>

namespace pgx::sim {
namespace {

constexpr std::array<std::pair<int, std::string_view>, 54> kTexts{{
    {0, "No error"},
    {-100, "Command error"},
    {-101, "Invalid character"},
    {-102, "Syntax error"},
    {-103, "Invalid separator"},
    {-104, "Data type error"},
    {-105, "GET not allowed"},
    {-108, "Parameter not allowed"},
    {-109, "Missing parameter"},
    {-110, "Command header error"},
    {-111, "Header separator error"},
    {-112, "Program mnemonic too long"},
    {-113, "Undefined header"},
    {-114, "Header suffix out of range"},
    {-120, "Numeric data error"},
    {-121, "Invalid character in number"},
    {-123, "Exponent too large"},
    {-124, "Too many digits"},
    {-128, "Numeric data not allowed"},
    {-130, "Suffix error"},
    {-131, "Invalid suffix"},
    {-134, "Suffix too long"},
    {-138, "Suffix not allowed"},
    {-140, "Character data error"},
    {-141, "Invalid character data"},
    {-144, "Character data too long"},
    {-148, "Character data not allowed"},
    {-150, "String data error"},
    {-151, "Invalid string data"},
    {-158, "String data not allowed"},
    {-160, "Block data error"},
    {-161, "Invalid block data"},
    {-168, "Block data not allowed"},
    {-200, "Execution error"},
    {-211, "Trigger ignored"},
    {-220, "Parameter error"},
    {-221, "Settings conflict"},
    {-222, "Data out of range"},
    {-223, "Too much data"},
    {-224, "Illegal parameter value"},
    {-230, "Data corrupt or stale"},
    {-240, "Hardware error"},
    {-241, "Hardware missing"},
    {-300, "Device-specific error"},
    {-310, "System error"},
    {-330, "Self-test failed"},
    {-340, "Calibration failed"},
    {-350, "Queue overflow"},
    {-363, "Input buffer overrun"},
    {-400, "Query error"},
    {-410, "Query INTERRUPTED"},
    {-420, "Query UNTERMINATED"},
    {-430, "Query DEADLOCKED"},
    {-440, "Query UNTERMINATED after indefinite response"},
}};

}  // namespace

std::string_view error_text(int code) {
  auto it = std::find_if(kTexts.begin(), kTexts.end(), [code](const auto& e) { return e.first == code; });
  return it == kTexts.end() ? std::string_view{} : it->second;
}

unsigned error_event_bit(int code) {
  if (code == 0) return 0;
  if (code <= -100 && code > -200) return 1u << 5;  // CME: command error
  if (code <= -200 && code > -300) return 1u << 4;  // EXE: execution error
  if (code <= -400 && code > -500) return 1u << 2;  // QYE: query error
  return 1u << 3;                                   // DDE: device-dependent (also positive numbers)
}

void ErrorQueue::push(int code, std::string_view detail) {
  std::string text(error_text(code));
  if (text.empty()) text = "Error";
  if (!detail.empty()) {
    text += "; ";
    text += detail;
  }
  push_text(code, text);
}

void ErrorQueue::push_text(int code, std::string_view text) {
  if (entries_.size() >= kCapacity) {
    entries_.back() = Entry{err::kQueueOverflow, std::string(error_text(err::kQueueOverflow))};
    return;
  }
  entries_.push_back(Entry{code, std::string(text)});
}

ErrorQueue::Entry ErrorQueue::pop() {
  if (entries_.empty()) return Entry{0, "No error"};
  Entry e = std::move(entries_.front());
  entries_.pop_front();
  return e;
}

}  // namespace pgx::sim
