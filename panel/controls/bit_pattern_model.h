// BitPatternModel: the data of the pattern editor, without widgets. Three channels of bits (channel 1,
// channel 2, strobe) of a common length, packed eight positions to a byte with the first position in the
// most significant bit (the array form the instrument's pattern data moves in), the selected address range
// the edit operations apply to, a return-to-zero flag per output channel, and an undo of the last operation.
// Addresses are 1-based.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace pgx::panel {

enum class PatternChannel { kChannel1 = 0, kChannel2 = 1, kStrobe = 2 };
inline constexpr int kPatternChannelCount = 3;

// The edit operations, in the order the editor offers them.
enum class PatternOp {
  kFill0,
  kFill1,
  kInvert,
  kSetFirstBitOnly,
  kSetLastBitOnly,
  kInsertBit,
  kDeleteBit,
  kClockDivN,
  kPrbs,
};

class BitPatternModel {
 public:
  static constexpr int kMaxLength = 16384;
  static constexpr int kMinPrbsExponent = 7;
  static constexpr int kMaxPrbsExponent = 14;

  // Fills bit positions start ... last (1-based) of `bytes` with a PRBS 2^base - 1, leaving the others: the
  // owner's (the adapter's CalcPRBS). False when it failed (it has told the user).
  using CalcPrbs = std::function<bool(std::int32_t start, std::int32_t last, std::int32_t base,
                                      std::vector<std::uint8_t>& bytes)>;

  enum class Result { kDone, kChannel2Disabled, kInvalidArgument, kNoPrbs, kPrbsFailed };

  explicit BitPatternModel(int length = kMaxLength);

  int Length() const { return length_; }
  // 1 ... kMaxLength; positions beyond a shorter length are cleared, the range is kept inside.
  void SetLength(int length);
  int StartAddress() const { return start_; }
  int LastAddress() const { return last_; }
  // The range the operations apply to, limited to 1 ... Length and put in order.
  void SetRange(int start, int last);
  int RangeLength() const { return last_ - start_ + 1; }

  bool Channel2Exists() const { return channel2_exists_; }
  void SetChannel2Exists(bool exists) { channel2_exists_ = exists; }
  // Return-to-zero of output channel 1 or 2 (PatternChannel kChannel1, kChannel2); the strobe has none.
  bool Rz(PatternChannel channel) const;
  void SetRz(PatternChannel channel, bool rz);

  bool Bit(PatternChannel channel, int address) const;
  // The packed bytes of a channel: (Length + 7) / 8 of them, positions past Length 0.
  const std::vector<std::uint8_t>& Bytes(PatternChannel channel) const { return bits_[Index(channel)]; }
  // Loads a channel from packed bytes (a download): not an edit, so it is not undone; missing bytes are 0.
  void LoadBytes(PatternChannel channel, const std::vector<std::uint8_t>& bytes);

  // ---- Edits: refused on channel 2 when it does not exist ----
  Result SetBit(PatternChannel channel, int address, bool value);
  Result Apply(PatternOp op, PatternChannel channel, int n = 0, const CalcPrbs& calc_prbs = {});
  bool CanUndo() const { return undo_.has_value(); }
  // Takes back the last edit (once).
  bool Undo();

  // A period of n positions: the first (n + 1) / 2 set, the rest clear.
  static bool ClockBit(int offset, int n) { return offset % n < (n + 1) / 2; }

 private:
  struct Snapshot {
    int channel;
    std::vector<std::uint8_t> bits;
  };
  static int Index(PatternChannel channel) { return static_cast<int>(channel); }
  bool Get(int ch, int pos) const {
    return (bits_[ch][static_cast<size_t>(pos >> 3)] >> (7 - (pos & 7))) & 1;
  }
  void Put(int ch, int pos, bool v) {
    std::uint8_t& byte = bits_[ch][static_cast<size_t>(pos >> 3)];
    const auto mask = static_cast<std::uint8_t>(0x80 >> (pos & 7));
    byte = v ? static_cast<std::uint8_t>(byte | mask) : static_cast<std::uint8_t>(byte & ~mask);
  }
  void FillRange(int ch, int first, int last, bool v);
  void InvertRange(int ch, int first, int last);
  void ClearTail(int ch);

  int length_;
  int start_ = 1;
  int last_;
  bool channel2_exists_ = true;
  bool rz_[2] = {false, false};
  std::vector<std::uint8_t> bits_[kPatternChannelCount];
  std::optional<Snapshot> undo_;
};

}  // namespace pgx::panel
