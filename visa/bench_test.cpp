// The built-in bench: bench files, their mistakes, and the simulator's faults as VISA sees them.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>

#include "visa/bench_config.h"
#include "visa/testing/bench_access.h"
#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using testing::query;
using testing::ResourceManager;
using testing::ScopedEnv;
using testing::TempDir;

constexpr const char* kSmallBench = R"(resources:
  - name: GPIB1::5::INSTR
    alias: Lab.Pulser-1
    front-ends: [Q530A]
    serial: SN-GPIB-5
  - interface: gpib
    board: 1
    primary-address: 6
    secondary-address: 2
    front-ends: Q540A
    serial: SN-GPIB-6-2
  - name: GPIB-VXI0::40::INSTR
    slot: 7
    manufacturer-id: 0x0ABC
    model-code: 513
    front-ends: [M4030A, M4040A]
    serial: SN-VXI-40
  - name: GPIB1::7::INSTR
    kind: digital-multimeter
    faults:
      reply-delay-ms: 300
      scripted-replies:
        "*OPT?": "0"
      queued-errors:
        - {code: -222, text: "Data out of range"}
)";

TEST(VisaBench, ABenchFileReplacesTheDefaultBench) {
  TempDir dir;
  ScopedEnv bench("PGX_VISA_BENCH", dir.write("bench.yaml", kSmallBench));
  ResourceManager rm;
  ASSERT_EQ(rm.status(), VI_SUCCESS);
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ViFindList list = VI_NULL;
  ASSERT_EQ(viFindRsrc(rm, "?*INSTR", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 4u);
  EXPECT_STREQ(desc, "GPIB1::5::INSTR");
  ASSERT_EQ(viFindNext(list, desc), VI_SUCCESS);
  EXPECT_STREQ(desc, "GPIB1::6::2::INSTR");

  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB-VXI0::40::INSTR", VI_NULL, 2500, &vi), VI_SUCCESS);
  ViInt16 slot = 0;
  ViUInt16 manf = 0, model = 0, type = 0;
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_SLOT, &slot), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_MANF_ID, &manf), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_MODEL_CODE, &model), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_INTF_TYPE, &type), VI_SUCCESS);
  EXPECT_EQ(slot, 7);
  EXPECT_EQ(manf, 0x0ABC);
  EXPECT_EQ(model, 513);
  EXPECT_EQ(type, VI_INTF_GPIB_VXI);
  EXPECT_EQ(query(vi, "*OPT?\n"), "M4030A,M4040A\n");

  ViSession secondary = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB1::6::2", VI_NULL, 2500, &secondary), VI_SUCCESS);
  ViUInt16 address = 0;
  EXPECT_EQ(viGetAttribute(secondary, VI_ATTR_GPIB_SECONDARY_ADDR, &address), VI_SUCCESS);
  EXPECT_EQ(address, 2);
  EXPECT_NE(query(secondary, "*IDN?\n").find("SN-GPIB-6-2"), std::string::npos);

  // The default bench's resources are not there.
  EXPECT_EQ(viOpen(rm, "GPIB0::10::INSTR", VI_NULL, 2500, &vi), VI_ERROR_RSRC_NFOUND);
}

TEST(VisaBench, AnAliasOpensItsResourceWhateverItsCase) {
  TempDir dir;
  ScopedEnv bench("PGX_VISA_BENCH", dir.write("bench.yaml", kSmallBench));
  ResourceManager rm;
  for (const char* name : {"Lab.Pulser-1", "lab.pulser-1", "GPIB1::5::INSTR"}) {
    SCOPED_TRACE(name);
    ViUInt16 type = 0, board = 0;
    char rsrc_class[VI_FIND_BUFLEN], expanded[VI_FIND_BUFLEN], alias[VI_FIND_BUFLEN];
    EXPECT_EQ(viParseRsrcEx(rm, name, &type, &board, rsrc_class, expanded, alias), VI_SUCCESS);
    EXPECT_EQ(board, 1);
    EXPECT_STREQ(expanded, "GPIB1::5::INSTR");
    EXPECT_STREQ(alias, "Lab.Pulser-1");
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(rm, name, VI_NULL, 0, &vi), VI_SUCCESS);
    EXPECT_NE(query(vi, "*IDN?\n").find("SN-GPIB-5"), std::string::npos);
    viClose(vi);
  }
  ViSession vi = VI_NULL;
  EXPECT_EQ(viOpen(rm, "Lab.Pulser-2", VI_NULL, 0, &vi), VI_ERROR_INV_RSRC_NAME);
}

