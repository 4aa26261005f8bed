// Fuzz target: the driver reading what an instrument answers. A driver session on a simulated instrument of
// the built-in bench calls its functions while the instrument sends fuzzed bytes in place of its answers.
//
// Input: one byte picks the instrument (a two-channel benchtop or VXI module), then steps of
//   [function] [channel] [flags] [length] [length bytes of answer]
// where flags bit 0 turns the automatic error query on, bit 1 replaces the next answer by the bytes (else
// the instrument answers for itself) and bit 2 runs the function inside a transaction.
//
// Beyond the sanitizers: whatever the answer, an out-parameter is written only when the function succeeds
// (a failed call leaves the caller's values as they were) and a text buffer is always terminated.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/pgxgen.h"
#include "visa/testing/bench_access.h"
#include "visa/visa.h"

namespace {

struct Instrument {
  const char* resource;
  ViSession driver = VI_NULL;  // the driver's session
  ViSession io = VI_NULL;      // a VISA session of the fuzzer's own on the same instrument, for its faults
};

ViSession g_resource_manager = VI_NULL;
Instrument g_instruments[] = {{"GPIB0::11::INSTR"}, {"VXI0::32::INSTR"}};

[[noreturn]] void fail(const char* function, const char* what) {
  std::fprintf(stderr, "driver_answers_fuzzer: %s: %s\n", function, what);
  std::abort();
}

// A value the driver must leave alone when it fails.
template <class T>
struct Out {
  T value;
  Out() { std::memset(&value, 0x5A, sizeof value); }
  bool untouched() const {
    T fresh;
    std::memset(&fresh, 0x5A, sizeof fresh);
    return std::memcmp(&value, &fresh, sizeof value) == 0;
  }
};

// A text buffer: NUL-terminated after every call, unchanged after a failed one.
struct Text {
  static constexpr std::size_t kSize = 256;
  char buffer[kSize + 8];
  Text() { std::memset(buffer, 'X', sizeof buffer); }
  void check(const char* function, ViStatus status) const {
    if (status < VI_SUCCESS) {
      for (char c : buffer)
        if (c != 'X') fail(function, "a failed call wrote its text buffer");
      return;
    }
    if (std::memchr(buffer, '\0', kSize) == nullptr) fail(function, "an unterminated text");
    for (std::size_t i = kSize; i < sizeof buffer; ++i)
      if (buffer[i] != 'X') fail(function, "a text written past its buffer");
  }
};

template <class... T>
void check_outs(const char* function, ViStatus status, const Out<T>&... outs) {
  if (status < VI_SUCCESS && !(outs.untouched() && ...))
    fail(function, "a failed call wrote an out-parameter");
}

using Call = std::function<void(ViSession vi, ViInt16 channel)>;

// Reads one typed value through `function`, checking the out-parameter contract.
#define PGX_QUERY1(function, T)                                \
  [](ViSession vi, ViInt16 channel) {                          \
    Out<T> a;                                                  \
    check_outs(#function, function(vi, channel, &a.value), a); \
  }
#define PGX_QUERY2(function, T, U)                                          \
  [](ViSession vi, ViInt16 channel) {                                       \
    Out<T> a;                                                               \
    Out<U> b;                                                               \
    check_outs(#function, function(vi, channel, &a.value, &b.value), a, b); \
  }

const Call kCalls[] = {
    [](ViSession vi, ViInt16) {
      Out<ViInt16> v;
      check_outs("pgxgen_cmdInt16_Q", pgxgen_cmdInt16_Q(vi, ":PULS:HOLD1?", &v.value), v);
    },
    [](ViSession vi, ViInt16) {
      Out<ViInt32> v;
      check_outs("pgxgen_cmdInt32_Q", pgxgen_cmdInt32_Q(vi, ":TRIG:COUN?", &v.value), v);
    },
    [](ViSession vi, ViInt16) {
      Out<ViUInt16> v;
      check_outs("pgxgen_cmdUInt16_Q", pgxgen_cmdUInt16_Q(vi, "*ESR?", &v.value), v);
    },
    [](ViSession vi, ViInt16) {
      Out<ViUInt32> v;
      check_outs("pgxgen_cmdUInt32_Q", pgxgen_cmdUInt32_Q(vi, "*STB?", &v.value), v);
    },
    [](ViSession vi, ViInt16) {
      Out<ViReal64> v;
      check_outs("pgxgen_cmdReal64_Q", pgxgen_cmdReal64_Q(vi, ":FREQ?", &v.value), v);
    },
    [](ViSession vi, ViInt16) {
      Text t;
      t.check("pgxgen_cmdString_Q", pgxgen_cmdString_Q(vi, "*IDN?", Text::kSize, t.buffer));
    },
    [](ViSession vi, ViInt16) {
      Out<ViInt32> count;
      ViInt8 data[64];
      check_outs("pgxgen_cmdInt8Arr_Q",
                 pgxgen_cmdInt8Arr_Q(vi, ":DIG:PATT:DATA1?", sizeof data, data, &count.value), count);
    },
    [](ViSession vi, ViInt16) {
      Out<ViInt16> result;
      Text t;
      const ViStatus status = pgxgen_self_test(vi, &result.value, t.buffer);
      check_outs("pgxgen_self_test", status, result);
      t.check("pgxgen_self_test", status);
    },
    [](ViSession vi, ViInt16) {
      Text driver, instrument;
      const ViStatus status = pgxgen_revision_query(vi, driver.buffer, instrument.buffer);
      driver.check("pgxgen_revision_query", status);
      instrument.check("pgxgen_revision_query", status);
    },
    [](ViSession vi, ViInt16) {
      Out<ViInt32> code;
      Text t;
      const ViStatus status = pgxgen_error_query(vi, &code.value, t.buffer);
      check_outs("pgxgen_error_query", status, code);
      t.check("pgxgen_error_query", status);
    },
    [](ViSession vi, ViInt16) {
      Out<ViBoolean> v;
      check_outs("pgxgen_opc_Q", pgxgen_opc_Q(vi, &v.value), v);
    },
    [](ViSession vi, ViInt16 channel) {
      Out<ViInt16> type;
      Out<ViReal64> high, low;
      check_outs("pgxgen_levelHighLow_Q",
                 pgxgen_levelHighLow_Q(vi, channel, &type.value, &high.value, &low.value), type, high, low);
    },
    [](ViSession vi, ViInt16 channel) {
      Out<ViInt16> type;
      Out<ViReal64> offset, amplitude;
      check_outs("pgxgen_levelOffsetAmplitude_Q",
                 pgxgen_levelOffsetAmplitude_Q(vi, channel, &type.value, &offset.value, &amplitude.value),
                 type, offset, amplitude);
    },
    PGX_QUERY1(pgxgen_limitState_Q, ViBoolean),
    PGX_QUERY1(pgxgen_outputStateNormal_Q, ViBoolean),
    PGX_QUERY1(pgxgen_outputPolarity_Q, ViInt16),
    PGX_QUERY1(pgxgen_configOutputImpedance_Q, ViReal64),
    PGX_QUERY1(pgxgen_modePatternDataFormat_Q, ViInt16),
    PGX_QUERY1(pgxgen_timeWidth_Q, ViReal64),
    PGX_QUERY1(pgxgen_timeWidthDutyCycle_Q, ViReal64),
    PGX_QUERY1(pgxgen_timeWidthHold_Q, ViInt16),
    PGX_QUERY1(pgxgen_modePulseType_Q, ViInt16),
    PGX_QUERY2(pgxgen_timeDelay_Q, ViInt16, ViReal64),
    PGX_QUERY2(pgxgen_timeDelayDouble_Q, ViInt16, ViReal64),
    PGX_QUERY2(pgxgen_timeEdgeLeading_Q, ViInt16, ViReal64),
    PGX_QUERY2(pgxgen_timeEdgeTrailing_Q, ViInt16, ViReal64),
    PGX_QUERY1(pgxgen_timeEdgeTrailingCoupling_Q, ViInt16),
    PGX_QUERY1(pgxgen_configTriggerOutLevel_Q, ViInt16),
    [](ViSession vi, ViInt16) {
      Out<ViInt16> source;
      Out<ViReal64> frequency;
      check_outs("pgxgen_configPllReference_Q",
                 pgxgen_configPllReference_Q(vi, &source.value, &frequency.value), source, frequency);
    },
    [](ViSession vi, ViInt16) {
      Out<ViInt16> v;
      check_outs("pgxgen_outputMath_Q", pgxgen_outputMath_Q(vi, &v.value), v);
    },
    [](ViSession vi, ViInt16) {
      Out<ViInt16> v;
      check_outs("pgxgen_patternUpdate_Q", pgxgen_patternUpdate_Q(vi, &v.value), v);
    },
    [](ViSession vi, ViInt16 channel) {
      Out<ViInt32> count;
      ViByte data[128];
      check_outs(
          "pgxgen_patternDataDownloadBuffer_Q",
          pgxgen_patternDataDownloadBuffer_Q(vi, channel, data, &count.value, sizeof data, channel & 1),
          count);
    },
    // Settings, whose answer is the status check's.
    [](ViSession vi, ViInt16 channel) { pgxgen_timeWidth(vi, channel, 50e-9); },
    [](ViSession vi, ViInt16 channel) { pgxgen_outputPolarity(vi, channel, 1); },
    [](ViSession vi, ViInt16) { pgxgen_cmd(vi, ":PULS:PER 2US"); },
    [](ViSession vi, ViInt16) { pgxgen_modeContinuousBurst(vi, 16, 0, 0); },
    [](ViSession vi, ViInt16) { pgxgen_dcl(vi); },
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (viOpenDefaultRM(&g_resource_manager) < VI_SUCCESS) std::abort();
  for (Instrument& instrument : g_instruments) {
    if (pgxgen_init(instrument.resource, VI_TRUE, VI_TRUE, &instrument.driver) != VI_SUCCESS ||
        viOpen(g_resource_manager, instrument.resource, VI_NULL, VI_NULL, &instrument.io) != VI_SUCCESS)
      std::abort();
    // An answer never goes missing here; a short time-out keeps a lost one from stalling the run.
    pgxgen_timeOut(instrument.driver, 100);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Instrument& instrument = g_instruments[data[0] % std::size(g_instruments)];
  const ViSession vi = instrument.driver;
  std::size_t at = 1;
  while (size - at >= 4) {
    const std::uint8_t function = data[at], channel = data[at + 1], flags = data[at + 2];
    std::size_t length = data[at + 3];
    at += 4;
    if (length > size - at) length = size - at;
    std::string answer(reinterpret_cast<const char*>(data + at), length);
    at += length;

    pgxgen_errorQueryDetect(vi, flags & 1 ? VI_TRUE : VI_FALSE);
    if (flags & 2) {
      pgx::visa::testing::with_bench_device(
          instrument.io, [&](pgx::sim::Device& device) { device.faults().garbage_reply = answer; });
    }
    if (flags & 4) pgxgen_transactionStart(vi);
    kCalls[function % std::size(kCalls)](vi, static_cast<ViInt16>(channel % 3));
    if (flags & 4) pgxgen_transactionCancel(vi);
  }
  // The next input starts from an instrument without a pending fault, answers or errors.
  pgx::visa::testing::with_bench_device(
      instrument.io, [](pgx::sim::Device& device) { device.faults().garbage_reply.clear(); });
  pgxgen_errorQueryDetect(vi, VI_FALSE);
  pgxgen_dcl(vi);
  pgxgen_cmd(vi, "*CLS");
  return 0;
}
