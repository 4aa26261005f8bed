// The whole server stack, as a script uses it, against the driver called directly in the same run, on the
// in-process bench: Instrument.Frequency put and get, late-bound (GetIDsOfNames once, then Invoke) and
// through the generated client wrappers (by DISPID); and Channels.Item(1).Pulse.Width put and get, by name
// through the whole chain and on a kept Pulse object. Each against the same driver calls on a session of the
// same instrument: the difference is what the server adds.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "automation/client.h"
#include "automation/com_error.h"
#include "automation/comptr.h"
#include "automation/module.h"
#include "automation/variant.h"
#include "driver/pgxgen.h"
#include "server/pattern/pattern_bits.h"
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

// The Pulse object kept, Width's DISPID looked up once, then put and get through IDispatch::Invoke.
void BM_LateBoundWidthPutGet(benchmark::State& state) {
  pgxsrv::IInstrumentPtr instrument(TheStack().instrument.Get());
  pgxsrv::IPulsePtr pulse = instrument.GetChannels().GetItem(1).GetPulse();
  IDispatch* itf = pulse.GetInterfacePtr();
  LPOLESTR name = const_cast<LPOLESTR>(u"Width");
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(itf->GetIDsOfNames(IID_NULL, &name, 1, 0, &id))) Fail("no Width");
  DISPID named_put = DISPID_PROPERTYPUT;
  VARIANT arg;
  arg.vt = VT_R8;
  arg.dblVal = kWidth;
  DISPPARAMS put{&arg, &named_put, 1, 1};
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        itf->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr));
    VARIANT result;
    result.vt = VT_EMPTY;
    benchmark::DoNotOptimize(
        itf->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    benchmark::DoNotOptimize(result.dblVal);
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

constexpr LONG kPatternPositions = 16384;
constexpr LONG kPatternBytes = kPatternPositions / 8;

// The pattern of the benchmarks: a PRBS of order 14, packed, and the same positions one per byte.
struct PatternData {
  PatternData()
      : packed(VT_UI1, 0, kPatternBytes), back(VT_UI1, 0, kPatternBytes), positions(kPatternPositions) {
    if (FAILED(TheStack().instrument->get_Pattern(pattern.ReleaseAndGetAddressOf())) || !pattern)
      Fail("no Pattern");
    SAFEARRAY* psa = packed.get();
    if (FAILED(pattern->CalcPRBS(1, kPatternPositions, 14, &psa))) Fail("CalcPRBS failed");
    pgx::auto_::SafeArrayData<BYTE> data(packed.get());
    pgx::server::ExpandBits(data.data(), kPatternPositions, positions.data());
  }
  ComPtr<IPattern> pattern;
  pgx::auto_::SafeArray packed;
  pgx::auto_::SafeArray back;
  std::vector<BYTE> positions;
};

PatternData& ThePattern() {
  static PatternData data;
  return data;
}

void BM_CalcPrbs16384Bits(benchmark::State& state) {
  PatternData& p = ThePattern();
  SAFEARRAY* psa = p.back.get();
  for (auto _ : state) benchmark::DoNotOptimize(p.pattern->CalcPRBS(1, kPatternPositions, 14, &psa));
  state.SetBytesProcessed(state.iterations() * kPatternBytes);
}
BENCHMARK(BM_CalcPrbs16384Bits);

// pgxgen_patternDataDownloadBuffer and _Q with 16,384 positions, one per byte: what the Bits round trip
// calls.
void BM_DriverPatternRoundTrip16384(benchmark::State& state) {
  PatternData& p = ThePattern();
  ViSession vi = TheStack().session;
  std::vector<BYTE> back(kPatternPositions);
  for (auto _ : state) {
    ViInt32 count = 0;
    if (pgxgen_patternDataDownloadBuffer(vi, 1, p.positions.data(), kPatternPositions) < VI_SUCCESS ||
        pgxgen_patternDataDownloadBuffer_Q(vi, 1, back.data(), &count, kPatternPositions, VI_FALSE) <
            VI_SUCCESS ||
        count != kPatternPositions) {
      state.SkipWithError("the driver's round trip failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kPatternBytes);
}
BENCHMARK(BM_DriverPatternRoundTrip16384);

// Pattern.DataSendToInstrument and DataGetFromInstrument in the Bits format, on the IPattern interface.
void BM_BitsRoundTrip16384(benchmark::State& state) {
  PatternData& p = ThePattern();
  SAFEARRAY* out = p.packed.get();
  SAFEARRAY* in = p.back.get();
  for (auto _ : state) {
    LONG length = 0;
    if (FAILED(p.pattern->DataSendToInstrument(PgxDataChannel1, PgxPatternArrayFormatBits, &out,
                                               kPatternPositions)) ||
        FAILED(p.pattern->DataGetFromInstrument(PgxDataChannel1, PgxPatternArrayFormatBits, &in, &length)) ||
        length != kPatternPositions) {
      state.SkipWithError("the server's round trip failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kPatternBytes);
}
BENCHMARK(BM_BitsRoundTrip16384);

// The same late-bound, as a script calls it (the DISPIDs looked up once).
void BM_LateBoundBitsRoundTrip16384(benchmark::State& state) {
  PatternData& p = ThePattern();
  DispatchPtr pattern(static_cast<IDispatch*>(p.pattern.Get()));
  const DISPID send = pattern.GetIDOfName(u"DataSendToInstrument");
  const DISPID get = pattern.GetIDOfName(u"DataGetFromInstrument");
  SAFEARRAY* out = p.packed.get();
  SAFEARRAY* in = p.back.get();
  auto array_ref = [](SAFEARRAY** psa) {
    Variant v;
    v.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    v.pparray = psa;
    return v;
  };
  try {
    for (auto _ : state) {
      LONG length = 0;
      Variant length_ref;
      length_ref.vt = VT_BYREF | VT_I4;
      length_ref.plVal = &length;
      pattern.InvokeById(send, DISPATCH_METHOD,
                         {Variant(LONG{1}), Variant(LONG{2}), array_ref(&out), Variant(kPatternPositions)});
      pattern.InvokeById(get, DISPATCH_METHOD,
                         {Variant(LONG{1}), Variant(LONG{2}), array_ref(&in), length_ref});
      benchmark::DoNotOptimize(length);
    }
  } catch (const pgx::auto_::com_error& e) {
    state.SkipWithError(e.what());
  }
  state.SetBytesProcessed(state.iterations() * kPatternBytes);
}
BENCHMARK(BM_LateBoundBitsRoundTrip16384);

// The server's own share of the Bits round trip: expanding the array into positions and packing them back.
void BM_BitsConversions16384(benchmark::State& state) {
  PatternData& p = ThePattern();
  pgx::auto_::SafeArrayData<BYTE> packed(p.packed.get());
  std::vector<BYTE> positions(kPatternPositions);
  std::vector<BYTE> back(kPatternBytes);
  for (auto _ : state) {
    pgx::server::ExpandBits(packed.data(), kPatternPositions, positions.data());
    pgx::server::PackPositions(positions.data(), kPatternPositions, back.data());
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(state.iterations() * kPatternBytes);
}
BENCHMARK(BM_BitsConversions16384);

}  // namespace

BENCHMARK_MAIN();