TEST(VisaBench, FaultsFromTheFileReachTheInstrument) {
  TempDir dir;
  ScopedEnv bench("PGX_VISA_BENCH", dir.write("bench.yaml", kSmallBench));
  ResourceManager rm;
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB1::7::INSTR", VI_NULL, 2500, &vi), VI_SUCCESS);
  EXPECT_EQ(query(vi, "*OPT?\n"), "0\n");  // scripted, after the reply delay
  EXPECT_EQ(query(vi, "SYST:ERR?\n"), "-222,\"Data out of range\"\n");
}

TEST(VisaBench, TheShippedDefaultBenchFileIsTheBuiltInBench) {
  BenchConfig shipped = load_bench_file(PGX_SOURCE_DIR "/docs/default-bench.yaml");
  BenchConfig built_in = default_bench();
  ASSERT_EQ(shipped.resources.size(), built_in.resources.size());
  for (std::size_t i = 0; i < shipped.resources.size(); ++i) {
    EXPECT_EQ(shipped.resources[i].name.canonical(), built_in.resources[i].name.canonical());
    EXPECT_EQ(shipped.resources[i].device.front_ends, built_in.resources[i].device.front_ends);
  }
  // What the default bench shows off: VXI and GPIB, one and two channels, every front-end model,
  // and one instrument that is not a pulse generator.
  int vxi = 0, gpib = 0, one = 0, two = 0, other = 0;
  std::set<std::string> models;
  for (const auto& r : built_in.resources) {
    if (r.device.kind != "pulse-generator") {
      ++other;
      continue;
    }
    (r.name.interface_type == VI_INTF_VXI ? vxi : gpib)++;
    (r.device.front_ends.size() == 1 ? one : two)++;
    models.insert(r.device.front_ends.begin(), r.device.front_ends.end());
    if (r.name.interface_type == VI_INTF_VXI) {
      EXPECT_GE(r.slot, 0);
      EXPECT_NE(r.model_code, 0);
    }
  }
  EXPECT_GE(vxi, 2);
  EXPECT_GE(gpib, 2);
  EXPECT_GE(one, 2);
  EXPECT_GE(two, 2);
  EXPECT_EQ(other, 1);
  EXPECT_EQ(models, (std::set<std::string>{"M4010A", "M4020A", "M4030A", "M4040A", "Q510A", "Q520A", "Q530A",
                                           "Q540A"}));
}

