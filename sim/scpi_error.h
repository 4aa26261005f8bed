#pragma once
// SCPI error numbers, their standard texts and the instrument's error queue.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace pgx::sim {

namespace err {
inline constexpr int kCommand = -100;
inline constexpr int kInvalidCharacter = -101;
inline constexpr int kSyntax = -102;
inline constexpr int kInvalidSeparator = -103;
inline constexpr int kDataType = -104;
inline constexpr int kParameterNotAllowed = -108;
inline constexpr int kMissingParameter = -109;
inline constexpr int kMnemonicTooLong = -112;
inline constexpr int kUndefinedHeader = -113;
inline constexpr int kHeaderSuffixOutOfRange = -114;
inline constexpr int kNumericData = -120;
inline constexpr int kInvalidCharacterInNumber = -121;
inline constexpr int kExponentTooLarge = -123;
inline constexpr int kTooManyDigits = -124;
inline constexpr int kInvalidSuffix = -131;
inline constexpr int kSuffixNotAllowed = -138;
inline constexpr int kInvalidCharacterData = -141;
inline constexpr int kStringData = -150;
inline constexpr int kInvalidStringData = -151;
inline constexpr int kBlockData = -160;
inline constexpr int kInvalidBlockData = -161;
inline constexpr int kExecution = -200;
inline constexpr int kTriggerIgnored = -211;
inline constexpr int kSettingsConflict = -221;
inline constexpr int kDataOutOfRange = -222;
inline constexpr int kTooMuchData = -223;
inline constexpr int kIllegalParameterValue = -224;
inline constexpr int kDataStale = -230;
inline constexpr int kHardwareMissing = -241;
inline constexpr int kDeviceSpecific = -300;
inline constexpr int kSelfTestFailed = -330;
inline constexpr int kCalibrationFailed = -340;
inline constexpr int kQueueOverflow = -350;
inline constexpr int kInputBufferOverrun = -363;
inline constexpr int kQuery = -400;
inline constexpr int kQueryInterrupted = -410;
inline constexpr int kQueryUnterminated = -420;
inline constexpr int kQueryDeadlocked = -430;
inline constexpr int kQueryUnterminatedAfterIndefinite = -440;
}  // namespace err

// The standard text of an error number ("Undefined header" for -113); empty for an unknown number.
std::string_view error_text(int code);

// The standard event status register bit that an error of this number sets (CME, EXE, DDE or QYE); 0 for
// "no error".
unsigned error_event_bit(int code);

// First in, first out; when full, the newest entry is replaced by -350 "Queue overflow".
class ErrorQueue {
 public:
  static constexpr std::size_t kCapacity = 30;

  struct Entry {
    int code = 0;
    std::string text;
  };

  // Adds an error with its standard text, optionally followed by "; <detail>".
  void push(int code, std::string_view detail = {});
  // Adds an error with a text of the caller's choosing (used for errors injected by tests).
  void push_text(int code, std::string_view text);
  // Removes and returns the oldest entry; {0, "No error"} when empty.
  Entry pop();
  void clear() { entries_.clear(); }
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }

 private:
  std::deque<Entry> entries_;
};

}  // namespace pgx::sim
