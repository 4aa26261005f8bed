// Executing a command allocates nothing once the device is warm: the command tree is compiled, parameters
// are views into the message, and the output buffers keep their capacity.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "sim/device.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

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

namespace pgx::sim {
namespace {

TEST(SimAllocationTest, CommonCommandsAllocateNothing) {
  DeviceConfig cfg;
  cfg.front_ends = {"M4030A", "M4040A"};
  auto device = make_device(cfg);
  const char* const messages[] = {"VOLT1:HIGH 2.5V\n", "VOLT1?\n", ":PULS:WIDT2 20NS;:PULS:WIDT2?\n",
                                  ":TRIG:COUN 5;:ARM:SOUR EXT;:ARM:SOUR?\n", "*STB?;:SYST:ERR?\n"};
  char buf[256];
  bool end = false;
  auto run_all = [&] {
    for (const char* m : messages) {
      device->write(m);
      while (device->read(buf, sizeof buf, end) > 0) {
      }
    }
  };
  run_all();  // warm-up: buffers reach their working size
  const long before = g_allocations.load();
  ASSERT_GT(before, 0) << "the counting allocator is not in use";
  for (int i = 0; i < 100; ++i) run_all();
  EXPECT_EQ(g_allocations.load() - before, 0);
}

}  // namespace
}  // namespace pgx::sim
