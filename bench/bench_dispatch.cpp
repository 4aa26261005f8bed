// The cost of late binding: IDispatch::Invoke through the generic dispatcher against the direct call
// through the interface, and GetIDsOfNames on an interface of 40 members. The objects come from the test
// server module, loaded directly (no registry needed).
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "automation/comptr.h"
#include "automation/module.h"
#include "automation/testing/testsrv_idl.h"

namespace {

// Heap allocations through operator new, counted so a benchmark can show that a path makes none.
std::atomic<long> g_allocations{0};

}  // namespace

// The replacement pair is malloc/free based; GCC cannot see that they match once inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace {

using pgx::auto_::ComPtr;

struct Server {
  Server() {
    handle = ::dlopen(PGX_TESTSRV_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      std::fprintf(stderr, "bench_dispatch: %s\n", ::dlerror());
      std::abort();
    }
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    if (!get || FAILED(get(CLSID_Widget, IID_IClassFactory, factory.ReleaseAndGetAddressOfVoid())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IWidget, widget.ReleaseAndGetAddressOfVoid())) ||
        FAILED(widget.As(&wide))) {
      std::fprintf(stderr, "bench_dispatch: the test server did not create a widget\n");
      std::abort();
    }
    widget->put_Count(42);
  }
  void* handle;
  ComPtr<IWidget> widget;
  ComPtr<IWide> wide;
};

Server& TheServer() {
  static Server server;
  return server;
}

void CountAllocations(benchmark::State& state, long before) {
  state.counters["allocs/iter"] = benchmark::Counter(static_cast<double>(g_allocations.load() - before) /
                                                     static_cast<double>(state.iterations()));
}

void BM_DirectPropertyGet(benchmark::State& state) {
  IWidget* widget = TheServer().widget.Get();
  for (auto _ : state) {
    LONG value = 0;
    benchmark::DoNotOptimize(widget->get_Count(&value));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_DirectPropertyGet);

void BM_InvokePropertyGet(benchmark::State& state) {
  IDispatch* widget = TheServer().widget.Get();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  long before = g_allocations.load();
  for (auto _ : state) {
    VARIANT result;
    result.vt = VT_EMPTY;
    benchmark::DoNotOptimize(
        widget->Invoke(0x60020001, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    benchmark::DoNotOptimize(result.lVal);
  }
  CountAllocations(state, before);
}
BENCHMARK(BM_InvokePropertyGet);

void BM_DirectMethod3Args(benchmark::State& state) {
  IWidget* widget = TheServer().widget.Get();
  BSTR text = SysAllocString(u"volts");
  for (auto _ : state) {
    DOUBLE sum = 0;
    benchmark::DoNotOptimize(widget->Mix(3, 1.5, text, &sum));
    benchmark::DoNotOptimize(sum);
  }
  SysFreeString(text);
}
BENCHMARK(BM_DirectMethod3Args);

// Mix(long, double, BSTR) called with a short for the long and a long for the double, so both are coerced.
void BM_InvokeMethod3ArgsCoerced(benchmark::State& state) {
  IDispatch* widget = TheServer().widget.Get();
  BSTR text = SysAllocString(u"volts");
  VARIANT args[3];
  args[2].vt = VT_I2;
  args[2].iVal = 3;
  args[1].vt = VT_I4;
  args[1].lVal = 2;
  args[0].vt = VT_BSTR;
  args[0].bstrVal = text;
  DISPPARAMS params{args, nullptr, 3, 0};
  long before = g_allocations.load();
  for (auto _ : state) {
    VARIANT result;
    result.vt = VT_EMPTY;
    benchmark::DoNotOptimize(
        widget->Invoke(0x6002000f, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr));
    benchmark::DoNotOptimize(result.dblVal);
  }
  CountAllocations(state, before);
  SysFreeString(text);
}
BENCHMARK(BM_InvokeMethod3ArgsCoerced);

// A 20-character name among the 40 members of IWide.
void BM_GetIDsOfNames(benchmark::State& state) {
  IDispatch* wide = TheServer().wide.Get();
  OLECHAR name[] = u"MeasureTriggerLevels";
  LPOLESTR names[] = {name};
  long before = g_allocations.load();
  for (auto _ : state) {
    DISPID id = 0;
    benchmark::DoNotOptimize(wide->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    benchmark::DoNotOptimize(id);
  }
  CountAllocations(state, before);
}
BENCHMARK(BM_GetIDsOfNames);

}  // namespace

BENCHMARK_MAIN();
