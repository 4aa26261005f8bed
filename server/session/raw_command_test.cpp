// _Cmd against the recording driver: each typed member with its driver call, values widened and narrowed as
// their types say, answers longer than the buffers, and the checks that stop a member with nothing sent.
#include "server/session/raw_command.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "automation/bstr.h"
#include "automation/safearray.h"
#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using auto_::Bstr;
using auto_::SafeArray;
using driver::testing::Scpi;
using testing::ChildOf;
using testing::RecordedInstrument;
using Lines = std::vector<std::string>;

class RawCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    instrument_.emplace("M4030A");
    cmd_ = ChildOf(instrument_->instrument.Get(), &IInstrument::get__Cmd);
    driver().ClearCalls();
  }

  driver::testing::RecordingDriver& driver() { return instrument_->driver; }

  std::optional<RecordedInstrument> instrument_;
  auto_::ComPtr<I_Cmd> cmd_;
};

struct PutCase {
  const char* what;
  std::function<HRESULT(I_Cmd*, BSTR)> put;
  const char* sent;
};

// Each put with the SCPI header and the value as the driver gets them: Int16 goes out as Int32 does, the
// unsigned forms as their 32 bits, Real32 widened to double.
TEST_F(RawCommandTest, PutsSendTheirValueTyped) {
  const PutCase cases[] = {
      {"Cmd", [](I_Cmd* c, BSTR h) { return c->Cmd(h); }, "pgxgen_cmd(1, \":OUTP1\")"},
      {"Int16 -1", [](I_Cmd* c, BSTR h) { return c->put_Int16(h, -1); }, "pgxgen_cmdInt(1, \":OUTP1\", -1)"},
      {"Int32 -1", [](I_Cmd* c, BSTR h) { return c->put_Int32(h, -1); }, "pgxgen_cmdInt(1, \":OUTP1\", -1)"},
      {"UInt16 65535", [](I_Cmd* c, BSTR h) { return c->put_UInt16(h, 65535); },
       "pgxgen_cmdUInt(1, \":OUTP1\", 65535)"},
      {"UInt32 -1", [](I_Cmd* c, BSTR h) { return c->put_UInt32(h, -1); },
       "pgxgen_cmdUInt(1, \":OUTP1\", 4294967295)"},
      {"Real32 0.1", [](I_Cmd* c, BSTR h) { return c->put_Real32(h, 0.1f); },
       "pgxgen_cmdReal(1, \":OUTP1\", 0.10000000149011612)"},
      {"Real64 2.5e-08", [](I_Cmd* c, BSTR h) { return c->put_Real64(h, 2.5e-8); },
       "pgxgen_cmdReal(1, \":OUTP1\", 2.5e-08)"},
      {"String", [](I_Cmd* c, BSTR h) { return c->put_String(h, Bstr(u"\"caf\u00e9\"").get()); },
       "pgxgen_cmdString(1, \":OUTP1\", \"\\\"caf\\xC3\\xA9\\\"\")"},
  };
  Bstr header(u":OUTP1");
  for (const PutCase& c : cases) {
    SCOPED_TRACE(c.what);
    driver().ClearCalls();
    EXPECT_EQ(c.put(cmd_.Get(), header.get()), S_OK);
    EXPECT_EQ(driver().Calls(), Lines{c.sent});
  }
}

