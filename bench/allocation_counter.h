// Heap allocations through operator new, counted so that a benchmark can show that a path makes none.
// Include it in exactly one source file of a benchmark program: it replaces the global operator new.
#pragma once

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace pgx::bench {
inline std::atomic<long> g_allocations{0};

// Sets the "allocs/iter" counter of a benchmark from the count at its start.
inline void CountAllocations(benchmark::State& state, long before) {
  state.counters["allocs/iter"] = benchmark::Counter(static_cast<double>(g_allocations.load() - before) /
                                                     static_cast<double>(state.iterations()));
}
}  // namespace pgx::bench

// The replacement pair is malloc/free based; GCC cannot see that they match once inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  pgx::bench::g_allocations.fetch_add(1, std::memory_order_relaxed);
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
