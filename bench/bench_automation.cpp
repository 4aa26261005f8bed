// Costs of the automation runtime's hot paths: coercion, string allocation and array copies.
#include <benchmark/benchmark.h>

#include "automation/automation.h"

namespace {

void BM_VariantChangeType_I4_to_R8(benchmark::State& state) {
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_I4;
  src.lVal = 123456;
  VARIANT dest;
  VariantInit(&dest);
  for (auto _ : state) {
    HRESULT hr = VariantChangeType(&dest, &src, 0, VT_R8);
    benchmark::DoNotOptimize(hr);
    benchmark::DoNotOptimize(dest.dblVal);
  }
}
BENCHMARK(BM_VariantChangeType_I4_to_R8);

void BM_VariantChangeType_BSTR_to_R8(benchmark::State& state) {
  pgx::auto_::Variant src(u"-1.2345678e-3");
  VARIANT dest;
  VariantInit(&dest);
  for (auto _ : state) {
    HRESULT hr = VariantChangeType(&dest, &src, 0, VT_R8);
    benchmark::DoNotOptimize(hr);
    benchmark::DoNotOptimize(dest.dblVal);
  }
}
BENCHMARK(BM_VariantChangeType_BSTR_to_R8);

void BM_SysAllocString_SysFreeString_32(benchmark::State& state) {
  const OLECHAR text[] = u"0123456789abcdef0123456789ABCDEF";  // 32 characters
  for (auto _ : state) {
    BSTR b = SysAllocString(text);
    benchmark::DoNotOptimize(b);
    SysFreeString(b);
  }
}
BENCHMARK(BM_SysAllocString_SysFreeString_32);

void BM_VariantCopy_SafeArray_UI1_1KiB(benchmark::State& state) {
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_ARRAY | VT_UI1;
  src.parray = SafeArrayCreateVector(VT_UI1, 0, 1024);
  VARIANT dest;
  VariantInit(&dest);
  for (auto _ : state) {
    HRESULT hr = VariantCopy(&dest, &src);  // frees the previous copy, then copies
    benchmark::DoNotOptimize(hr);
    benchmark::DoNotOptimize(dest.parray);
  }
  VariantClear(&dest);
  VariantClear(&src);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_VariantCopy_SafeArray_UI1_1KiB);

}  // namespace

BENCHMARK_MAIN();