TEST(VisaBench, MistakesInABenchFileNameFileLineAndWhat) {
  struct Case {
    const char* text;
    int line;
    const char* what;
  };
  const Case cases[] = {
      {"resources:\n  - name: GPIB0::5::INSTR\n    front-end: [Q510A]\n", 3, "unknown key \"front-end\""},
      {"resources:\n  - name: GPIB0::99::INSTR\n", 2, "not a valid resource name"},
      {"resources:\n  - name: TCPIP0::h::5025::SOCKET\n", 2, "TCPIP"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    front-ends: [Q999Z]\n", 3, "Q999Z"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    front-ends: [Q510A, Q510A, Q510A]\n", 3, "front-ends"},
      {"resources:\n  - name: VXI0::5::INSTR\n    front-ends: [Q510A]\n", 3, "benchtop model"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    front-ends: [M4010A]\n", 3, "VXI module"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    slot: 3\n", 3, "only a VXI resource"},
      {"resources:\n  - name: VXI0::5::INSTR\n    slot: many\n", 3, "whole number"},
      {"resources:\n  - name: VXI0::5::INSTR\n    manufacturer-id: 0x10000\n", 3, "from 0 to 4095"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    primary-address: 6\n", 3, "does not agree"},
      {"resources:\n  - interface: gpib\n", 2, "needs a \"primary-address\""},
      {"resources:\n  - interface: usb\n    primary-address: 3\n", 2, "unknown interface"},
      {"resources:\n  - name: GPIB0::5::INSTR\n  - name: gpib::5\n", 3, "listed twice"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    faults: {reply-delay-ms: -5}\n", 3, "reply-delay-ms"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    faults: {drop-after: 1}\n", 3,
       "unknown key \"drop-after\""},
      {"resources:\n  - name: [GPIB0::5::INSTR\n", 3, ""},  // YAML syntax error
      {"resources: 5\n", 1, "must be a list"},
      // Numbers are decimal or hexadecimal: a leading zero is not taken for octal.
      {"resources:\n  - interface: gpib\n    board: 010\n    primary-address: 5\n", 3, "\"010\""},
      {"resources:\n  - name: VXI0::5::INSTR\n    slot: 0x\n", 3, "whole number"},
      {"resources:\n  - name: VXI0::5::INSTR\n    slot: 5 \n    model-code: 1_000\n", 4, "whole number"},
      // A key given twice is a mistake, wherever it is.
      {"resources:\n  - name: GPIB0::5::INSTR\n    serial: A\n    serial: B\n", 4,
       "\"serial\" is given twice"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    faults:\n      reply-delay-ms: 5\n"
       "      garbage-reply: x\n      reply-delay-ms: 6\n",
       6, "\"reply-delay-ms\" is given twice"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    faults:\n      scripted-replies:\n"
       "        \"*OPT?\": A\n        \"*OPT?\": B\n",
       6, "\"*OPT?\" is given twice"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    faults:\n      queued-errors:\n"
       "        - {code: -222, code: -100}\n",
       5, "\"code\" is given twice"},
      {"resources:\n  - name: GPIB0::5::INSTR\nresources:\n  - name: GPIB0::6::INSTR\n", 3,
       "\"resources\" is given twice"},
      {"instruments:\n  - name: GPIB0::5::INSTR\n", 1, "\"resources\""},
      // Aliases are plain words, not resource names, and name one resource each.
      {"resources:\n  - name: GPIB0::5::INSTR\n    alias: my scope\n", 3, "letters, digits"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    alias: gpib0::6\n", 3, "letters, digits"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    alias: asrl2\n", 3, "reads as a resource name"},
      {"resources:\n  - name: GPIB0::5::INSTR\n    alias: A\n  - name: GPIB0::6::INSTR\n    alias: a\n", 5,
       "given twice"},
      {"resources:\n  - name: GPIB0::INTFC\n", 2, "not an instrument"},
      {"resources:\n  - name: USB0::1::2::SN::INSTR\n", 2, "GPIB, VXI"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      parse_bench(c.text, "lab.yaml");
      ADD_FAILURE() << "accepted";
    } catch (const BenchError& e) {
      std::string message = e.what();
      EXPECT_EQ(message.rfind("lab.yaml:" + std::to_string(c.line) + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.what), std::string::npos) << message;
    }
  }
}

TEST(VisaBench, ABrokenBenchFileFailsTheResourceManagerWithItsMessage) {
  TempDir dir;
  std::string path = dir.write("broken.yaml", "resources:\n  - name: GPIB0::5::INSTR\n    colour: red\n");
  ScopedEnv bench("PGX_VISA_BENCH", path);
  ViSession rm = VI_NULL;
  ViStatus status = viOpenDefaultRM(&rm);
  EXPECT_EQ(status, VI_ERROR_INV_SETUP);
  EXPECT_EQ(rm, VI_NULL);
  char desc[VI_FIND_BUFLEN];
  viStatusDesc(VI_NULL, status, desc);
  EXPECT_NE(std::string(desc).find(path + ":3: unknown key \"colour\""), std::string::npos) << desc;

  // Files that cannot be read as a bench file are file errors, not mistakes in a file.
  for (const std::string& unreadable : {dir.file("missing.yaml"), dir.path().string()}) {
    SCOPED_TRACE(unreadable);
    ScopedEnv missing("PGX_VISA_BENCH", unreadable);
    EXPECT_EQ(viOpenDefaultRM(&rm), VI_ERROR_FILE_ACCESS);
    viStatusDesc(VI_NULL, VI_ERROR_FILE_ACCESS, desc);
    EXPECT_NE(std::string(desc).find(unreadable + ": "), std::string::npos) << desc;
  }
  // A file without end is refused once it is longer than any bench file, not read until memory runs out.
  try {
    load_bench_file("/dev/zero");
    ADD_FAILURE() << "accepted";
  } catch (const BenchError& e) {
    EXPECT_NE(std::string(e.what()).find("too large for a bench file"), std::string::npos) << e.what();
  }
}

TEST(VisaBench, NumbersAreDecimalOrHexadecimal) {
  struct Case {
    const char* slot;
    ViInt16 value;
  };
  const Case cases[] = {{"0", 0}, {"9", 9}, {"-1", -1}, {"0x0A", 10}, {"0XfF", 255}, {"255", 255}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slot);
    auto bench = parse_bench(std::string("resources:\n  - name: VXI0::5::INSTR\n    slot: ") + c.slot + "\n",
                             "lab.yaml");
    ASSERT_EQ(bench.resources.size(), 1u);
    EXPECT_EQ(bench.resources[0].slot, c.value);
  }
}

class VisaBenchFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(viOpen(rm, "GPIB0::10::INSTR", VI_NULL, 2500, &vi), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 200), VI_SUCCESS);
  }
  void inject(const std::function<void(sim::FaultConfig&)>& change) {
    ASSERT_TRUE(testing::with_bench_device(vi, [&](sim::Device& device) { change(device.faults()); }));
  }

  ScopedEnv default_bench_{"PGX_VISA_BENCH", ""};
  ResourceManager rm;
  ViSession vi = VI_NULL;
};

TEST_F(VisaBenchFaults, AReplyLaterThanTheTimeOutIsATimeOutAndTheSessionStaysUsable) {
  inject([](sim::FaultConfig& f) { f.reply_delay = std::chrono::milliseconds(600); });
  ViStatus status;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(query(vi, "*IDN?\n", &status), "");
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  // The late reply arrives whole once the caller waits long enough.
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);
  std::string reply = testing::read_text(vi, &status);
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_NE(reply.find("DE51000010"), std::string::npos) << reply;
  inject([](sim::FaultConfig& f) { f.reply_delay = std::chrono::milliseconds(0); });
  EXPECT_NE(query(vi, "*IDN?\n", &status).find("DE51000010"), std::string::npos);
  EXPECT_EQ(status, VI_SUCCESS);
}

TEST_F(VisaBenchFaults, ADroppedConnectionIsConnectionLostUntilANewSession) {
  ViStatus status;
  EXPECT_NE(query(vi, "*IDN?\n", &status).find("DE51000010"), std::string::npos);
  inject([](sim::FaultConfig& f) { f.drop_after_messages = 0; });  // the next message drops it
  EXPECT_EQ(testing::write_text(vi, "*IDN?\n"), VI_ERROR_CONN_LOST);
  testing::read_text(vi, &status);
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(viClear(vi), VI_ERROR_CONN_LOST);
  ViUInt16 stb;
  EXPECT_EQ(viReadSTB(vi, &stb), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);

  ViSession again = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB0::10::INSTR", VI_NULL, 2500, &again), VI_SUCCESS);
  EXPECT_NE(query(again, "*IDN?\n", &status).find("DE51000010"), std::string::npos);
  EXPECT_EQ(status, VI_SUCCESS);
}

TEST_F(VisaBenchFaults, ALostConnectionStaysLostWhenAnotherSessionReachesTheInstrumentAgain) {
  ASSERT_EQ(testing::write_text(vi, "*ESE 36\n"), VI_SUCCESS);
  inject([](sim::FaultConfig& f) { f.drop_after_messages = 0; });
  EXPECT_EQ(testing::write_text(vi, "*ESE?\n"), VI_ERROR_CONN_LOST);

  ViSession again = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB0::10::INSTR", VI_NULL, 2500, &again), VI_SUCCESS);
  EXPECT_EQ(query(again, "*ESE?\n"), "0\n");  // the instrument started afresh for the new session

  // The session that lost its connection does not see the restarted instrument as its own.
  ViStatus status = VI_SUCCESS;
  EXPECT_EQ(query(vi, "*ESE?\n", &status), "");
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  testing::read_text(vi, &status);
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(viClear(vi), VI_ERROR_CONN_LOST);
  ViUInt16 stb = 0;
  EXPECT_EQ(viReadSTB(vi, &stb), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viClose(vi), VI_SUCCESS);
  EXPECT_EQ(query(again, "*ESE?\n", &status), "0\n");
  EXPECT_EQ(status, VI_SUCCESS);
}

TEST_F(VisaBenchFaults, GarbageIsPassedOnAsItCame) {
  inject([](sim::FaultConfig& f) { f.garbage_reply = std::string("\x01\xff no newline", 13); });
  ViStatus status;
  std::string reply = query(vi, "*IDN?\n", &status);
  EXPECT_EQ(reply.substr(0, 13), std::string("\x01\xff no newline", 13));
}

}  // namespace
}  // namespace pgx::visa
