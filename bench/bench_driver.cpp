// The driver's cost over plain VISA on the in-process simulated bench: a typed set-and-query pair against
// the same SCPI written straight on VISA, the automatic error query, and a transaction of 100 settings
// (one VISA write, counted from the I/O trace).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "driver/pgxgen.h"
#include "visa/visa.h"

namespace {

// A two-channel VXI module of the built-in bench.
constexpr const char* kResource = "VXI0::32::INSTR";

class DriverSession {
 public:
  DriverSession() {
    unsetenv("PGX_VISA_BENCH");
    status_ = pgxgen_init(kResource, VI_TRUE, VI_TRUE, &vi_);
  }
  ~DriverSession() {
    if (vi_ != VI_NULL) pgxgen_close(vi_);
  }
  bool ok(benchmark::State& state) const {
    if (status_ == VI_SUCCESS) return true;
    state.SkipWithError("pgxgen_init failed");
    return false;
  }
  ViSession vi() const { return vi_; }

 private:
  ViSession vi_ = VI_NULL;
  ViStatus status_ = VI_SUCCESS;
};

void BM_TypedSetQueryPair(benchmark::State& state) {
  DriverSession s;
  if (!s.ok(state)) return;
  pgxgen_errorQueryDetect(s.vi(), static_cast<ViBoolean>(state.range(0)));
  ViReal64 width = 0;
  for (auto _ : state) {
    if (pgxgen_timeWidth(s.vi(), 1, 20e-9) != VI_SUCCESS ||
        pgxgen_timeWidth_Q(s.vi(), 1, &width) != VI_SUCCESS) {
      state.SkipWithError("driver call failed");
      break;
    }
    benchmark::DoNotOptimize(width);
  }
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TypedSetQueryPair)->ArgName("error_query")->Arg(0)->Arg(1);

// The same exchange written straight on VISA, as a program that does without the driver would: the value
// formatted into the setting (shortest exact text), the setting, the query, the read of its answer and the
// conversion of the answer to a double. With range(0) = 0 the texts are constants and the answer is not
// converted: the bare VISA cost, a lower bound no caller gets.
void BM_DirectVisaPair(benchmark::State& state) {
  unsetenv("PGX_VISA_BENCH");
  ViSession rm = VI_NULL, io = VI_NULL;
  if (viOpenDefaultRM(&rm) < VI_SUCCESS || viOpen(rm, kResource, VI_NULL, VI_NULL, &io) < VI_SUCCESS) {
    state.SkipWithError("viOpen failed");
    return;
  }
  const bool convert = state.range(0) != 0;
  static const char kSet[] = ":PULS:WIDT1 2e-08\n";
  static const char kQuery[] = ":PULS:WIDT1?\n";
  char set[64] = ":PULS:WIDT1 ";
  const std::size_t header = std::strlen(set);
  char answer[256];
  double width = 20e-9, read_back = 0;
  for (auto _ : state) {
    ViUInt32 count = 0;
    if (convert) {
      char* end = std::to_chars(set + header, set + sizeof set - 1, width).ptr;
      *end++ = '\n';
      viWrite(io, reinterpret_cast<ViConstBuf>(set), static_cast<ViUInt32>(end - set), &count);
    } else {
      viWrite(io, reinterpret_cast<ViConstBuf>(kSet), sizeof kSet - 1, &count);
    }
    viWrite(io, reinterpret_cast<ViConstBuf>(kQuery), sizeof kQuery - 1, &count);
    if (viRead(io, reinterpret_cast<ViBuf>(answer), sizeof answer, &count) < VI_SUCCESS || count == 0) {
      state.SkipWithError("viRead failed");
      break;
    }
    if (convert && std::from_chars(answer, answer + count - 1, read_back).ec != std::errc()) {
      state.SkipWithError("answer is not a number");
      break;
    }
    benchmark::DoNotOptimize(answer);
    benchmark::DoNotOptimize(read_back);
  }
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  viClose(io);
  viClose(rm);
}
BENCHMARK(BM_DirectVisaPair)->ArgName("convert")->Arg(1)->Arg(0);

ViStatus run_transaction(ViSession vi) {
  ViStatus status = pgxgen_transactionStart(vi);
  for (int i = 0; i < 100 && status == VI_SUCCESS; ++i) {
    status = pgxgen_timeWidth(vi, static_cast<ViInt16>(1 + i % 2), 20e-9 + i * 1e-10);
  }
  if (status != VI_SUCCESS) {
    pgxgen_transactionCancel(vi);
    return status;
  }
  return pgxgen_transactionFinish(vi);
}

// Counts the VISA writes of one transaction in the I/O trace.
int writes_in_trace(ViSession vi) {
  char folder[] = "/tmp/pgx-bench-driver-XXXXXX";
  if (mkdtemp(folder) == nullptr) return -1;
  const std::string file = std::string(folder) + "/trace.log";
  auto reconfigure = [] {
    ViSession rm = VI_NULL;
    if (viOpenDefaultRM(&rm) >= VI_SUCCESS) viClose(rm);
  };
  setenv("PGX_VISA_TRACE", file.c_str(), 1);
  reconfigure();
  run_transaction(vi);
  unsetenv("PGX_VISA_TRACE");
  reconfigure();
  std::ifstream in(file);
  std::string line;
  int writes = 0;
  while (std::getline(in, line)) {
    if (line.find(" viWrite ") != std::string::npos) {
      ++writes;
      std::fprintf(stderr, "trace: %.160s%s\n", line.c_str(), line.size() > 160 ? " ..." : "");
    }
  }
  std::filesystem::remove_all(folder);
  return writes;
}

void BM_Transaction100Settings(benchmark::State& state) {
  DriverSession s;
  if (!s.ok(state)) return;
  const int writes = writes_in_trace(s.vi());
  for (auto _ : state) {
    if (run_transaction(s.vi()) != VI_SUCCESS) {
      state.SkipWithError("transaction failed");
      break;
    }
  }
  state.counters["visa_writes"] = writes;
  state.counters["settings/s"] =
      benchmark::Counter(100.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Transaction100Settings);

}  // namespace

BENCHMARK_MAIN();