TEST_F(RawCommandTest, GetsReadTheirAnswerTyped) {
  Bstr query(u":X?");
  driver().Answer(":X?", "65535");
  LONG unsigned16 = 0;
  EXPECT_EQ(cmd_->get_UInt16(query.get(), &unsigned16), S_OK);
  EXPECT_EQ(unsigned16, 65535);  // not -1
  SHORT signed16 = 0;
  EXPECT_EQ(cmd_->get_Int16(query.get(), &signed16), kErrDriver);  // beyond a short: no valid answer
  EXPECT_EQ(signed16, 0);

  driver().Answer(":X?", "-32768");
  EXPECT_EQ(cmd_->get_Int16(query.get(), &signed16), S_OK);
  EXPECT_EQ(signed16, -32768);
  driver().Answer(":X?", "4294967295");
  LONG unsigned32 = 0;
  EXPECT_EQ(cmd_->get_UInt32(query.get(), &unsigned32), S_OK);
  EXPECT_EQ(unsigned32, -1);  // the 32 bits
  driver().Answer(":X?", "-2147483648");
  LONG signed32 = 0;
  EXPECT_EQ(cmd_->get_Int32(query.get(), &signed32), S_OK);
  EXPECT_EQ(signed32, INT32_MIN);
  driver().Answer(":X?", "0.1");
  FLOAT single = 0;
  DOUBLE real = 0;
  EXPECT_EQ(cmd_->get_Real32(query.get(), &single), S_OK);
  EXPECT_EQ(cmd_->get_Real64(query.get(), &real), S_OK);
  EXPECT_EQ(single, 0.1f);
  EXPECT_EQ(real, 0.1);
  EXPECT_EQ(driver().Calls(), (Lines{
                                  "pgxgen_cmdUInt16_Q(1, \":X?\")",
                                  "pgxgen_cmdInt16_Q(1, \":X?\")",
                                  "pgxgen_error_message(1, 0xBFFC0012)",
                                  "pgxgen_cmdInt16_Q(1, \":X?\")",
                                  "pgxgen_cmdUInt32_Q(1, \":X?\")",
                                  "pgxgen_cmdInt32_Q(1, \":X?\")",
                                  "pgxgen_cmdReal64_Q(1, \":X?\")",
                                  "pgxgen_cmdReal64_Q(1, \":X?\")",
                              }));
}

struct StringCase {
  const char* what;
  std::string answer;
  std::u16string result;
};

// The answer buffer holds 255 characters: a longer answer comes back cut there, a character that the cut
// splits is left out, and text that is not UTF-8 reads as Latin-1.
TEST_F(RawCommandTest, StringAnswersAreCutToTheBuffer) {
  const std::string long_text(300, 'x');
  const std::u16string cut(255, u'x');
  std::string split(254, 'x');
  split += "\xC3\xA9";  // "é" across the cut
  const StringCase cases[] = {
      {"short", "PGX Instruments,Q500A,1,2.0", u"PGX Instruments,Q500A,1,2.0"},
      {"exactly 255", long_text.substr(0, 255), cut},
      {"longer", long_text, cut},
      {"split character", split, std::u16string(254, u'x')},
      {"whole character at the end", std::string(253, 'x') + "\xC3\xA9",
       std::u16string(253, u'x') + u"\u00e9"},
      {"Latin-1", "\xE9t\xE9", u"\u00e9t\u00e9"},
  };
  Bstr query(u"*IDN?");
  for (const StringCase& c : cases) {
    SCOPED_TRACE(c.what);
    driver().Answer("*IDN?", c.answer);
    BSTR value = nullptr;
    ASSERT_EQ(cmd_->get_String(query.get(), &value), S_OK);
    EXPECT_EQ(std::u16string(auto_::BstrView(value)), c.result);
    SysFreeString(value);
  }
  EXPECT_EQ(driver().CallsTo("pgxgen_cmdString_Q").front(), "pgxgen_cmdString_Q(1, \"*IDN?\", 256)");
}

TEST_F(RawCommandTest, BlocksFillTheArrayAndNeverMore) {
  SafeArray array(VT_UI1, 0, 4);
  SAFEARRAY* psa = array.get();
  Bstr query(u":DIG:PATT:DATA1?");
  driver().Answer(":DIG:PATT:DATA1?", std::string("\x01\x00\x01\x01\x00\x01", 6));
  EXPECT_EQ(cmd_->Int8ArrGet(query.get(), &psa), S_OK);
  auto_::SafeArrayData<BYTE> data(array.get());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data.data()), 4), std::string("\x01\x00\x01\x01", 4));
  EXPECT_EQ(cmd_->Int8ArrPut(Bstr(u":DIG:PATT:DATA2").get(), &psa), S_OK);
  EXPECT_EQ(driver().Calls(), (Lines{"pgxgen_cmdInt8Arr_Q(1, \":DIG:PATT:DATA1?\", 4)",
                                     "pgxgen_cmdInt8Arr(1, \":DIG:PATT:DATA2\", [01 00 01 01], 4)"}));
}

