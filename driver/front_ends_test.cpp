// What each front-end lacks is written down three times, independently: in the driver (which refuses what
// the connected front-end lacks), in the simulated instruments (which refuse it themselves; a real
// instrument may stand in their place) and in docs/scpi.md. This test fails when any two disagree, for
// any model and any bit.

#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/front_ends.h"
#include "sim/front_end.h"

#ifndef PGX_SCPI_REFERENCE
#define PGX_SCPI_REFERENCE ""
#endif

namespace pgx::driver {
namespace {

// The bit names of both tables, side by side.
const struct {
  const char* name;
  std::uint32_t driver;
  std::uint32_t sim;
} kBits[] = {
    {"transition times", kLackTransTime, sim::kLackTransTime},
    {"transition hold", kLackTransHold, sim::kLackTransHold},
    {"trailing-edge coupling", kLackLeTeCouple, sim::kLackLeTeCouple},
    {"pattern", kLackPattern, sim::kLackPattern},
    {"levels", kLackLevel, sim::kLackLevel},
    {"limits", kLackLimit, sim::kLackLimit},
    {"source impedance", kLackOutImpedance, sim::kLackOutImpedance},
    {"load compensation", kLackLoadComp, sim::kLackLoadComp},
    {"channel math", kLackOutputMath, sim::kLackOutputMath},
    {"complement output", kLackOutStateCompl, sim::kLackOutStateCompl},
    {"VXI trigger source", kLackVxiTrigSource, sim::kLackVxiTrigSource},
    {"VXI trigger line", kLackVxiTrigEnable, sim::kLackVxiTrigEnable},
    {"VXI arming lines", kLackArmSourceVxi, sim::kLackArmSourceVxi},
    {"auto-calibration", kLackAutoCalibrate, sim::kLackAutoCalibrate},
    {"independent trailing edge", kLackLeTeAbs, sim::kLackLeTeAbs},
    {"trigger-output source", kLackTrgOutSrc, sim::kLackTrgOutSrc},
};

std::string bit_name(std::uint32_t bit) {
  for (const auto& b : kBits) {
    if (b.driver == bit) return b.name;
  }
  return "bit " + std::to_string(bit);
}

// Compares two masks bit by bit, naming each bit in which they differ.
void expect_same_lacks(std::uint32_t expected, std::uint32_t actual, const std::string& what) {
  for (int i = 0; i < 32; ++i) {
    const std::uint32_t bit = std::uint32_t{1} << i;
    EXPECT_EQ((expected & bit) != 0, (actual & bit) != 0)
        << what << ": " << bit_name(bit) << " (" << bit << ") " << ((actual & bit) ? "lacked" : "present");
  }
}

TEST(DriverFrontEnds, BitsMeanTheSameInDriverAndSimulator) {
  std::uint32_t all = 0;
  for (const auto& b : kBits) {
    EXPECT_EQ(b.driver, b.sim) << b.name;
    EXPECT_EQ(std::popcount(b.driver), 1) << b.name;
    EXPECT_EQ(all & b.driver, 0u) << b.name << " shares a bit";
    all |= b.driver;
  }
}

TEST(DriverFrontEnds, DriverAndSimulatorAgreeOnEveryModel) {
  ASSERT_FALSE(known_front_ends().empty());
  for (const FrontEnd& model : known_front_ends()) {
    const std::string name(model.name);
    const sim::FrontEndModel* simulated = sim::find_front_end(name);
    ASSERT_NE(simulated, nullptr) << name << " is unknown to the simulator";
    expect_same_lacks(simulated->lacks, model.lacks, name);
    // Both know the name without its final letter too.
    const std::string short_name = name.substr(0, name.size() - 1);
    ASSERT_NE(sim::find_front_end(short_name), nullptr) << short_name;
    EXPECT_EQ(front_end_lacks(short_name), model.lacks) << short_name;
  }
  EXPECT_EQ(front_end_lacks("Q999Z"), kUnknownFrontEnd);
  EXPECT_EQ(sim::find_front_end("Q999Z"), nullptr);
}

// The table "What each front-end lacks" of docs/scpi.md: a header row of models, then one row per
// function with its bit in parentheses and ✓ (has it) or – (lacks it) per model.
std::map<std::string, std::uint32_t> documented_lacks() {
  std::ifstream file(PGX_SCPI_REFERENCE);
  std::string line;
  while (std::getline(file, line) && line.rfind("| Function (bit of the restriction mask)", 0) != 0) {
  }
  std::vector<std::string> models;
  auto cells = [](const std::string& row) {
    std::vector<std::string> out;
    std::stringstream in(row);
    std::string cell;
    std::getline(in, cell, '|');  // before the first bar
    while (std::getline(in, cell, '|')) {
      const auto first = cell.find_first_not_of(' ');
      const auto last = cell.find_last_not_of(' ');
      out.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    if (!out.empty() && out.back().empty()) out.pop_back();
    return out;
  };
  std::map<std::string, std::uint32_t> lacks;
  const std::vector<std::string> header = cells(line);
  for (std::size_t i = 1; i < header.size(); ++i) lacks[header[i]] = 0;
  std::getline(file, line);  // |---|---|
  while (std::getline(file, line) && line.rfind("|", 0) == 0) {
    const std::vector<std::string> row = cells(line);
    const auto open = row[0].rfind('(');
    const std::uint32_t bit = static_cast<std::uint32_t>(std::stoul(row[0].substr(open + 1)));
    for (std::size_t i = 1; i < row.size() && i < header.size(); ++i) {
      if (row[i] == "–") lacks[header[i]] |= bit;
    }
  }
  return lacks;
}

TEST(DriverFrontEnds, TheCommandReferenceSaysTheSame) {
  const std::map<std::string, std::uint32_t> documented = documented_lacks();
  ASSERT_FALSE(documented.empty()) << "no front-end table in " << PGX_SCPI_REFERENCE;
  std::set<std::string> in_driver;
  for (const FrontEnd& model : known_front_ends()) in_driver.insert(std::string(model.name));
  std::set<std::string> in_docs;
  for (const auto& [name, lacks] : documented) in_docs.insert(name);
  EXPECT_EQ(in_docs, in_driver);
  for (const auto& [name, lacks] : documented) {
    expect_same_lacks(lacks, front_end_lacks(name), name + " (driver against docs/scpi.md)");
    const sim::FrontEndModel* simulated = sim::find_front_end(name);
    ASSERT_NE(simulated, nullptr) << name << " is unknown to the simulator";
    expect_same_lacks(lacks, simulated->lacks, name + " (simulator against docs/scpi.md)");
  }
}

}  // namespace
}  // namespace pgx::driver
