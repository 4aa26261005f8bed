#include "panel/controls/bit_pattern_model.h"

#include <algorithm>

namespace pgx::panel {

namespace {

size_t ByteCount(int length) {
  return static_cast<size_t>((length + 7) / 8);
}

}  // namespace

BitPatternModel::BitPatternModel(int length) : length_(std::clamp(length, 1, kMaxLength)), last_(length_) {
  for (auto& bits : bits_) bits.assign(ByteCount(length_), 0);
}

void BitPatternModel::SetLength(int length) {
  length_ = std::clamp(length, 1, kMaxLength);
  for (int ch = 0; ch < kPatternChannelCount; ++ch) {
    bits_[ch].resize(ByteCount(length_), 0);
    ClearTail(ch);
  }
  if (undo_) undo_->bits.resize(ByteCount(length_), 0);
  SetRange(start_, last_);
}

void BitPatternModel::ClearTail(int ch) {
  const int used = length_ & 7;
  if (used != 0) bits_[ch].back() &= static_cast<std::uint8_t>(0xFF << (8 - used));
}

void BitPatternModel::SetRange(int start, int last) {
  start = std::clamp(start, 1, length_);
  last = std::clamp(last, 1, length_);
  start_ = std::min(start, last);
  last_ = std::max(start, last);
}

bool BitPatternModel::Rz(PatternChannel channel) const {
  return channel == PatternChannel::kStrobe ? false : rz_[Index(channel)];
}

void BitPatternModel::SetRz(PatternChannel channel, bool rz) {
  if (channel != PatternChannel::kStrobe) rz_[Index(channel)] = rz;
}

bool BitPatternModel::Bit(PatternChannel channel, int address) const {
  if (address < 1 || address > length_) return false;
  return Get(Index(channel), address - 1);
}

void BitPatternModel::LoadBytes(PatternChannel channel, const std::vector<std::uint8_t>& bytes) {
  const int ch = Index(channel);
  bits_[ch].assign(ByteCount(length_), 0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), bits_[ch].size()), bits_[ch].begin());
  ClearTail(ch);
  if (undo_ && undo_->channel == ch) undo_.reset();
}

BitPatternModel::Result BitPatternModel::SetBit(PatternChannel channel, int address, bool value) {
  if (channel == PatternChannel::kChannel2 && !channel2_exists_) return Result::kChannel2Disabled;
  if (address < 1 || address > length_) return Result::kInvalidArgument;
  const int ch = Index(channel);
  undo_ = Snapshot{ch, bits_[ch]};
  Put(ch, address - 1, value);
  return Result::kDone;
}

void BitPatternModel::FillRange(int ch, int first, int last, bool v) {
  // Whole bytes at once, the partial bytes at either end bit by bit.
  int pos = first;
  while (pos <= last && (pos & 7) != 0) Put(ch, pos++, v);
  const std::uint8_t fill = v ? 0xFF : 0x00;
  while (pos + 7 <= last) {
    bits_[ch][static_cast<size_t>(pos >> 3)] = fill;
    pos += 8;
  }
  while (pos <= last) Put(ch, pos++, v);
}

void BitPatternModel::InvertRange(int ch, int first, int last) {
  int pos = first;
  while (pos <= last && (pos & 7) != 0) {
    Put(ch, pos, !Get(ch, pos));
    ++pos;
  }
  while (pos + 7 <= last) {
    std::uint8_t& byte = bits_[ch][static_cast<size_t>(pos >> 3)];
    byte = static_cast<std::uint8_t>(~byte);
    pos += 8;
  }
  for (; pos <= last; ++pos) Put(ch, pos, !Get(ch, pos));
}

BitPatternModel::Result BitPatternModel::Apply(PatternOp op, PatternChannel channel, int n,
                                               const CalcPrbs& calc_prbs) {
  if (channel == PatternChannel::kChannel2 && !channel2_exists_) return Result::kChannel2Disabled;
  const int ch = Index(channel);
  const int first = start_ - 1;  // 0-based positions of the range
  const int last = last_ - 1;
  if (op == PatternOp::kClockDivN && (n < 1 || n > kMaxLength)) return Result::kInvalidArgument;
  if (op == PatternOp::kPrbs) {
    if (n < kMinPrbsExponent || n > kMaxPrbsExponent) return Result::kInvalidArgument;
    if (!calc_prbs) return Result::kNoPrbs;
  }

  Snapshot before{ch, bits_[ch]};
  switch (op) {
    case PatternOp::kFill0:
      FillRange(ch, first, last, false);
      break;
    case PatternOp::kFill1:
      FillRange(ch, first, last, true);
      break;
    case PatternOp::kInvert:
      InvertRange(ch, first, last);
      break;
    case PatternOp::kSetFirstBitOnly:
      FillRange(ch, first, last, false);
      Put(ch, first, true);
      break;
    case PatternOp::kSetLastBitOnly:
      FillRange(ch, first, last, false);
      Put(ch, last, true);
      break;
    case PatternOp::kInsertBit:
      // A 0 enters at the start; the range moves one place on and its last bit drops out.
      for (int pos = last; pos > first; --pos) Put(ch, pos, Get(ch, pos - 1));
      Put(ch, first, false);
      break;
    case PatternOp::kDeleteBit:
      // The start bit goes; the range moves one place back and a 0 enters at its end.
      for (int pos = first; pos < last; ++pos) Put(ch, pos, Get(ch, pos + 1));
      Put(ch, last, false);
      break;
    case PatternOp::kClockDivN:
      for (int pos = first; pos <= last; ++pos) Put(ch, pos, ClockBit(pos - first, n));
      break;
    case PatternOp::kPrbs: {
      std::vector<std::uint8_t> work = bits_[ch];
      if (!calc_prbs(start_, last_, n, work)) return Result::kPrbsFailed;
      work.resize(bits_[ch].size(), 0);
      bits_[ch] = std::move(work);
      ClearTail(ch);
      break;
    }
  }
  undo_ = std::move(before);
  return Result::kDone;
}

bool BitPatternModel::Undo() {
  if (!undo_) return false;
  bits_[undo_->channel] = std::move(undo_->bits);
  bits_[undo_->channel].resize(ByteCount(length_), 0);
  ClearTail(undo_->channel);
  undo_.reset();
  return true;
}

}  // namespace pgx::panel
