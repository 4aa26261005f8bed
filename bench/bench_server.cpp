// The whole server stack, as a script uses it, against the driver called directly in the same run, on the
// in-process bench: Instrument.Frequency put and get, late-bound (GetIDsOfNames once, then Invoke) and
// through the generated client wrappers (by DISPID); and Channels.Item(1).Pulse.Width put and get, by name
// through the whole chain and on a kept Pulse object. Each against the same driver calls on a session of the
// same instrument: the difference is what the server adds.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "automation/client.h"
#include "automation/com_error.h"
#include "automation/comptr.h"
#include "automation/module.h"
#include "automation/variant.h"
#include "driver/pgxgen.h"
#include "server/pgxsrv_client.h"

namespace {

using pgx::auto_::ComPtr;
using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;

constexpr const char* kResource = "GPIB0::12::INSTR";

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "bench_server: %s\n", what);
  std::abort();
}

struct Stack {
  Stack() {
    handle = ::dlopen(PGXSRV_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!handle) Fail(::dlerror());
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    ComPtr<IInstruments> instruments;
    pgx::auto_::Variant name(kResource);
    VARIANT_BOOL open = VARIANT_FALSE;
    if (!get || FAILED(get(CLSID_PgxGen, IID_IClassFactory, factory.ReleaseAndGetAddressOfVoid())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IPgxGen, root.ReleaseAndGetAddressOfVoid())) ||
        FAILED(root->get_Instruments(instruments.ReleaseAndGetAddressOf())) ||
        FAILED(instruments->get_Item(name, instrument.ReleaseAndGetAddressOf())) || !instrument ||
        FAILED(instrument->get_Open(VARIANT_TRUE, VARIANT_FALSE, VARIANT_FALSE, &open)) || !open)
      Fail("the server did not open the instrument");
    if (pgxgen_init(kResource, VI_TRUE, VI_FALSE, &session) != VI_SUCCESS) Fail("the driver did not open it");
    LPOLESTR frequency = const_cast<LPOLESTR>(u"Frequency");
    if (FAILED(instrument->GetIDsOfNames(IID_NULL, &frequency, 1, 0, &frequency_id))) Fail("no Frequency");
  }
  void* handle;
  ComPtr<IPgxGen> root;
  ComPtr<IInstrument> instrument;
  ViSession session = 0;
  DISPID frequency_id = 0;
};

Stack& TheStack() {
  static Stack stack;
  return stack;
}

double NextFrequency(int& i) {
  return (++i & 1) ? 1.0e6 : 2.0e6;
}

void BM_DriverFrequencyPutGet(benchmark::State& state) {
  ViSession vi = TheStack().session;
  int i = 0;
  for (auto _ : state) {
    ViReal64 value = 0;
    benchmark::DoNotOptimize(pgxgen_cmdReal(vi, ":FREQ", NextFrequency(i)));
    benchmark::DoNotOptimize(pgxgen_cmdReal64_Q(vi, ":FREQ?", &value));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_DriverFrequencyPutGet);

void BM_LateBoundFrequencyPutGet(benchmark::State& state) {
  IDispatch* instrument = TheStack().instrument.Get();
  DISPID id = TheStack().frequency_id;
  DISPID named_put = DISPID_PROPERTYPUT;
  VARIANT arg;
  arg.vt = VT_R8;
  DISPPARAMS put{&arg, &named_put, 1, 1};
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  int i = 0;
  for (auto _ : state) {
    arg.dblVal = NextFrequency(i);
    benchmark::DoNotOptimize(
        instrument->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr));
    VARIANT result;
    result.vt = VT_EMPTY;
    benchmark::DoNotOptimize(
        instrument->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    benchmark::DoNotOptimize(result.dblVal);
  }
}
BENCHMARK(BM_LateBoundFrequencyPutGet);

void BM_ClientWrapperFrequencyPutGet(benchmark::State& state) {
  pgxsrv::IInstrumentPtr instrument(TheStack().instrument.Get());
  int i = 0;
  for (auto _ : state) {
    instrument.PutFrequency(NextFrequency(i));
    benchmark::DoNotOptimize(instrument.GetFrequency());
  }
}
BENCHMARK(BM_ClientWrapperFrequencyPutGet);

constexpr double kWidth = 20e-9;

// pgxgen_timeWidth and pgxgen_timeWidth_Q, what Pulse.Width put and get call.
void BM_DriverWidthPutGet(benchmark::State& state) {
  ViSession vi = TheStack().session;
  for (auto _ : state) {
    ViReal64 width = 0;
    benchmark::DoNotOptimize(pgxgen_timeWidth(vi, 1, kWidth));
    benchmark::DoNotOptimize(pgxgen_timeWidth_Q(vi, 1, &width));
    benchmark::DoNotOptimize(width);
  }
}
BENCHMARK(BM_DriverWidthPutGet);

// As a script writes it: every put and get finds its way from the instrument by name,
// Channels.Item(1).Pulse.Width, each step an IDispatch call with GetIDsOfNames.
void BM_LateBoundWidthPutGetThroughTheChain(benchmark::State& state) {
  DispatchPtr instrument(TheStack().instrument.Get());
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
}
BENCHMARK(BM_LateBoundWidthPutGetThroughTheChain);

// The Pulse object kept: only Width goes by name.
void BM_LateBoundWidthPutGet(benchmark::State& state) {
  pgxsrv::IInstrumentPtr instrument(TheStack().instrument.Get());
  DispatchPtr pulse(instrument.GetChannels().GetItem(1).GetPulse().GetInterfacePtr());
  try {
    for (auto _ : state) {
      pulse.InvokeByName(u"Width", DISPATCH_PROPERTYPUT, {Variant(kWidth)});
      Variant width = pulse.InvokeByName(u"Width", DISPATCH_PROPERTYGET);
      benchmark::DoNotOptimize(width.dblVal);
    }
  } catch (const pgx::auto_::com_error& e) {
    state.SkipWithError(e.what());
  }
}
BENCHMARK(BM_LateBoundWidthPutGet);

// Through the generated client wrappers, by DISPID: the whole chain for each put and get.
void BM_ClientWrapperWidthPutGetThroughTheChain(benchmark::State& state) {
  pgxsrv::IInstrumentPtr instrument(TheStack().instrument.Get());
  try {
    for (auto _ : state) {
      instrument.GetChannels().GetItem(1).GetPulse().PutWidth(kWidth);
      benchmark::DoNotOptimize(instrument.GetChannels().GetItem(1).GetPulse().GetWidth());
    }
  } catch (const pgx::auto_::com_error& e) {
    state.SkipWithError(e.what());
  }
}
BENCHMARK(BM_ClientWrapperWidthPutGetThroughTheChain);

// The same with the Pulse wrapper kept.
void BM_ClientWrapperWidthPutGet(benchmark::State& state) {
  pgxsrv::IInstrumentPtr instrument(TheStack().instrument.Get());
  pgxsrv::IPulsePtr pulse = instrument.GetChannels().GetItem(1).GetPulse();
  try {
    for (auto _ : state) {
      pulse.PutWidth(kWidth);
      benchmark::DoNotOptimize(pulse.GetWidth());
    }
  } catch (const pgx::auto_::com_error& e) {
    state.SkipWithError(e.what());
  }
}
BENCHMARK(BM_ClientWrapperWidthPutGet);

}  // namespace

BENCHMARK_MAIN();
