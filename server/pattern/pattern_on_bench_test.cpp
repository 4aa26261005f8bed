// Pattern data, the PLL reference and settings as a script uses them: late-bound by name through the
// registered module and the real driver, against the simulated instruments of the built-in bench.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "server/testing/on_bench.h"

namespace {

using pgx::auto_::DispatchPtr;
using pgx::auto_::SafeArray;
using pgx::auto_::SafeArrayData;
using pgx::auto_::Variant;
using namespace pgx::server::testing;
using Bytes = std::vector<BYTE>;

// PgxDataChannel, PgxPatternArrayFormat and PgxPllRefSource as a script passes them.
enum : LONG { kAll = 0, kChannel1 = 1, kChannel2 = 2, kStrobe = 3 };
enum : LONG { kAscii = 0, kBinary = 1, kBits = 2 };
enum : LONG { kClockIn = 0, kInternal1 = 1, kInternal2 = 2 };

constexpr LONG kPositions = 16384;

// A byte array of a script, passed by reference so that the server fills it in place.
struct ByteArray {
  explicit ByteArray(std::size_t count, BYTE fill = 0) : array(VT_UI1, 0, static_cast<ULONG>(count)) {
    SafeArrayData<BYTE> data(array.get());
    for (std::size_t i = 0; i < count; ++i) data[i] = fill;
    psa = array.get();
  }
  Variant Ref() {
    Variant v;
    v.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    v.pparray = &psa;
    return v;
  }
  Bytes bytes() const {
    SafeArrayData<BYTE> data(array.get());
    return Bytes(data.data(), data.data() + array.Count());
  }
  SafeArray array;
  SAFEARRAY* psa;
};

Variant L(LONG v) {
  return Variant(v);
}

// A folder of its own for the files of one test, removed afterwards.
struct TempFolder {
  TempFolder() {
    char name[] = "/tmp/pgx-pattern-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  std::filesystem::path path;
};

using PatternOnBench = OnBench;

// 16,384 positions of a PRBS that CalcPRBS computed go out and come back in every array format, on both
// channels and the strobe output.
TEST_F(PatternOnBench, SixteenThousandPositionsRoundTripInEveryFormat) {
  for (const BenchInstrument& which : {kQ530Ax2, kM4040Ax2}) {
    SCOPED_TRACE(which.front_ends);
    DispatchPtr instrument = Open(which);
    DispatchPtr pattern = Object(instrument.InvokeByName(u"Pattern", kGet));
    ByteArray bits(kPositions / 8);
    pattern.InvokeByName(u"CalcPRBS", kCall, {L(1), L(kPositions), L(11), bits.Ref()});
    // The same positions one per byte, as the Ascii and Binary formats carry them.
    Bytes binary(kPositions), ascii(kPositions);
    for (LONG i = 0; i < kPositions; ++i) {
      binary[i] = (bits.bytes()[i / 8] >> (7 - i % 8)) & 1;
      ascii[i] = binary[i] ? '1' : '0';
    }
    struct Format {
      LONG format;
      LONG channel;
      const Bytes* sent;
    };
    for (const Format& f : {Format{kBits, kChannel1, nullptr}, Format{kBinary, kChannel2, &binary},
                            Format{kAscii, kStrobe, &ascii}}) {
      SCOPED_TRACE(f.format);
      ByteArray out(f.sent ? kPositions : kPositions / 8);
      if (f.sent) {
        SafeArrayData<BYTE> data(out.array.get());
        std::copy(f.sent->begin(), f.sent->end(), data.data());
      } else {
        out.psa = bits.psa;
      }
      pattern.InvokeByName(u"DataSendToInstrument", kCall,
                           {L(f.channel), L(f.format), out.Ref(), L(kPositions)});
      ByteArray back(f.sent ? kPositions : kPositions / 8, 0xEE);
      LONG length = 0;
      pattern.InvokeByName(u"DataGetFromInstrument", kCall,
                           {L(f.channel), L(f.format), back.Ref(), Ref(&length)});
      EXPECT_EQ(length, kPositions);
      EXPECT_EQ(back.bytes(), f.sent ? *f.sent : bits.bytes());
    }
    instrument.InvokeByName(u"Close", kCall);
  }
}

// A length that is not a multiple of 8 leaves the unused low bits of the last byte clear; a Bits array too
// small for PatternLength is refused before anything reaches the instrument.
TEST_F(PatternOnBench, BitsOfAPatternThatEndsInsideAByte) {
  DispatchPtr instrument = Open(kQ530Ax2);
  DispatchPtr pattern = Object(instrument.InvokeByName(u"Pattern", kGet));
  ByteArray bits(2, 0xFF);
  pattern.InvokeByName(u"DataSendToInstrument", kCall, {L(kChannel1), L(kBits), bits.Ref(), L(11)});
  ByteArray back(3, 0xEE);
  LONG length = 0;
  pattern.InvokeByName(u"DataGetFromInstrument", kCall, {L(kChannel1), L(kBits), back.Ref(), Ref(&length)});
  EXPECT_EQ(length, 11);
  EXPECT_EQ(back.bytes(), (Bytes{0xFF, 0xE0, 0xEE}));

  EXPECT_EQ(
      FailureOf([&] {
        pattern.InvokeByName(u"DataSendToInstrument", kCall, {L(kChannel1), L(kBits), bits.Ref(), L(17)});
      }),
      static_cast<HRESULT>(0x80040469));
  pattern.InvokeByName(u"DataGetFromInstrument", kCall, {L(kChannel1), L(kBits), back.Ref(), Ref(&length)});
  EXPECT_EQ(length, 11);  // the pattern stayed as it was
}

TEST_F(PatternOnBench, PresetPrbsUpdateModeAndState) {
  DispatchPtr instrument = Open(kM4040Ax2);
  DispatchPtr pattern = Object(instrument.InvokeByName(u"Pattern", kGet));
  pattern.InvokeByName(u"DataPreset", kCall, {L(kAll), L(4), L(20)});
  ByteArray back(4, 0xEE);
  LONG length = 0;
  for (LONG channel : {kChannel1, kChannel2, kStrobe}) {
    pattern.InvokeByName(u"DataGetFromInstrument", kCall, {L(channel), L(kBits), back.Ref(), Ref(&length)});
    EXPECT_EQ(length, 20);
    EXPECT_EQ(back.bytes(), (Bytes{0xF0, 0xF0, 0xF0, 0xEE}));
  }
  // The instrument's PRBS of order 7: one period holds 64 ones.
  pattern.InvokeByName(u"DataPRBS", kCall, {L(kChannel2), Variant(SHORT{7}), L(127)});
  ByteArray prbs(127, 0xEE);
  pattern.InvokeByName(u"DataGetFromInstrument", kCall, {L(kChannel2), L(kBinary), prbs.Ref(), Ref(&length)});
  EXPECT_EQ(length, 127);
  const Bytes sequence = prbs.bytes();
  EXPECT_EQ(std::count(sequence.begin(), sequence.end(), BYTE{1}), 64);
  EXPECT_EQ(FailureOf([&] {
              pattern.InvokeByName(u"DataPRBS", kCall, {L(kChannel1), Variant(SHORT{15}), L(9)});
            }),
            E_INVALIDARG);

  for (LONG mode : {0, 1, 2}) {
    pattern.InvokeByName(u"UpdateMode", kPut, {L(mode)});
    EXPECT_EQ(pattern.InvokeByName(u"UpdateMode", kGet).lVal, mode);
  }
  pattern.InvokeByName(u"State", kPut, {Variant(true)});
  EXPECT_EQ(pattern.InvokeByName(u"State", kGet).boolVal, VARIANT_TRUE);
  pattern.InvokeByName(u"State", kPut, {Variant(false)});
  EXPECT_EQ(pattern.InvokeByName(u"State", kGet).boolVal, VARIANT_FALSE);
}

// Pattern files written by the driver load back, as characters and as bytes.
TEST_F(PatternOnBench, PatternFilesRoundTrip) {
  TempFolder folder;
  DispatchPtr instrument = Open(kQ530Ax2);
  DispatchPtr pattern = Object(instrument.InvokeByName(u"Pattern", kGet));
  ByteArray bits(4);
  pattern.InvokeByName(u"CalcPRBS", kCall, {L(1), L(32), L(8), bits.Ref()});
  pattern.InvokeByName(u"DataSendToInstrument", kCall, {L(kChannel1), L(kBits), bits.Ref(), L(32)});
  for (bool ascii : {true, false}) {
    SCOPED_TRACE(ascii);
    const std::u16string file = (folder.path / (ascii ? "ch1.txt" : "ch1.bin")).u16string();
    pattern.InvokeByName(u"DataGetFromInstrumentToFile", kCall,
                         {L(kChannel1), Variant(ascii), Variant(file.c_str())});
    std::ifstream in(folder.path / (ascii ? "ch1.txt" : "ch1.bin"), std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(content.size(), ascii ? 33u : 32u);
    pattern.InvokeByName(u"DataSendToInstrumentFromFile", kCall, {L(kStrobe), Variant(file.c_str())});
    ByteArray back(4, 0xEE);
    LONG length = 0;
    pattern.InvokeByName(u"DataGetFromInstrument", kCall, {L(kStrobe), L(kBits), back.Ref(), Ref(&length)});
    EXPECT_EQ(length, 32);
    EXPECT_EQ(back.bytes(), bits.bytes());
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 2);
}

TEST_F(PatternOnBench, PllReferenceSourceAndFrequency) {
  DispatchPtr instrument = Open(kQ530Ax2);
  DispatchPtr reference = Object(instrument.InvokeByName(u"PllReference", kGet));
  double frequency = 5e6;
  reference.InvokeByName(u"Source", kPut, {Ref(&frequency), L(kClockIn)});
  frequency = 0;
  EXPECT_EQ(reference.InvokeByName(u"Source", kGet, {Ref(&frequency)}).lVal, kClockIn);
  EXPECT_EQ(frequency, 5e6);
  // An internal reference keeps the frequency of CLK IN last set.
  frequency = 7e6;
  reference.InvokeByName(u"Source", kPut, {Ref(&frequency), L(kInternal2)});
  EXPECT_EQ(reference.InvokeByName(u"Source", kGet, {Ref(&frequency)}).lVal, kInternal2);
  EXPECT_EQ(frequency, 5e6);
  EXPECT_EQ(FailureOf([&] {
              reference.InvokeByName(u"Source", kPut, {Ref(&frequency), L(3)});
            }),
            E_INVALIDARG);
}

// Settings stored in a memory and in a file restore what changed since; a relative file name lands in the
// current directory of the process.
TEST_F(PatternOnBench, SettingsRestoreFromMemoryAndFromFile) {
  TempFolder folder;
  DispatchPtr instrument = Open(kM4040Ax2);
  DispatchPtr setting = Object(instrument.InvokeByName(u"Setting", kGet));
  instrument.InvokeByName(u"Frequency", kPut, {Variant(2e6)});
  setting.InvokeByName(u"SaveToMem", kCall, {Variant(SHORT{3})});
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path);
  setting.InvokeByName(u"SaveToFile", kCall, {Variant(u"bench.lrn")});
  std::filesystem::current_path(previous);
  EXPECT_TRUE(std::filesystem::is_regular_file(folder.path / "bench.lrn"));

  instrument.InvokeByName(u"Frequency", kPut, {Variant(3e6)});
  setting.InvokeByName(u"LoadFromMem", kCall, {Variant(SHORT{3})});
  EXPECT_EQ(Get(instrument, u"Frequency"), 2e6);
  instrument.InvokeByName(u"Frequency", kPut, {Variant(4e6)});
  setting.InvokeByName(u"LoadFromFile", kCall, {Variant((folder.path / "bench.lrn").u16string().c_str())});
  EXPECT_EQ(Get(instrument, u"Frequency"), 2e6);

  EXPECT_EQ(FailureOf([&] { setting.InvokeByName(u"LoadFromMem", kCall, {Variant(SHORT{10})}); }),
            E_INVALIDARG);
  const std::u16string missing = (folder.path / "missing.lrn").u16string();
  EXPECT_EQ(FailureOf([&] { setting.InvokeByName(u"LoadFromFile", kCall, {Variant(missing.c_str())}); }),
            static_cast<HRESULT>(0x8004046C));
}

}  // namespace
