// _Cmd late-bound on the built-in bench: each typed member round trips through the real driver and the
// simulated instrument, and answers longer than the buffers come back cut to them.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "automation/bstr.h"
#include "server/testing/on_bench.h"

namespace {

using pgx::auto_::DispatchPtr;
using pgx::auto_::SafeArray;
using pgx::auto_::SafeArrayData;
using pgx::auto_::Variant;
using namespace pgx::server::testing;

constexpr HRESULT kDriverFailure = static_cast<HRESULT>(0x8004046C);

// A script's byte array for an [in, out] parameter.
struct ByteArray {
  explicit ByteArray(std::string_view bytes) : array(VT_UI1, 0, static_cast<ULONG>(bytes.size())) {
    SafeArrayData<BYTE> data(array.get());
    std::copy(bytes.begin(), bytes.end(), data.data());
    psa = array.get();
  }
  Variant Ref() {
    Variant v;
    v.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    v.pparray = &psa;
    return v;
  }
  std::string bytes() const {
    SafeArrayData<BYTE> data(array.get());
    return std::string(reinterpret_cast<const char*>(data.data()), array.Count());
  }
  SafeArray array;
  SAFEARRAY* psa;
};

std::string Text(const Variant& v) {
  EXPECT_EQ(v.vt, VT_BSTR);
  std::string text;
  if (v.vt == VT_BSTR) {
    EXPECT_EQ(pgx::auto_::BstrToUtf8(v.bstrVal, &text), S_OK);
  }
  return text;
}

using RawCommandOnBench = OnBench;

TEST_F(RawCommandOnBench, NumbersRoundTripInEachType) {
  DispatchPtr instrument = Open(kM4040Ax2);
  DispatchPtr cmd = Object(instrument.InvokeByName(u"_Cmd", kGet));
  cmd.InvokeByName(u"Real64", kPut, {Variant(u":FREQ"), Variant(2.5e6)});
  EXPECT_EQ(cmd.InvokeByName(u"Real64", kGet, {Variant(u":FREQ?")}).dblVal, 2.5e6);
  cmd.InvokeByName(u"Real32", kPut, {Variant(u":FREQ"), Variant(1.5e6f)});
  EXPECT_EQ(cmd.InvokeByName(u"Real32", kGet, {Variant(u":FREQ?")}).fltVal, 1.5e6f);
  EXPECT_EQ(Get(instrument, u"Frequency"), 1.5e6);

  cmd.InvokeByName(u"Int16", kPut, {Variant(u":TRIG:COUN"), Variant(SHORT{7})});
  EXPECT_EQ(cmd.InvokeByName(u"UInt16", kGet, {Variant(u":TRIG:COUN?")}).lVal, 7);
  cmd.InvokeByName(u"UInt16", kPut, {Variant(u":TRIG:COUN"), Variant(LONG{65535})});
  EXPECT_EQ(cmd.InvokeByName(u"UInt16", kGet, {Variant(u":TRIG:COUN?")}).lVal, 65535);  // not -1
  EXPECT_EQ(FailureOf([&] { cmd.InvokeByName(u"Int16", kGet, {Variant(u":TRIG:COUN?")}); }), kDriverFailure);
  cmd.InvokeByName(u"UInt32", kPut, {Variant(u":TRIG:COUN"), Variant(LONG{65536})});
  EXPECT_EQ(cmd.InvokeByName(u"Int32", kGet, {Variant(u":TRIG:COUN?")}).lVal, 65536);
  cmd.InvokeByName(u"Int32", kPut, {Variant(u":TRIG:COUN"), Variant(LONG{300})});
  EXPECT_EQ(cmd.InvokeByName(u"UInt32", kGet, {Variant(u":TRIG:COUN?")}).lVal, 300);
  EXPECT_EQ(cmd.InvokeByName(u"Int16", kGet, {Variant(u":TRIG:COUN?")}).iVal, 300);
}

TEST_F(RawCommandOnBench, TextsAndBlocksRoundTripAndLongAnswersAreCutToTheBuffer) {
  DispatchPtr instrument = Open(kQ530Ax2);
  DispatchPtr cmd = Object(instrument.InvokeByName(u"_Cmd", kGet));
  EXPECT_EQ(Text(cmd.InvokeByName(u"String", kGet, {Variant(u"*IDN?")})).rfind("PGX Instruments,Q500A,", 0),
            0u);
  cmd.InvokeByName(u"String", kPut, {Variant(u":PULS:TRIG:LEV"), Variant(u"ECL")});
  EXPECT_EQ(Text(cmd.InvokeByName(u"String", kGet, {Variant(u":PULS:TRIG:LEV?")})), "ECL");
  cmd.InvokeByName(u"Cmd", kCall, {Variant(u":DIG:PATT ON")});
  EXPECT_EQ(Object(instrument.InvokeByName(u"Pattern", kGet)).InvokeByName(u"State", kGet).boolVal,
            VARIANT_TRUE);

  // The learn string is far longer than 255 characters: String gives its first 255.
  char folder[] = "/tmp/pgx-cmd-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::filesystem::path file = std::filesystem::path(folder) / "learn.txt";
  Object(instrument.InvokeByName(u"Setting", kGet))
      .InvokeByName(u"SaveToFile", kCall, {Variant(file.u16string().c_str())});
  std::ifstream in(file);
  const std::string learn{std::istreambuf_iterator<char>(in), {}};
  std::filesystem::remove_all(folder);
  ASSERT_GT(learn.size(), 300u);
  EXPECT_EQ(Text(cmd.InvokeByName(u"String", kGet, {Variant(u"*LRN?")})), learn.substr(0, 255));

  // A block goes out whole and fills an array no further than its size.
  ByteArray positions(std::string("\x01\x00\x01\x01\x00\x01", 6));
  cmd.InvokeByName(u"Int8ArrPut", kCall, {Variant(u":DIG:PATT:DATA2"), positions.Ref()});
  cmd.InvokeByName(u"Cmd", kCall, {Variant(u":DIG:PATT:FORM BIN")});
  ByteArray whole(std::string(8, '\xEE'));
  ByteArray part(std::string(4, '\xEE'));
  cmd.InvokeByName(u"Int8ArrGet", kCall, {Variant(u":DIG:PATT:DATA2?"), whole.Ref()});
  cmd.InvokeByName(u"Int8ArrGet", kCall, {Variant(u":DIG:PATT:DATA2?"), part.Ref()});
  EXPECT_EQ(whole.bytes(), std::string("\x01\x00\x01\x01\x00\x01\xEE\xEE", 8));
  EXPECT_EQ(part.bytes(), std::string("\x01\x00\x01\x01", 4));
}

}  // namespace
