// Out-parameters are written only on success: every function that hands out values, called against
// sessions and instruments that make it fail in each way they can, leaves the caller's memory as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "driver/pgxgen.h"
#include "driver/testing/bench.h"
#include "visa/testing/tcp_peer.h"

#ifndef PGXGEN_HEADER
#define PGXGEN_HEADER ""
#endif

namespace pgx::driver {
namespace {

using testing::Bench;
using testing::Session;
using testing::TempDir;
using visa::testing::TcpPeer;

constexpr unsigned char kSentinel = 0xA5;

// Every kind of out-parameter a function takes, filled with the sentinel byte.
struct Outs {
  ViInt16 i16[2];
  ViUInt16 u16;
  ViInt32 i32[2];
  ViUInt32 u32;
  ViReal64 real[2];
  ViBoolean flag;
  ViChar text[2][256];
  ViInt8 block[64];
  ViByte bytes[64];
};

struct Row {
  const char* name;  // the function
  std::function<ViStatus(ViSession, Outs&, const std::string& file)> call;
};

const std::vector<Row>& rows() {
  static const std::vector<Row> table = {
      {"pgxgen_self_test",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_self_test(vi, &o.i16[0], o.text[0]); }},
      {"pgxgen_revision_query",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_revision_query(vi, o.text[0], o.text[1]); }},
      {"pgxgen_timeOut_Q", [](ViSession vi, Outs& o, auto&) { return pgxgen_timeOut_Q(vi, &o.i32[0]); }},
      {"pgxgen_opc_Q", [](ViSession vi, Outs& o, auto&) { return pgxgen_opc_Q(vi, &o.flag); }},
      {"pgxgen_error_query",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_error_query(vi, &o.i32[0], o.text[0]); }},
      {"pgxgen_errorQueryDetect_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_errorQueryDetect_Q(vi, &o.flag); }},
      {"pgxgen_transaction_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_transaction_Q(vi, &o.flag, &o.i32[0]); }},
      {"pgxgen_cmdInt16_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_cmdInt16_Q(vi, "*STB?", &o.i16[0]); }},
      {"pgxgen_cmdInt32_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_cmdInt32_Q(vi, ":TRIG:COUN?", &o.i32[0]); }},
      {"pgxgen_cmdUInt16_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_cmdUInt16_Q(vi, "*ESE?", &o.u16); }},
      {"pgxgen_cmdUInt32_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_cmdUInt32_Q(vi, ":TRIG:COUN?", &o.u32); }},
      {"pgxgen_cmdReal64_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_cmdReal64_Q(vi, ":FREQ?", &o.real[0]); }},
      {"pgxgen_cmdString_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_cmdString_Q(vi, ":SYST:VERS?", 256, o.text[0]); }},
      {"pgxgen_cmdInt8Arr_Q",
       [](ViSession vi, Outs& o, auto&) {
         return pgxgen_cmdInt8Arr_Q(vi, ":DIG:PATT:DATA1?", sizeof o.block, o.block, &o.i32[0]);
       }},
      {"pgxgen_levelHighLow_Q",
       [](ViSession vi, Outs& o, auto&) {
         return pgxgen_levelHighLow_Q(vi, 1, &o.i16[0], &o.real[0], &o.real[1]);
       }},
      {"pgxgen_levelOffsetAmplitude_Q",
       [](ViSession vi, Outs& o, auto&) {
         return pgxgen_levelOffsetAmplitude_Q(vi, 1, &o.i16[0], &o.real[0], &o.real[1]);
       }},
      {"pgxgen_limitState_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_limitState_Q(vi, 1, &o.flag); }},
      {"pgxgen_outputStateNormal_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_outputStateNormal_Q(vi, 1, &o.flag); }},
      {"pgxgen_outputStateComplement_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_outputStateComplement_Q(vi, 1, &o.flag); }},
      {"pgxgen_outputPolarity_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_outputPolarity_Q(vi, 1, &o.i16[0]); }},
      {"pgxgen_configOutputImpedance_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_configOutputImpedance_Q(vi, 1, &o.real[0]); }},
      {"pgxgen_configOutputLoadCompensation_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_configOutputLoadCompensation_Q(vi, 1, &o.real[0]); }},
      {"pgxgen_outputMath_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_outputMath_Q(vi, &o.i16[0]); }},
      {"pgxgen_modePatternDataFormat_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_modePatternDataFormat_Q(vi, 1, &o.i16[0]); }},
      {"pgxgen_timeWidth_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeWidth_Q(vi, 1, &o.real[0]); }},
      {"pgxgen_timeWidthDutyCycle_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeWidthDutyCycle_Q(vi, 1, &o.real[0]); }},
      {"pgxgen_timeWidthTrailingDelay_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeWidthTrailingDelay_Q(vi, 1, &o.real[0]); }},
      {"pgxgen_timeWidthHold_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeWidthHold_Q(vi, 1, &o.i16[0]); }},
      {"pgxgen_modePulseType_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_modePulseType_Q(vi, 1, &o.i16[0]); }},
      {"pgxgen_timeDelay_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeDelay_Q(vi, 1, &o.i16[0], &o.real[0]); }},
      {"pgxgen_timeDelayHold_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeDelayHold_Q(vi, 1, &o.i16[0]); }},
      {"pgxgen_timeDelayDouble_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeDelayDouble_Q(vi, 1, &o.i16[0], &o.real[0]); }},
      {"pgxgen_timeDelayDoubleHold_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeDelayDoubleHold_Q(vi, 1, &o.i16[0]); }},
      {"pgxgen_timeEdgeLeading_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeEdgeLeading_Q(vi, 1, &o.i16[0], &o.real[0]); }},
      {"pgxgen_timeEdgeTrailing_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeEdgeTrailing_Q(vi, 1, &o.i16[0], &o.real[0]); }},
      {"pgxgen_timeEdgeTrailingCoupling_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeEdgeTrailingCoupling_Q(vi, 1, &o.i16[0]); }},
      {"pgxgen_timeEdgeHold_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_timeEdgeHold_Q(vi, 1, &o.i16[0]); }},
      {"pgxgen_configTriggerOutLevel_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_configTriggerOutLevel_Q(vi, 1, &o.i16[0]); }},
      {"pgxgen_configTriggerOutSource_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_configTriggerOutSource_Q(vi, &o.i16[0]); }},
      {"pgxgen_outputSourceVxiTrigger_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_outputSourceVxiTrigger_Q(vi, &o.i16[0]); }},
      {"pgxgen_outputEnableVxiTrigger_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_outputEnableVxiTrigger_Q(vi, &o.i16[0]); }},
      {"pgxgen_configPllReference_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_configPllReference_Q(vi, &o.i16[0], &o.real[0]); }},
      {"pgxgen_patternDataDownloadBuffer_Q",
       [](ViSession vi, Outs& o, auto&) {
         return pgxgen_patternDataDownloadBuffer_Q(vi, 1, o.bytes, &o.i32[0], sizeof o.bytes, VI_TRUE);
       }},
      {"pgxgen_patternDataDownloadFile_Q",
       [](ViSession vi, Outs&, const std::string& file) {
         return pgxgen_patternDataDownloadFile_Q(vi, 1, VI_TRUE, file.c_str());
       }},
      {"pgxgen_patternUpdate_Q",
       [](ViSession vi, Outs& o, auto&) { return pgxgen_patternUpdate_Q(vi, &o.i16[0]); }},
      {"pgxgen_settingFile_Q",
       [](ViSession vi, Outs&, const std::string& file) { return pgxgen_settingFile_Q(vi, file.c_str()); }},
  };
  return table;
}

// The names of the functions in pgxgen.h that hand out values: every _Q function.
std::set<std::string> query_functions_in_header() {
  std::ifstream header(PGXGEN_HEADER);
  const std::string text((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
  const std::regex name(R"(\b(pgxgen_\w+_Q)\s*\()");
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), name); it != std::sregex_iterator(); ++it)
    names.insert((*it)[1]);
  return names;
}

TEST(DriverOutParametersTable, HasEveryQueryFunction) {
  const std::set<std::string> in_header = query_functions_in_header();
  ASSERT_GT(in_header.size(), 40u) << "cannot read " << PGXGEN_HEADER;
  std::set<std::string> in_table;
  for (const Row& row : rows()) in_table.insert(row.name);
  for (const std::string& name : in_header) EXPECT_EQ(in_table.count(name), 1u) << name << " is missing";
}

// An instrument on a raw socket that answers every query with garbage, but its marker queries correctly.
void garbage_instrument(int fd) {
  for (;;) {
    const std::string line = TcpPeer::read_line(fd);
    if (line.empty()) return;
    if (line.rfind("*OPC?;*OPC?", 0) == 0) {
      std::string reply;
      for (long i = std::count(line.begin(), line.end(), '?'); i > 0; --i) reply += i > 1 ? "1;" : "1";
      TcpPeer::send_all(fd, reply + "\n");
    } else if (line.find('?') != std::string::npos) {
      TcpPeer::send_all(fd, "#9x;,\x01\n");
    }
  }
}

class DriverOutParameters : public ::testing::Test {
 protected:
  // Calls every function on vi; each one that fails must leave every out-parameter and the file alone.
  void expect_failures_leave_outputs_alone(ViSession vi, const char* how) {
    SCOPED_TRACE(how);
    Outs before;
    std::memset(&before, kSentinel, sizeof before);
    const std::string file = dir_.file("out.txt");
    for (const Row& row : rows()) {
      Outs outs = before;
      const ViStatus status = row.call(vi, outs, file);
      if (status >= VI_SUCCESS) {
        std::filesystem::remove(file);
        continue;
      }
      ++failures_;
      EXPECT_EQ(std::memcmp(&outs, &before, sizeof outs), 0)
          << row.name << " wrote out-parameters, status 0x" << std::hex << status;
      EXPECT_FALSE(std::filesystem::exists(file))
          << row.name << " wrote the file, status 0x" << std::hex << status;
    }
  }

  TempDir dir_;
  int failures_ = 0;
};

TEST_F(DriverOutParameters, InvalidSessions) {
  Bench bench({{"GPIB0::10::INSTR", {"Q510A", "Q510A"}}});
  ViSession closed = VI_NULL;
  ASSERT_EQ(pgxgen_init("GPIB0::10::INSTR", VI_FALSE, VI_FALSE, &closed), VI_SUCCESS);
  ASSERT_EQ(pgxgen_close(closed), VI_SUCCESS);
  expect_failures_leave_outputs_alone(closed, "closed session");
  expect_failures_leave_outputs_alone(VI_NULL, "session 0");
  EXPECT_EQ(failures_, 2 * static_cast<int>(rows().size()));

  // pgxgen_init hands out 0 on every failure, whichever parameter is wrong; the message of a status never
  // touches its buffer when it fails.
  for (const char* resource : {static_cast<const char*>(nullptr), "GPIB0::5::INSTR"}) {
    ViSession vi = 0xA5A5A5A5;
    EXPECT_LT(pgxgen_init(resource, VI_TRUE, VI_FALSE, &vi), VI_SUCCESS);
    EXPECT_EQ(vi, VI_NULL);
  }
  ViSession vi = 0xA5A5A5A5;
  EXPECT_EQ(pgxgen_init("GPIB0::10::INSTR", 2, VI_FALSE, &vi), PGXGEN_ERROR_PARAMETER2);
  EXPECT_EQ(vi, VI_NULL);
}

TEST_F(DriverOutParameters, FailingInstruments) {
  TcpPeer garbage(garbage_instrument);
  Bench bench({{"GPIB0::10::INSTR", {"Q530A", "Q530A"}, "{drop-after-messages: 0}"},
               {"GPIB0::11::INSTR", {"Q530A", "Q530A"}, "{reply-delay-ms: 500}"},
               {"GPIB0::12::INSTR",
                {"Q530A", "Q530A"},
                "{scripted-replies: {\"*STB?\": \"4\", \":SYST:ERR?\": \"-100,\\\"Command error\\\"\"}}"}});
  // Without the identity check the driver knows nothing of the instrument: every call goes to it.
  Session dropped("GPIB0::10::INSTR", VI_FALSE);
  Session slow("GPIB0::11::INSTR", VI_FALSE);
  Session erring("GPIB0::12::INSTR", VI_FALSE);
  Session talking_garbage(garbage.resource(), VI_FALSE);
  for (const Session* s : {&dropped, &slow, &erring, &talking_garbage}) ASSERT_EQ(s->status(), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeOut(slow, 20), VI_SUCCESS);
  ASSERT_EQ(pgxgen_timeOut(talking_garbage, 200), VI_SUCCESS);
  ASSERT_EQ(pgxgen_errorQueryDetect(erring, VI_TRUE), VI_SUCCESS);

  expect_failures_leave_outputs_alone(dropped, "dropped connection");
  expect_failures_leave_outputs_alone(slow, "time-out");
  expect_failures_leave_outputs_alone(erring, "instrument errors");
  expect_failures_leave_outputs_alone(talking_garbage, "garbage answers");
  // Most functions fail in each of these ways: the table is not passing for want of failures.
  EXPECT_GT(failures_, 3 * static_cast<int>(rows().size()));
}

}  // namespace
}  // namespace pgx::driver
