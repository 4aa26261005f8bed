// The server's own cost per member, measured against the recording driver in its quiet mode, where the
// instrument costs nothing: a property get, a property put and a member with three arguments, called
// late-bound through IDispatch::Invoke (the dispatcher, the frame, the checks and the error path's success
// side) and directly through the interface, with the heap allocations per call.
#include <benchmark/benchmark.h>

#include "bench/allocation_counter.h"
#include "server/testing/recorded_instrument.h"

namespace {

using pgx::bench::CountAllocations;
using pgx::bench::g_allocations;
using pgx::server::testing::RecordedInstrument;

RecordedInstrument& TheInstrument() {
  static RecordedInstrument* instrument = [] {
    auto* made = new RecordedInstrument("M4030A,M4040A");
    made->driver.Answer(":FREQ?", 1e6);
    made->driver.SetQuiet(true);
    return made;
  }();
  return *instrument;
}

DISPID IdOf(const char16_t* name) {
  LPOLESTR text = const_cast<LPOLESTR>(name);
  DISPID id = DISPID_UNKNOWN;
  TheInstrument().instrument->GetIDsOfNames(IID_NULL, &text, 1, 0, &id);
  return id;
}

void BM_DirectGet(benchmark::State& state) {
  IInstrument* instrument = TheInstrument().instrument.Get();
  long before = g_allocations.load();
  for (auto _ : state) {
    DOUBLE value = 0;
    benchmark::DoNotOptimize(instrument->get_Frequency(&value));
    benchmark::DoNotOptimize(value);
  }
  CountAllocations(state, before);
}
BENCHMARK(BM_DirectGet);

void BM_InvokeGet(benchmark::State& state) {
  IInstrument* instrument = TheInstrument().instrument.Get();
  DISPID id = IdOf(u"Frequency");
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  long before = g_allocations.load();
  for (auto _ : state) {
    VARIANT result;
    result.vt = VT_EMPTY;
    benchmark::DoNotOptimize(
        instrument->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    benchmark::DoNotOptimize(result.dblVal);
  }
  CountAllocations(state, before);
}
BENCHMARK(BM_InvokeGet);

void BM_InvokePut(benchmark::State& state) {
  IInstrument* instrument = TheInstrument().instrument.Get();
  DISPID id = IdOf(u"Frequency");
  DISPID named_put = DISPID_PROPERTYPUT;
  VARIANT arg;
  arg.vt = VT_R8;
  arg.dblVal = 2e6;
  DISPPARAMS put{&arg, &named_put, 1, 1};
  long before = g_allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        instrument->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr));
  }
  CountAllocations(state, before);
}
BENCHMARK(BM_InvokePut);

// Instrument.Open(IdQuery, ResetInstrument, AutoDetectErrors) on an open instrument: three arguments coerced
// and checked, nothing sent.
void BM_InvokeThreeArguments(benchmark::State& state) {
  IInstrument* instrument = TheInstrument().instrument.Get();
  DISPID id = IdOf(u"Open");
  VARIANT args[3];
  for (VARIANT& arg : args) {
    arg.vt = VT_BOOL;
    arg.boolVal = VARIANT_TRUE;
  }
  args[1].vt = VT_I4;  // a number where a boolean is expected, as scripts pass it
  args[1].lVal = 0;
  DISPPARAMS params{args, nullptr, 3, 0};
  long before = g_allocations.load();
  for (auto _ : state) {
    VARIANT result;
    result.vt = VT_EMPTY;
    benchmark::DoNotOptimize(instrument->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                                                &params, &result, nullptr, nullptr));
    benchmark::DoNotOptimize(result.boolVal);
  }
  CountAllocations(state, before);
}
BENCHMARK(BM_InvokeThreeArguments);

}  // namespace

BENCHMARK_MAIN();