// Missing out-pointers and arrays, bad arrays and commands the driver would read only in part stop every
// member with nothing sent; a failed query leaves its out-value.
TEST_F(RawCommandTest, ChecksStopTheMemberWithNothingSent) {
  Bstr query(u":X?");
  Bstr cut = Bstr::Attach(SysAllocStringLen(u"*RST\0:SYST:SEC OFF", 18));
  SAFEARRAY* none = nullptr;
  SafeArray empty(VT_UI1, 0, 0);
  SAFEARRAY* no_elements = empty.get();
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SafeArray square = SafeArray::Attach(SafeArrayCreate(VT_UI1, 2, bounds));
  SAFEARRAY* two_dimensions = square.get();
  SafeArray fine(VT_UI1, 0, 2);
  SAFEARRAY* bytes = fine.get();
  SHORT s = 0;
  LONG l = 0;
  FLOAT f = 0;
  DOUBLE d = 0;
  BSTR b = nullptr;
  struct Case {
    const char* what;
    HRESULT hr;
    HRESULT expected;
  };
  const Case cases[] = {
      {"Int16 get", cmd_->get_Int16(query.get(), nullptr), E_POINTER},
      {"Int32 get", cmd_->get_Int32(query.get(), nullptr), E_POINTER},
      {"UInt16 get", cmd_->get_UInt16(query.get(), nullptr), E_POINTER},
      {"UInt32 get", cmd_->get_UInt32(query.get(), nullptr), E_POINTER},
      {"Real32 get", cmd_->get_Real32(query.get(), nullptr), E_POINTER},
      {"Real64 get", cmd_->get_Real64(query.get(), nullptr), E_POINTER},
      {"String get", cmd_->get_String(query.get(), nullptr), E_POINTER},
      {"Int8ArrGet no pointer", cmd_->Int8ArrGet(query.get(), nullptr), E_POINTER},
      {"Int8ArrGet no array", cmd_->Int8ArrGet(query.get(), &none), E_POINTER},
      {"Int8ArrPut no array", cmd_->Int8ArrPut(query.get(), &none), E_POINTER},
      {"Int8ArrGet empty", cmd_->Int8ArrGet(query.get(), &no_elements), kErrArrayTooSmall},
      {"Int8ArrPut empty", cmd_->Int8ArrPut(query.get(), &no_elements), kErrArrayTooSmall},
      {"Int8ArrGet 2-D", cmd_->Int8ArrGet(query.get(), &two_dimensions), kErrSingleDimensionOnly},
      {"Int8ArrPut 2-D", cmd_->Int8ArrPut(query.get(), &two_dimensions), kErrSingleDimensionOnly},
      {"Cmd with NUL", cmd_->Cmd(cut.get()), E_INVALIDARG},
      {"Int16 get with NUL", cmd_->get_Int16(cut.get(), &s), E_INVALIDARG},
      {"Int32 put with NUL", cmd_->put_Int32(cut.get(), 1), E_INVALIDARG},
      {"UInt32 put with NUL", cmd_->put_UInt32(cut.get(), 1), E_INVALIDARG},
      {"Real64 put with NUL", cmd_->put_Real64(cut.get(), 1), E_INVALIDARG},
      {"Real32 get with NUL", cmd_->get_Real32(cut.get(), &f), E_INVALIDARG},
      {"String get with NUL", cmd_->get_String(cut.get(), &b), E_INVALIDARG},
      {"String put, NUL in the value", cmd_->put_String(query.get(), cut.get()), E_INVALIDARG},
      {"Int8ArrPut with NUL", cmd_->Int8ArrPut(cut.get(), &bytes), E_INVALIDARG},
  };
  for (const Case& c : cases) EXPECT_EQ(c.hr, c.expected) << c.what;
  EXPECT_EQ(driver().CallCount(), 0u);

  driver().Fail(Scpi{":X?"}, VI_ERROR_TMO);
  l = 7;
  d = 7;
  b = nullptr;
  EXPECT_EQ(cmd_->get_UInt16(query.get(), &l), kErrDriver);
  EXPECT_EQ(cmd_->get_Real64(query.get(), &d), kErrDriver);
  EXPECT_EQ(cmd_->get_String(query.get(), &b), kErrDriver);
  EXPECT_EQ(l, 7);
  EXPECT_EQ(d, 7);
  EXPECT_EQ(b, nullptr);
}

}  // namespace
}  // namespace pgx::server
