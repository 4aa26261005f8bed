#pragma once
// Test access to the simulated instrument behind an open bench session, for fault injection.

#include <functional>

#include "sim/device.h"
#include "visa/visa.h"

namespace pgx::visa::testing {

// Runs `action` on the device behind session `vi` with exclusive access. False when `vi` is not an open
// session on a bench resource.
bool with_bench_device(ViSession vi, const std::function<void(sim::Device&)>& action);

}  // namespace pgx::visa::testing
