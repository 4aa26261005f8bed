#include "panel/controls/bit_pattern_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel/controls/testing/reference_prbs.h"

namespace pgx::panel {
namespace {

using Bits = std::vector<bool>;

// A pattern that is neither all 0 nor all 1 in any byte.
std::vector<std::uint8_t> Scrambled(int length, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(static_cast<size_t>((length + 7) / 8));
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(seed >> 16);
  }
  return bytes;
}

Bits Unpack(const BitPatternModel& m, PatternChannel ch) {
  Bits bits;
  for (int a = 1; a <= m.Length(); ++a) bits.push_back(m.Bit(ch, a));
  return bits;
}

// What each operation does, one position at a time, on 0-based positions f ... l.
Bits Expected(PatternOp op, Bits v, int f, int l, int n) {
  switch (op) {
    case PatternOp::kFill0:
    case PatternOp::kFill1:
      for (int i = f; i <= l; ++i) v[i] = op == PatternOp::kFill1;
      break;
    case PatternOp::kInvert:
      for (int i = f; i <= l; ++i) v[i] = !v[i];
      break;
    case PatternOp::kSetFirstBitOnly:
    case PatternOp::kSetLastBitOnly:
      for (int i = f; i <= l; ++i) v[i] = false;
      v[op == PatternOp::kSetFirstBitOnly ? f : l] = true;
      break;
    case PatternOp::kInsertBit: {
      const Bits old = v;
      v[f] = false;
      for (int i = f + 1; i <= l; ++i) v[i] = old[i - 1];
      break;
    }
    case PatternOp::kDeleteBit: {
      const Bits old = v;
      for (int i = f; i < l; ++i) v[i] = old[i + 1];
      v[l] = false;
      break;
    }
    case PatternOp::kClockDivN:
      for (int i = f; i <= l; ++i) v[i] = (i - f) % n < (n + 1) / 2;
      break;
    case PatternOp::kPrbs:
      break;
  }
  return v;
}

TEST(BitPatternModelTest, EveryOperationOnOddLengthsAndAtTheEndsOfTheRange) {
  const PatternOp ops[] = {PatternOp::kFill0,           PatternOp::kFill1,          PatternOp::kInvert,
                           PatternOp::kSetFirstBitOnly, PatternOp::kSetLastBitOnly, PatternOp::kInsertBit,
                           PatternOp::kDeleteBit,       PatternOp::kClockDivN};
  for (int length : {1, 7, 9, 13, 16383, 16384}) {
    const std::pair<int, int> ranges[] = {{1, 1},
                                          {1, length},
                                          {length, length},
                                          {2, length - 1},
                                          {3, std::min(length, 11)},
                                          {length - 9, length}};
    for (const auto& [start, last] : ranges) {
      if (start < 1 || last > length || start > last) continue;
      for (PatternOp op : ops) {
        for (int n : {1, 3, 4}) {
          if (op != PatternOp::kClockDivN && n != 1) continue;
          BitPatternModel m(length);
          m.LoadBytes(PatternChannel::kStrobe, Scrambled(length, static_cast<std::uint32_t>(length + start)));
          m.SetRange(start, last);
          const Bits before = Unpack(m, PatternChannel::kStrobe);
          const std::string where = "length " + std::to_string(length) + " range " + std::to_string(start) +
                                    ".." + std::to_string(last) + " op " +
                                    std::to_string(static_cast<int>(op)) + " n " + std::to_string(n);
          ASSERT_EQ(m.Apply(op, PatternChannel::kStrobe, n), BitPatternModel::Result::kDone) << where;
          EXPECT_EQ(Unpack(m, PatternChannel::kStrobe), Expected(op, before, start - 1, last - 1, n))
              << where;
          // Positions past the length stay 0 in the packed form.
          const std::vector<std::uint8_t>& bytes = m.Bytes(PatternChannel::kStrobe);
          ASSERT_EQ(bytes.size(), static_cast<size_t>((length + 7) / 8)) << where;
          if (length % 8) {
            EXPECT_EQ(bytes.back() & (0xFF >> (length % 8)), 0) << where;
          }
          ASSERT_TRUE(m.Undo()) << where;
          EXPECT_EQ(Unpack(m, PatternChannel::kStrobe), before) << where;
        }
      }
    }
  }
}

TEST(BitPatternModelTest, PrbsGoesThroughTheOwnersFunctionOverTheRange) {
  BitPatternModel m(13);
  m.SetRange(1, 7);
  ASSERT_EQ(m.Apply(PatternOp::kPrbs, PatternChannel::kChannel1, 7, testing::ReferencePrbs),
            BitPatternModel::Result::kDone);
  EXPECT_EQ(m.Bytes(PatternChannel::kChannel1), (std::vector<std::uint8_t>{0xFE, 0x00}));  // the preload

  std::vector<std::int32_t> call;
  m.SetRange(9, 13);
  m.Apply(PatternOp::kPrbs, PatternChannel::kChannel1, 14,
          [&](std::int32_t s, std::int32_t l, std::int32_t base, std::vector<std::uint8_t>& bytes) {
            call = {s, l, base, static_cast<std::int32_t>(bytes.size())};
            bytes.assign(5, 0xFF);  // more than the pattern holds, and every bit set
            return true;
          });
  EXPECT_EQ(call, (std::vector<std::int32_t>{9, 13, 14, 2}));
  EXPECT_EQ(m.Bytes(PatternChannel::kChannel1), (std::vector<std::uint8_t>{0xFF, 0xF8}));
}

TEST(BitPatternModelTest, RefusedAndFailedEditsChangeNothing) {
  BitPatternModel m(20);
  m.LoadBytes(PatternChannel::kChannel2, {0x12, 0x34, 0x50});
  m.Apply(PatternOp::kFill1, PatternChannel::kChannel1);
  m.SetChannel2Exists(false);
  for (PatternOp op : {PatternOp::kFill0, PatternOp::kInvert, PatternOp::kDeleteBit, PatternOp::kClockDivN}) {
    EXPECT_EQ(m.Apply(op, PatternChannel::kChannel2, 2), BitPatternModel::Result::kChannel2Disabled);
  }
  EXPECT_EQ(m.SetBit(PatternChannel::kChannel2, 1, true), BitPatternModel::Result::kChannel2Disabled);
  EXPECT_EQ(m.Bytes(PatternChannel::kChannel2), (std::vector<std::uint8_t>{0x12, 0x34, 0x50}));

  EXPECT_EQ(m.Apply(PatternOp::kClockDivN, PatternChannel::kStrobe, 0),
            BitPatternModel::Result::kInvalidArgument);
  EXPECT_EQ(m.Apply(PatternOp::kPrbs, PatternChannel::kStrobe, 6, testing::ReferencePrbs),
            BitPatternModel::Result::kInvalidArgument);
  EXPECT_EQ(m.Apply(PatternOp::kPrbs, PatternChannel::kStrobe, 15, testing::ReferencePrbs),
            BitPatternModel::Result::kInvalidArgument);
  EXPECT_EQ(m.Apply(PatternOp::kPrbs, PatternChannel::kStrobe, 7), BitPatternModel::Result::kNoPrbs);
  EXPECT_EQ(m.Apply(PatternOp::kPrbs, PatternChannel::kStrobe, 7,
                    [](std::int32_t, std::int32_t, std::int32_t, std::vector<std::uint8_t>& b) {
                      b.assign(b.size(), 0xFF);
                      return false;
                    }),
            BitPatternModel::Result::kPrbsFailed);
  EXPECT_EQ(m.Bytes(PatternChannel::kStrobe), (std::vector<std::uint8_t>{0, 0, 0}));

  // The last successful edit is still the one undone.
  ASSERT_TRUE(m.Undo());
  EXPECT_EQ(m.Bytes(PatternChannel::kChannel1), (std::vector<std::uint8_t>{0, 0, 0}));
  EXPECT_FALSE(m.Undo());
}

TEST(BitPatternModelTest, UndoTakesBackOnlyTheLastEdit) {
  BitPatternModel m(10);
  m.SetBit(PatternChannel::kChannel1, 10, true);
  m.SetBit(PatternChannel::kChannel1, 1, true);
  ASSERT_TRUE(m.CanUndo());
  EXPECT_TRUE(m.Undo());
  EXPECT_FALSE(m.Bit(PatternChannel::kChannel1, 1));
  EXPECT_TRUE(m.Bit(PatternChannel::kChannel1, 10));
  EXPECT_FALSE(m.CanUndo());
  // A download is not an edit, and the edit before it cannot be undone over it.
  m.Apply(PatternOp::kInvert, PatternChannel::kChannel1);
  m.LoadBytes(PatternChannel::kChannel1, {0xAA});
  EXPECT_FALSE(m.Undo());
  EXPECT_EQ(m.Bytes(PatternChannel::kChannel1), (std::vector<std::uint8_t>{0xAA, 0x00}));
}

TEST(BitPatternModelTest, LengthAndRangeStayConsistent) {
  BitPatternModel m(16);
  m.Apply(PatternOp::kFill1, PatternChannel::kChannel1);
  m.SetRange(12, 5);
  EXPECT_EQ(m.StartAddress(), 5);
  EXPECT_EQ(m.LastAddress(), 12);
  m.SetLength(10);
  EXPECT_EQ(m.LastAddress(), 10);
  EXPECT_EQ(m.Bytes(PatternChannel::kChannel1), (std::vector<std::uint8_t>{0xFF, 0xC0}));
  m.SetLength(16);
  EXPECT_EQ(m.Bytes(PatternChannel::kChannel1), (std::vector<std::uint8_t>{0xFF, 0xC0}));  // no old bits back
  ASSERT_TRUE(m.Undo());  // the fill, on the length of now
  EXPECT_EQ(m.Bytes(PatternChannel::kChannel1), (std::vector<std::uint8_t>{0, 0}));
  m.SetLength(0);
  EXPECT_EQ(m.Length(), 1);
  m.SetLength(1 << 20);
  EXPECT_EQ(m.Length(), BitPatternModel::kMaxLength);
  m.SetRange(-3, 1 << 20);
  EXPECT_EQ(m.StartAddress(), 1);
  EXPECT_EQ(m.LastAddress(), BitPatternModel::kMaxLength);
  m.SetRz(PatternChannel::kChannel2, true);
  m.SetRz(PatternChannel::kStrobe, true);
  EXPECT_TRUE(m.Rz(PatternChannel::kChannel2));
  EXPECT_FALSE(m.Rz(PatternChannel::kChannel1));
  EXPECT_FALSE(m.Rz(PatternChannel::kStrobe));
}

}  // namespace
}  // namespace pgx::panel
