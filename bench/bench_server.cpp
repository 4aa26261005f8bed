// What the server adds to the driver: Channels.Item(1).Pulse.Width set and read through the whole stack
// (IDispatch by name through the generic dispatcher, the server's members, the real driver, VISA and the
// simulated instrument), and the same through the generated client wrappers, each against the same two driver
// calls (pgxgen_timeWidth, pgxgen_timeWidth_Q) made directly on the same instrument in the same run. The
// server module is loaded directly from its file (no registry needed).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

#include "automation/client.h"
#include "automation/comptr.h"
#include "automation/module.h"
#include "driver/pgxgen.h"
#include "server/pgxsrv_idl.h"

namespace {

using pgx::auto_::ComPtr;
using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;

// A two-channel VXI module of the built-in bench.
constexpr const char16_t* kResource = u"VXI0::32::INSTR";
constexpr const char* kResourceText = "VXI0::32::INSTR";
constexpr double kWidth = 20e-9;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "bench_server: %s\n", what);
  std::abort();
}

// The root object of the server module and one opened instrument, for the whole run.
struct Server {
  Server() {
    unsetenv("PGX_VISA_BENCH");
    handle = ::dlopen(PGXSRV_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!handle) Fail(::dlerror());
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    ComPtr<IDispatch> object;
    if (!get || FAILED(get(CLSID_PgxGen, IID_IClassFactory, factory.ReleaseAndGetAddressOfVoid())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IDispatch, object.ReleaseAndGetAddressOfVoid()))) {
      Fail("the server module made no PgxGen");
    }
    root = pgxsrv::IPgxGenPtr(object.Get());
    Variant name(kResource);
    instrument = root.GetInstruments().GetItem(name);
    if (!instrument.GetOpen(VARIANT_TRUE, VARIANT_TRUE, VARIANT_FALSE)) Fail("the instrument did not open");
  }
  ~Server() {
    instrument.Close();
    instrument = nullptr;
    root = nullptr;
    // The module stays loaded: objects of the runtime may still point into it at exit.
  }
  void* handle;
  pgxsrv::IPgxGenPtr root;
  pgxsrv::IInstrumentPtr instrument;
};

Server& TheServer() {
  static Server server;
  return server;
}

// The driver calls the member makes, made directly on a session of the same instrument.
void BM_DriverWidthPair(benchmark::State& state) {
  TheServer();
  ViSession vi = VI_NULL;
  if (pgxgen_init(kResourceText, VI_FALSE, VI_FALSE, &vi) != VI_SUCCESS) {
    state.SkipWithError("pgxgen_init failed");
    return;
  }
  ViReal64 width = 0;
  for (auto _ : state) {
    if (pgxgen_timeWidth(vi, 1, kWidth) < VI_SUCCESS || pgxgen_timeWidth_Q(vi, 1, &width) < VI_SUCCESS) {
      state.SkipWithError("driver call failed");
      break;
    }
    benchmark::DoNotOptimize(width);
  }
  pgxgen_close(vi);
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DriverWidthPair);

// As a script writes it: every put and get finds its way from the instrument by name,
// Channels.Item(1).Pulse.Width, each step an IDispatch call with GetIDsOfNames.
void BM_LateBoundWidthPair(benchmark::State& state) {
  DispatchPtr instrument(TheServer().instrument.GetInterfacePtr());
  auto pulse = [&] {
    DispatchPtr channels(instrument.InvokeByName(u"Channels", DISPATCH_PROPERTYGET).pdispVal);
    DispatchPtr channel(channels.InvokeByName(u"Item", DISPATCH_PROPERTYGET, {Variant(LONG{1})}).pdispVal);
    return DispatchPtr(channel.InvokeByName(u"Pulse", DISPATCH_PROPERTYGET).pdispVal);
  };
  try {
    for (auto _ : state) {
      pulse().InvokeByName(u"Width", DISPATCH_PROPERTYPUT, {Variant(kWidth)});
      Variant width = pulse().InvokeByName(u"Width", DISPATCH_PROPERTYGET);
      benchmark::DoNotOptimize(width.dblVal);
    }
  } catch (const pgx::auto_::com_error& e) {
    state.SkipWithError(e.what());
  }
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LateBoundWidthPair);

// The same with the Pulse object kept: only Width goes by name.
void BM_LateBoundWidthPairOnPulse(benchmark::State& state) {
  DispatchPtr pulse(TheServer().instrument.GetChannels().GetItem(1).GetPulse().GetInterfacePtr());
  try {
    for (auto _ : state) {
      pulse.InvokeByName(u"Width", DISPATCH_PROPERTYPUT, {Variant(kWidth)});
      Variant width = pulse.InvokeByName(u"Width", DISPATCH_PROPERTYGET);
      benchmark::DoNotOptimize(width.dblVal);
    }
  } catch (const pgx::auto_::com_error& e) {
    state.SkipWithError(e.what());
  }
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LateBoundWidthPairOnPulse);

// Through the generated client wrappers, which call by DISPID: the whole chain for each put and get.
void BM_WrapperWidthPair(benchmark::State& state) {
  const pgxsrv::IInstrumentPtr& instrument = TheServer().instrument;
  try {
    for (auto _ : state) {
      instrument.GetChannels().GetItem(1).GetPulse().PutWidth(kWidth);
      double width = instrument.GetChannels().GetItem(1).GetPulse().GetWidth();
      benchmark::DoNotOptimize(width);
    }
  } catch (const pgx::auto_::com_error& e) {
    state.SkipWithError(e.what());
  }
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WrapperWidthPair);

// The same with the Pulse wrapper kept.
void BM_WrapperWidthPairOnPulse(benchmark::State& state) {
  pgxsrv::IPulsePtr pulse = TheServer().instrument.GetChannels().GetItem(1).GetPulse();
  try {
    for (auto _ : state) {
      pulse.PutWidth(kWidth);
      double width = pulse.GetWidth();
      benchmark::DoNotOptimize(width);
    }
  } catch (const pgx::auto_::com_error& e) {
    state.SkipWithError(e.what());
  }
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WrapperWidthPairOnPulse);

}  // namespace

BENCHMARK_MAIN();
