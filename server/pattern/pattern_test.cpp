// Pattern against the recording driver: CalcPRBS against the properties of a maximal-length sequence, the
// three array formats in both directions (Bits packed most significant bit first, lengths that are not
// multiples of 8), the checks that stop a member with nothing sent, and the file names as given.
#include "server/pattern/pattern.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "automation/safearray.h"
#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using auto_::SafeArray;
using driver::testing::Reply;
using testing::ChildOf;
using testing::RecordedInstrument;
using Bytes = std::vector<BYTE>;
using Lines = std::vector<std::string>;

// A client's byte array (lower bound 0) holding `bytes`.
SafeArray ArrayOf(const Bytes& bytes) {
  SafeArray array(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  auto_::SafeArrayData<BYTE> data(array.get());
  for (std::size_t i = 0; i < bytes.size(); ++i) data[i] = bytes[i];
  return array;
}

Bytes BytesOf(const SafeArray& array) {
  auto_::SafeArrayData<BYTE> data(array.get());
  return Bytes(data.data(), data.data() + array.Count());
}

// Bit position `p` (1-based, the most significant bit of byte 0 first).
bool BitAt(const Bytes& bytes, std::size_t p) {
  return (bytes[(p - 1) / 8] >> (7 - (p - 1) % 8)) & 1;
}

class PatternTest : public ::testing::Test {
 protected:
  void SetUp() override {
    instrument_.emplace("M4030A,M4040A");
    pattern_ = ChildOf(instrument_->instrument.Get(), &IInstrument::get_Pattern);
    driver().ClearCalls();
  }

  driver::testing::RecordingDriver& driver() { return instrument_->driver; }

  // CalcPRBS on `bytes`; the array as it is afterwards.
  HRESULT CalcPrbs(LONG start, LONG end, LONG base, Bytes& bytes) {
    SafeArray array = ArrayOf(bytes);
    SAFEARRAY* psa = array.get();
    HRESULT hr = pattern_->CalcPRBS(start, end, base, &psa);
    bytes = BytesOf(array);
    return hr;
  }

  std::optional<RecordedInstrument> instrument_;
  auto_::ComPtr<IPattern> pattern_;
};

// ---- CalcPRBS ----

TEST_F(PatternTest, CalcPrbsWorkedValues) {
  struct Case {
    LONG start, end, base;
    Bytes before;
    HRESULT result;
    Bytes after;
  };
  const Case cases[] = {
      {1, 7, 7, {0x00}, S_OK, {0xFE}},  // the preload: seven ones; bit 0 left as it was
      {1, 7, 7, {0x01}, S_OK, {0xFF}},
      {2, 8, 7, {0x80}, S_OK, {0xFF}},
      {1, 14, 14, {0x00, 0x03}, S_OK, {0xFF, 0xFF}},
      {9, 8, 7, {0x12, 0x34}, S_OK, {0x12, 0x34}},  // start after end: nothing changes
      {1, 17, 7, {0x12, 0x34}, kErrArrayTooSmall, {0x12, 0x34}},
      {17, 1, 7, {0x12, 0x34}, kErrArrayTooSmall, {0x12, 0x34}},
      {1, 16, 6, {0x12, 0x34}, E_INVALIDARG, {0x12, 0x34}},
      {1, 16, 15, {0x12, 0x34}, E_INVALIDARG, {0x12, 0x34}},
      {0, 16, 7, {0x12, 0x34}, E_INVALIDARG, {0x12, 0x34}},  // position 0 does not exist
      {-9, 16, 7, {0x12, 0x34}, E_INVALIDARG, {0x12, 0x34}},
      {1, -1, 7, {0x12, 0x34}, E_INVALIDARG, {0x12, 0x34}},
      {INT32_MIN, INT32_MAX, 7, {0x12, 0x34}, kErrArrayTooSmall, {0x12, 0x34}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.start << ".." << c.end << " order " << c.base);
    Bytes bytes = c.before;
    EXPECT_EQ(CalcPrbs(c.start, c.end, c.base, bytes), c.result);
    EXPECT_EQ(bytes, c.after);
  }
  EXPECT_EQ(driver().CallCount(), 0u);  // computed in the server
}

// Every order gives a maximal-length sequence after its preload: it repeats with period 2^n - 1 and no
// shorter one, holds 2^(n-1) ones per period, and each n-bit window of a period appears once.
TEST_F(PatternTest, CalcPrbsGivesAMaximalLengthSequenceOfEveryOrder) {
  for (LONG n = 7; n <= 14; ++n) {
    SCOPED_TRACE(n);
    const std::size_t period = (std::size_t{1} << n) - 1;
    const std::size_t length = static_cast<std::size_t>(n) + 2 * period;
    Bytes bytes((length + 7) / 8, 0x00);
    ASSERT_EQ(CalcPrbs(1, static_cast<LONG>(length), n, bytes), S_OK);
    for (LONG p = 1; p <= n; ++p) EXPECT_TRUE(BitAt(bytes, p)) << "preload bit " << p;
    auto bit = [&](std::size_t i) { return BitAt(bytes, static_cast<std::size_t>(n) + 1 + i); };

    std::size_t ones = 0;
    for (std::size_t i = 0; i < period; ++i) {
      ones += bit(i);
      ASSERT_EQ(bit(i), bit(i + period)) << "period broken at " << i;
    }
    EXPECT_EQ(ones, std::size_t{1} << (n - 1));
    for (std::size_t divisor = 1; divisor < period; ++divisor) {
      if (period % divisor != 0) continue;
      bool repeats = true;
      for (std::size_t i = 0; i + divisor < 2 * period && repeats; ++i) repeats = bit(i) == bit(i + divisor);
      EXPECT_FALSE(repeats) << "repeats every " << divisor;
    }
    std::set<unsigned> windows;
    for (std::size_t i = 0; i < period; ++i) {
      unsigned window = 0;
      for (LONG k = 0; k < n; ++k) window = (window << 1) | bit(i + static_cast<std::size_t>(k));
      windows.insert(window);
    }
    EXPECT_EQ(windows.size(), period);
  }
}

// The sequence starts at the start position whatever the byte boundaries, and the bits around it keep their
// values.
TEST_F(PatternTest, CalcPrbsWritesOnlyItsPositionsAcrossBytes) {
  Bytes reference(4, 0x00);
  ASSERT_EQ(CalcPrbs(1, 20, 9, reference), S_OK);
  for (LONG start : {2, 8, 9, 13}) {
    SCOPED_TRACE(start);
    Bytes bytes(5, 0xA5);
    const Bytes before = bytes;
    ASSERT_EQ(CalcPrbs(start, start + 19, 9, bytes), S_OK);
    for (std::size_t p = 1; p <= 40; ++p) {
      const bool inside = p >= static_cast<std::size_t>(start) && p < static_cast<std::size_t>(start) + 20;
      EXPECT_EQ(BitAt(bytes, p), inside ? BitAt(reference, p - start + 1) : BitAt(before, p)) << "bit " << p;
    }
  }
}

TEST_F(PatternTest, CalcPrbsRefusesArraysItCannotUse) {
  EXPECT_EQ(pattern_->CalcPRBS(1, 7, 7, nullptr), E_POINTER);
  SAFEARRAY* none = nullptr;
  EXPECT_EQ(pattern_->CalcPRBS(1, 7, 7, &none), E_POINTER);
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SafeArray square = SafeArray::Attach(SafeArrayCreate(VT_UI1, 2, bounds));
  SAFEARRAY* psa = square.get();
  EXPECT_EQ(pattern_->CalcPRBS(1, 7, 7, &psa), kErrSingleDimensionOnly);
  SafeArray empty(VT_UI1, 0, 0);
  psa = empty.get();
  EXPECT_EQ(pattern_->CalcPRBS(1, 7, 7, &psa), kErrArrayTooSmall);
}

// ---- Pattern data from and to byte arrays ----

struct SendCase {
  PgxPatternArrayFormat format;
  Bytes array;
  LONG length;
  HRESULT result;
  const char* sent;  // nullptr: nothing
};

TEST_F(PatternTest, DataSendToInstrumentInEachFormat) {
  const SendCase cases[] = {
      {PgxPatternArrayFormatBits, {0xA0}, 3, S_OK, "pgxgen_patternDataDownloadBuffer(1, 1, [01 00 01], 3)"},
      {PgxPatternArrayFormatBits,
       {0xFF, 0x80},
       9,
       S_OK,
       "pgxgen_patternDataDownloadBuffer(1, 1, [01 01 01 01 01 01 01 01 01], 9)"},
      {PgxPatternArrayFormatBits,
       {0x0F, 0x5A, 0xFF},
       12,
       S_OK,
       "pgxgen_patternDataDownloadBuffer(1, 1, [00 00 00 00 01 01 01 01 00 01 00 01], 12)"},
      {PgxPatternArrayFormatBits,
       {0x81},
       8,
       S_OK,
       "pgxgen_patternDataDownloadBuffer(1, 1, [01 00 00 00 00 00 00 01], 8)"},
      // Zero positions go to the driver, which judges the length.
      {PgxPatternArrayFormatBits, {0xFF}, 0, S_OK, "pgxgen_patternDataDownloadBuffer(1, 1, [], 0)"},
      // The array must hold PatternLength bits.
      {PgxPatternArrayFormatBits, {0xFF}, 9, kErrArrayTooSmall, nullptr},
      {PgxPatternArrayFormatBits, {0xFF}, -1, E_INVALIDARG, nullptr},
      // Ascii and Binary go as they are, whatever PatternLength says.
      {PgxPatternArrayFormatAscii,
       {'1', '0', '1'},
       99,
       S_OK,
       "pgxgen_patternDataDownloadBuffer(1, 1, [31 30 31], 3)"},
      {PgxPatternArrayFormatBinary,
       {1, 0, 0, 1},
       -5,
       S_OK,
       "pgxgen_patternDataDownloadBuffer(1, 1, [01 00 00 01], 4)"},
  };
  for (const SendCase& c : cases) {
    SCOPED_TRACE(c.sent ? c.sent : "nothing");
    driver().ClearCalls();
    SafeArray array = ArrayOf(c.array);
    SAFEARRAY* psa = array.get();
    EXPECT_EQ(pattern_->DataSendToInstrument(PgxDataChannel1, c.format, &psa, c.length), c.result);
    EXPECT_EQ(driver().Calls(), c.sent ? Lines{c.sent} : Lines{});
    EXPECT_EQ(BytesOf(array), c.array);  // the client's array is not touched
  }
}

struct GetCase {
  PgxPatternArrayFormat format;
  std::size_t array_size;
  std::string positions;  // what the instrument holds
  const char* called;
  Bytes array;  // afterwards; it held 0xEE bytes
  LONG length;
};

TEST_F(PatternTest, DataGetFromInstrumentInEachFormat) {
  const GetCase cases[] = {
      {PgxPatternArrayFormatBits, 1, "101", "pgxgen_patternDataDownloadBuffer_Q(1, 2, 8, 0)", {0xA0}, 3},
      {PgxPatternArrayFormatBits,
       3,
       "111111111",
       "pgxgen_patternDataDownloadBuffer_Q(1, 2, 24, 0)",
       {0xFF, 0x80, 0xEE},
       9},
      {PgxPatternArrayFormatBits,
       2,
       "0000111101011",
       "pgxgen_patternDataDownloadBuffer_Q(1, 2, 16, 0)",
       {0x0F, 0x58},
       13},
      // More positions than the array holds: the array is filled, the rest is not read.
      {PgxPatternArrayFormatBits,
       1,
       "1000000110",
       "pgxgen_patternDataDownloadBuffer_Q(1, 2, 8, 0)",
       {0x81},
       8},
      {PgxPatternArrayFormatAscii,
       4,
       "101",
       "pgxgen_patternDataDownloadBuffer_Q(1, 2, 4, 1)",
       {'1', '0', '1', 0xEE},
       3},
      {PgxPatternArrayFormatBinary, 2, "101", "pgxgen_patternDataDownloadBuffer_Q(1, 2, 2, 0)", {1, 0}, 2},
  };
  for (const GetCase& c : cases) {
    SCOPED_TRACE(c.positions);
    driver().ClearCalls();
    driver().Script("pgxgen_patternDataDownloadBuffer_Q", Reply{VI_SUCCESS, {}, {c.positions}});
    SafeArray array = ArrayOf(Bytes(c.array_size, 0xEE));
    SAFEARRAY* psa = array.get();
    LONG length = -1;
    EXPECT_EQ(pattern_->DataGetFromInstrument(PgxDataChannel2, c.format, &psa, &length), S_OK);
    EXPECT_EQ(driver().Calls(), Lines{c.called});
    EXPECT_EQ(BytesOf(array), c.array);
    EXPECT_EQ(length, c.length);
  }
}

TEST_F(PatternTest, AFailedReadLeavesTheArrayAndTheLength) {
  driver().Fail("pgxgen_patternDataDownloadBuffer_Q", VI_ERROR_TMO);
  for (auto format : {PgxPatternArrayFormatBits, PgxPatternArrayFormatBinary}) {
    SafeArray array = ArrayOf({0x12, 0x34});
    SAFEARRAY* psa = array.get();
    LONG length = -1;
    EXPECT_EQ(pattern_->DataGetFromInstrument(PgxDataChannel1, format, &psa, &length), kErrDriver);
    EXPECT_EQ(BytesOf(array), (Bytes{0x12, 0x34}));
    EXPECT_EQ(length, -1);
  }
}

// Wrong channels, formats, pointers and array shapes stop every pattern member before anything is sent.
TEST_F(PatternTest, ChecksStopTheTransferWithNothingSent) {
  SafeArray array = ArrayOf({0xFF});
  SAFEARRAY* psa = array.get();
  SAFEARRAY* none = nullptr;
  SafeArray empty(VT_UI1, 0, 0);
  SAFEARRAY* no_elements = empty.get();
  SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
  SafeArray square = SafeArray::Attach(SafeArrayCreate(VT_UI1, 2, bounds));
  SAFEARRAY* two_dimensions = square.get();
  SafeArray words(VT_I4, 0, 2);
  SAFEARRAY* not_bytes = words.get();
  LONG length = 0;
  const auto bits = PgxPatternArrayFormatBits;
  const auto channel = PgxDataChannel1;
  const BSTR file = nullptr;
  struct Case {
    const char* what;
    HRESULT hr;
    HRESULT expected;
  };
  const Case cases[] = {
      {"send to channel 4", pattern_->DataSendToInstrument(PgxDataChannel(4), bits, &psa, 8), E_INVALIDARG},
      {"send to channel -1", pattern_->DataSendToInstrument(PgxDataChannel(-1), bits, &psa, 8), E_INVALIDARG},
      {"send format 3", pattern_->DataSendToInstrument(channel, PgxPatternArrayFormat(3), &psa, 8),
       E_INVALIDARG},
      {"send without array", pattern_->DataSendToInstrument(channel, bits, &none, 8), E_POINTER},
      {"send no pointer", pattern_->DataSendToInstrument(channel, bits, nullptr, 8), E_POINTER},
      {"send empty", pattern_->DataSendToInstrument(channel, bits, &no_elements, 0), kErrArrayTooSmall},
      {"send 2-D", pattern_->DataSendToInstrument(channel, bits, &two_dimensions, 1),
       kErrSingleDimensionOnly},
      {"send words", pattern_->DataSendToInstrument(channel, bits, &not_bytes, 1), E_INVALIDARG},
      {"get channel 4", pattern_->DataGetFromInstrument(PgxDataChannel(4), bits, &psa, &length),
       E_INVALIDARG},
      {"get format -1", pattern_->DataGetFromInstrument(channel, PgxPatternArrayFormat(-1), &psa, &length),
       E_INVALIDARG},
      {"get no length", pattern_->DataGetFromInstrument(channel, bits, &psa, nullptr), E_POINTER},
      {"get without array", pattern_->DataGetFromInstrument(channel, bits, &none, &length), E_POINTER},
      {"get empty", pattern_->DataGetFromInstrument(channel, bits, &no_elements, &length), kErrArrayTooSmall},
      {"get 2-D", pattern_->DataGetFromInstrument(channel, bits, &two_dimensions, &length),
       kErrSingleDimensionOnly},
      {"from file channel 4", pattern_->DataSendToInstrumentFromFile(PgxDataChannel(4), file), E_INVALIDARG},
      {"to file channel 4", pattern_->DataGetFromInstrumentToFile(PgxDataChannel(4), VARIANT_TRUE, file),
       E_INVALIDARG},
      {"PRBS channel 4", pattern_->DataPRBS(PgxDataChannel(4), 7, 100), E_INVALIDARG},
      {"preset channel 4", pattern_->DataPreset(PgxDataChannel(4), 2, 100), E_INVALIDARG},
      {"update mode 3", pattern_->put_UpdateMode(PgxPatternUpdateEnd), E_INVALIDARG},
      {"update mode -1", pattern_->put_UpdateMode(PgxPatternUpdate(-1)), E_INVALIDARG},
      {"update mode no pointer", pattern_->get_UpdateMode(nullptr), E_POINTER},
      {"state no pointer", pattern_->get_State(nullptr), E_POINTER},
  };
  for (const Case& c : cases) EXPECT_EQ(c.hr, c.expected) << c.what;
  EXPECT_EQ(driver().Calls(), Lines{});
}

// ---- Files, PRBS, presets, mode ----

TEST_F(PatternTest, FileNamesReachTheDriverAsGiven) {
  auto_::Bstr relative(u"patterns/ch1 data.txt");
  auto_::Bstr absolute(u"/tmp/\u00e9t\u00e9.pat");
  EXPECT_EQ(pattern_->DataSendToInstrumentFromFile(PgxDataChannelAll, relative.get()), S_OK);
  EXPECT_EQ(pattern_->DataGetFromInstrumentToFile(PgxDataStrobe, VARIANT_TRUE, absolute.get()), S_OK);
  EXPECT_EQ(pattern_->DataGetFromInstrumentToFile(PgxDataChannel2, VARIANT_FALSE, relative.get()), S_OK);
  EXPECT_EQ(driver().Calls(),
            (Lines{
                "pgxgen_patternDataDownloadFile(1, 0, \"patterns/ch1 data.txt\")",
                "pgxgen_patternDataDownloadFile_Q(1, 3, 1, \"/tmp/\\xC3\\xA9t\\xC3\\xA9.pat\")",
                "pgxgen_patternDataDownloadFile_Q(1, 2, 0, \"patterns/ch1 data.txt\")",
            }));
  // A name the driver would read only in part, or that has no narrow form, is refused.
  driver().ClearCalls();
  auto_::Bstr cut = auto_::Bstr::Attach(SysAllocStringLen(u"keep.txt\0/etc/passwd", 20));
  auto_::Bstr broken(u"\xD800.txt");
  EXPECT_EQ(pattern_->DataGetFromInstrumentToFile(PgxDataChannel1, VARIANT_TRUE, cut.get()), E_ACCESSDENIED);
  EXPECT_EQ(pattern_->DataSendToInstrumentFromFile(PgxDataChannel1, broken.get()), E_ACCESSDENIED);
  EXPECT_EQ(driver().Calls(), Lines{});
}

TEST_F(PatternTest, PrbsPresetAndUpdateModeGoToTheDriver) {
  driver().Answer(":DIG:PATT?", "ON");
  driver().Return("pgxgen_patternUpdate_Q", {2});
  auto mode = PgxPatternUpdate(-1);
  VARIANT_BOOL state = VARIANT_TRUE;
  EXPECT_EQ(pattern_->DataPRBS(PgxDataStrobe, 9, 511), S_OK);
  EXPECT_EQ(pattern_->DataPreset(PgxDataChannelAll, 4, 64), S_OK);
  EXPECT_EQ(pattern_->put_UpdateMode(PgxPatternUpdateOnce), S_OK);
  EXPECT_EQ(pattern_->get_UpdateMode(&mode), S_OK);
  EXPECT_EQ(pattern_->put_State(VARIANT_TRUE), S_OK);
  EXPECT_EQ(pattern_->get_State(&state), S_OK);
  EXPECT_EQ(mode, PgxPatternUpdateContinuous);
  EXPECT_EQ(state, VARIANT_FALSE);  // only "1" is on
  EXPECT_EQ(driver().Calls(), (Lines{
                                  "pgxgen_patternDataPRBS(1, 3, 9, 511)",
                                  "pgxgen_patternDataPreset(1, 0, 4, 64)",
                                  "pgxgen_patternUpdate(1, 1)",
                                  "pgxgen_patternUpdate_Q(1)",
                                  "pgxgen_cmdString(1, \":DIG:PATT\", \"ON\")",
                                  "pgxgen_cmdString_Q(1, \":DIG:PATT?\", 256)",
                              }));
  // The driver judges the exponent, the divider and the lengths.
  driver().Fail("pgxgen_patternDataPRBS", PGXGEN_ERROR_PRBS_EXPONENT);
  EXPECT_EQ(pattern_->DataPRBS(PgxDataChannel1, 6, 100), E_INVALIDARG);
}

}  // namespace
}  // namespace pgx::server
