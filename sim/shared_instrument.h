#pragma once
// One instrument reached over several connections (pgxsim's TCP clients): the settings are shared, while
// each connection has its own parser, output queue, error queue and status registers.

#include <memory>

#include "sim/device.h"

namespace pgx::sim {

struct SharedInstrument;

// Throws std::invalid_argument like make_device.
std::shared_ptr<SharedInstrument> make_shared_instrument(const DeviceConfig& config);

// A new connection to the instrument, with the faults of the instrument's config.
std::unique_ptr<Device> connect(const std::shared_ptr<SharedInstrument>& instrument);

}  // namespace pgx::sim
