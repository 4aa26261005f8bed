// Fuzz target: the simulated instruments' SCPI engine, fed what a controller may write.
//
// Input: one byte picks the instrument (front-ends, benchtop or VXI, or an instrument of another kind), one
// byte says how the bytes arrive (in one write, or taken and executed a few message units at a time as
// pgxsim serves them) and whether to check the learn string; the rest is the byte stream (a final LF is
// added so that the last message is executed).
//
// Beyond the sanitizers, the learn-string check: after whatever the stream did, *LRN? must describe the
// state in commands a reset instrument of the same kind accepts without an error, and that instrument must
// then answer the same learn string.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device.h"

namespace {

using pgx::sim::Device;
using pgx::sim::DeviceConfig;

struct Instrument {
  const char* kind;
  std::vector<std::string> front_ends;
};

const Instrument kInstruments[] = {
    {"pulse-generator", {"M4030A", "M4040A"}},
    {"pulse-generator", {"M4010A"}},
    {"pulse-generator", {"M4020A", "M4020A"}},
    {"pulse-generator", {"Q510A", "Q520A"}},
    {"pulse-generator", {"Q530A"}},
    {"pulse-generator", {"Q540A", "Q540A"}},
    {"digital-multimeter", {}},
};

// `small_output`: output bounds small enough that inputs of a few kilobytes reach them (a learn string with
// long patterns needs the default).
std::unique_ptr<Device> make(const Instrument& instrument, bool small_output) {
  DeviceConfig config;
  config.kind = instrument.kind;
  config.front_ends = instrument.front_ends;
  config.serial = "FZ00000001";
  if (small_output) config.max_output_bytes = 16u << 10;
  return pgx::sim::make_device(config);
}

std::string drain(Device& device) {
  std::string out;
  char buffer[4096];
  bool end = false;
  while (std::size_t n = device.read(buffer, sizeof buffer, end)) out.append(buffer, n);
  return out;
}

std::string ask(Device& device, std::string_view message) {
  std::string m(message);
  m += '\n';
  device.write(m);
  std::string reply = drain(device);
  if (!reply.empty() && reply.back() == '\n') reply.pop_back();
  return reply;
}

std::string errors(Device& device) {
  std::string all;
  for (int i = 0; i < 40; ++i) {
    std::string entry = ask(device, ":SYST:ERR?");
    if (entry.rfind("0,", 0) == 0 || entry.empty()) break;
    all += entry + ' ';
  }
  return all;
}

[[noreturn]] void fail(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "scpi_engine_fuzzer: %s\n%s\n%s\n", what, a.c_str(), b.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Instrument& instrument = kInstruments[data[0] % std::size(kInstruments)];
  const bool in_turns = data[1] & 1;
  const bool check_learn = data[1] & 2;
  const std::size_t units = 1 + (data[1] >> 2) % 4;
  std::string stream(reinterpret_cast<const char*>(data + 2), size - 2);
  stream += '\n';

  std::unique_ptr<Device> device = make(instrument, !check_learn);
  if (in_turns) {
    device->receive(stream);
    while (device->execute(units)) drain(*device);
  } else {
    device->write(stream);
  }
  drain(*device);
  device->serial_poll();

  if (!check_learn || std::string_view(instrument.kind) != "pulse-generator") return 0;
  // A stream may end inside block data or a message: the device clear drops it, the settings stay.
  device->device_clear();
  const std::string learned = ask(*device, "*LRN?");
  std::unique_ptr<Device> reset = make(instrument, false);
  device = nullptr;
  reset->write(learned + '\n');
  const std::string refused = errors(*reset);
  if (!refused.empty()) fail("the instrument refuses its own learn string", learned, refused);
  const std::string relearned = ask(*reset, "*LRN?");
  if (relearned != learned)
    fail("the learn string does not restore the state it describes", learned, relearned);
  return 0;
}
