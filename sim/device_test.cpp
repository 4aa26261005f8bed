#include "sim/device.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "sim/testing/session.h"

namespace pgx::sim {
namespace {

// Writes a message and collects the reply up to its end.
std::string ask(Device& d, std::string_view message) {
  d.write(message);
  std::string reply;
  char buf[64];
  bool end = false;
  while (!end) {
    std::size_t n = d.read(buf, sizeof buf, end);
    if (n == 0) break;
    reply.append(buf, n);
  }
  return reply;
}

TEST(SimDeviceTest, IdentityAndOptionsFollowTheFrontEnds) {
  struct Case {
    std::vector<std::string> front_ends;
    std::string idn;
    std::string opt;
  };
  const Case cases[] = {
      {{"M4030A", "M4040A"}, "PGX Instruments,M4000A,SN1,2.1\n", "M4030A,M4040A\n"},
      {{"Q510A"}, "PGX Instruments,Q500A,SN1,2.1\n", "Q510A\n"},
  };
  for (const Case& c : cases) {
    DeviceConfig cfg;
    cfg.front_ends = c.front_ends;
    cfg.serial = "SN1";
    cfg.firmware = "2.1";
    auto d = make_device(cfg);
    EXPECT_EQ(ask(*d, "*IDN?\n"), c.idn);
    EXPECT_EQ(ask(*d, "*OPT?\n"), c.opt);
  }
}

TEST(SimDeviceTest, ForeignInstrumentKnowsOnlyCommonCommands) {
  DeviceConfig cfg;
  cfg.kind = "multimeter";
  cfg.serial = "7";
  cfg.firmware = "1.2";
  auto d = make_device(cfg);
  EXPECT_EQ(ask(*d, "*IDN?\n"), "Acme Measurement,DMM-100,7,1.2\n");
  d->write(":FREQ 1E6\n");
  EXPECT_EQ(ask(*d, ":SYST:ERR?\n"), "-113,\"Undefined header\"\n");
}

TEST(SimDeviceTest, RejectsBadConfigurations) {
  const std::vector<std::vector<std::string>> bad = {
      {"M4030A", "M4030A", "M4030A"}, {"X1"}, {"Q510A", "M4030A"}};
  for (const auto& fe : bad) {
    DeviceConfig cfg;
    cfg.front_ends = fe;
    EXPECT_THROW(make_device(cfg), std::invalid_argument);
  }
}

// Everything the device answers to a sequence of writes, message by message.
std::vector<std::string> replies(Device& d, const std::vector<std::string>& writes) {
  for (const std::string& w : writes) d.write(w);
  std::vector<std::string> out;
  std::string current;
  char buf[3];  // small reads: a reply spans several
  bool end = false;
  while (std::size_t n = d.read(buf, sizeof buf, end)) {
    current.append(buf, n);
    if (end) {
      out.push_back(current);
      current.clear();
    }
  }
  EXPECT_EQ(current, "");
  return out;
}

TEST(SimDeviceTest, FramesSplitAndMergedWrites) {
  struct Case {
    const char* name;
    std::vector<std::string> writes;
    std::vector<std::string> replies;
  };
  const Case cases[] = {
      {"merged", {"*OPC?\n:TRIG:COUN 7\n:TRIG:COUN?\n"}, {"1\n", "7\n"}},
      {"split", {"*O", "PC", "?", "\n:TRIG:CO", "UN?\n"}, {"1\n", "1\n"}},
      {"CR LF", {"*OPC?\r\n", "*OPC?\r", "\n"}, {"1\n", "1\n"}},
      {"no terminator yet", {"*OPC?"}, {}},
      {"LF inside a block", {":DIG:PATT:DATA1 #12", "1\n", "\n"}, {}},
      {"block split in its length", {":DIG:PATT:DATA1 #", "1", "3", "101;:DIG:PATT:DATA1?\n"}, {"#13101\n"}},
      {"quoted terminator does not hide the next message", {"*OPC \"abc\n*OPC?\n"}, {"1\n"}},
  };
  for (const Case& c : cases) {
    DeviceConfig cfg;
    cfg.front_ends = {"M4030A"};
    auto d = make_device(cfg);
    EXPECT_EQ(replies(*d, c.writes), c.replies) << c.name;
  }
}

TEST(SimDeviceTest, LfInsideBlockIsData) {
  // The LF inside the block is a pattern byte the instrument refuses (-224), not a terminator (-161 would
  // mean the block was cut).
  DeviceConfig cfg;
  cfg.front_ends = {"M4030A"};
  testing::Session s = testing::Session::with(cfg);
  s.device().write(":DIG:PATT:DATA1 #13\n11\n");
  EXPECT_EQ(s.error_codes(), "-224");
}

TEST(SimDeviceTest, OverlongMessageIsDiscardedAndTheDeviceStaysUsable) {
  DeviceConfig cfg;
  cfg.front_ends = {"Q510A"};
  cfg.max_message_bytes = 100;
  testing::Session s = testing::Session::with(cfg);
  s.device().write(":FREQ 1" + std::string(150, '0'));
  s.device().write(std::string(500, '0') + "\n*OPC?\n");
  EXPECT_EQ(s.read(), "1");
  // A block that announces more than fits is waited for until the buffer is full; then it is discarded and
  // the stream resynchronises at the next LF.
  s.device().write(":DIG:PATT:DATA1 #9999999999\n*IDN?\n");
  EXPECT_EQ(s.read(), "");
  s.device().write(std::string(200, 'x') + "\n*IDN?\n");
  EXPECT_EQ(s.read().substr(0, 15), "PGX Instruments");
  EXPECT_EQ(s.error_codes(), "-363 -363");
}

// Reads every response that is readable now.
std::string drain(Device& d) {
  std::string all;
  char buf[4096];
  bool end = false;
  while (std::size_t n = d.read(buf, sizeof buf, end)) all.append(buf, n);
  return all;
}

// A controller that does not read its responses: what waits for it stays bounded, and it learns what it lost
// from the query errors of IEEE 488.2.
TEST(SimDeviceTest, UnreadResponsesAreBounded) {
  DeviceConfig cfg;
  cfg.front_ends = {"M4030A", "M4030A"};
  cfg.max_output_bytes = 16384;
  testing::Session s = testing::Session::with(cfg);
  s.send(":DIG:PATT:PRBS1:ALL 14,2000");
  // 100 learn strings of about 8 kB each, never read: a message that finds 16 kB or more unread discards it.
  std::string lots;
  for (int i = 0; i < 100; ++i) lots += "*LRN?\n";
  s.device().write(lots);
  const std::string unread = drain(s.device());
  EXPECT_LT(unread.size(), 3 * 16384u);
  EXPECT_EQ(unread.back(), '\n');
  std::string codes = s.error_codes();
  EXPECT_EQ(codes.substr(0, 10), "-410 -410 ") << codes;
  // One message whose own response outgrows the output queue answers nothing; its settings still apply.
  s.send(":DIG:PATT:FORM ASC");
  std::string big = ":TRIG:COUN 5";
  for (int i = 0; i < 10; ++i) big += ";:DIG:PATT:DATA1?";
  s.send(big + ";:TRIG:COUN?");
  EXPECT_EQ(s.read(), "");
  EXPECT_EQ(s.errors(), "-430,\"Query DEADLOCKED; response longer than the output queue\"");
  EXPECT_EQ(s.ask(":TRIG:COUN?;:DIG:PATT:DATA1?").substr(0, 8), "5;#42000");
}

// A bus serving several controllers executes long messages in turns: received messages wait, each turn runs
// a bounded number of message units, and a response becomes readable when its message is finished.
TEST(SimDeviceTest, MessagesExecuteInTurns) {
  DeviceConfig cfg;
  cfg.front_ends = {"Q510A"};
  cfg.max_message_bytes = 200;
  testing::Session s = testing::Session::with(cfg);
  Device& d = s.device();
  d.receive(":TRIG:COUN 2;:TRIG:COUN 3;:TRIG:COUN?;:TRIG:COUN 4;*OPC?\n:FREQ " + std::string(300, '1') +
            "\n:BOGUS\n:TRIG:COUN?\n");
  EXPECT_TRUE(d.execute(3));  // three units: the query has run, its message has not finished
  EXPECT_EQ(drain(d), "");
  EXPECT_TRUE(d.execute(1));
  EXPECT_TRUE(d.execute(1));  // the message is finished; the next ones wait
  EXPECT_EQ(drain(d), "3;1\n");
  // A message written directly waits for those received before it; the overrun and the undefined header
  // come in the order of their messages.
  d.write(":TRIG:COUN 6;*OPC?\n");
  EXPECT_FALSE(d.execute(100));
  EXPECT_EQ(drain(d), "4\n1\n");
  EXPECT_EQ(s.error_codes(), "-363 -113");
  // A device clear drops a message half executed and those waiting.
  d.receive(":TRIG:COUN 7;:TRIG:COUN 8;:TRIG:COUN 9\n:TRIG:COUN 10\n");
  EXPECT_TRUE(d.execute(1));
  d.device_clear();
  EXPECT_FALSE(d.execute(100));
  EXPECT_EQ(s.ask(":TRIG:COUN?"), "7");
}

TEST(SimDeviceTest, DeviceClearDiscardsInputAndOutputButKeepsSettings) {
  DeviceConfig cfg;
  cfg.front_ends = {"Q510A"};
  testing::Session s = testing::Session::with(cfg);
  s.device().write(":TRIG:COUN 9\n*IDN?\n:TRIG:CO");
  EXPECT_TRUE(s.device().output_pending());
  s.device().device_clear();
  EXPECT_FALSE(s.device().output_pending());
  EXPECT_EQ(s.ask(":TRIG:COUN?"), "9");
  EXPECT_EQ(s.errors(), "");
}

TEST(SimDeviceTest, SerialPollShowsMessageAvailableAndErrors) {
  DeviceConfig cfg;
  cfg.front_ends = {"Q510A"};
  testing::Session s = testing::Session::with(cfg);
  EXPECT_EQ(s.device().serial_poll(), 0);
  s.send("*IDN?");
  EXPECT_EQ(s.device().serial_poll(), 16);
  s.read();
  EXPECT_EQ(s.device().serial_poll(), 0);
  s.send(":BOGUS");
  EXPECT_EQ(s.device().serial_poll(), 4);
  s.send("*SRE 4");
  EXPECT_EQ(s.device().serial_poll(), 4 | 64);
}

// IEEE 488.2 service requests: a new reason for service (a status byte bit that *SRE selects becoming true)
// asserts SRQ until a serial poll, which reads RQS in bit 6; a reason that stays true asks only once.
TEST(SimDeviceTest, ServiceRequestsFromTheStatusByteAndTheEnableMask) {
  struct Step {
    const char* message;  // sent, or "poll" for a serial poll, or "read" to read a response
    bool requesting;      // SRQ asserted afterwards
    int requests;         // requests made so far
    int polled;           // what the poll read (-1: not a poll)
  };
  const Step steps[] = {
      {"*ESE 1;*SRE 32;*OPC", true, 1, -1},
      {"poll", false, 1, 0x20 | 0x40},  // ESB with RQS, which the poll clears ...
      {"poll", false, 1, 0x20},         // ... while ESB (and *STB?'s MSS) stay
      {"*OPC", false, 1, -1},           // the summary was true already: no new request
      {"*CLS", false, 1, -1},
      {"*OPC", true, 2, -1},  // true again after it had gone false: a new request
      {"*SRE 16", true, 2, -1},
      {"poll", false, 2, 0x20 | 0x40},
      {"*CLS;*IDN?", true, 3, -1},  // the reply is a message available (MAV)
      {"read", true, 3, -1},        // SRQ stays asserted until a poll, also when MAV went
      {"poll", false, 3, 0x40},
      {":BOGUS", false, 3, -1},
      {"*SRE 4", true, 4, -1},  // enabling a bit that is already true asks at once
      {"poll", false, 4, 0x04 | 0x40},
  };
  DeviceConfig cfg;
  cfg.front_ends = {"Q510A"};
  testing::Session s = testing::Session::with(cfg);
  EXPECT_FALSE(s.device().requesting_service());
  for (const auto& step : steps) {
    SCOPED_TRACE(step.message);
    int polled = -1;
    if (std::string_view(step.message) == "poll") {
      polled = s.device().serial_poll();
    } else if (std::string_view(step.message) == "read") {
      s.read();
    } else {
      s.send(step.message);
    }
    EXPECT_EQ(s.device().requesting_service(), step.requesting);
    EXPECT_EQ(s.device().service_requests(), static_cast<std::uint64_t>(step.requests));
    EXPECT_EQ(polled, step.polled);
  }
  EXPECT_EQ(s.ask("*STB?"), "68");  // EAV and MSS: the query shows the summary, not RQS
}

TEST(SimDeviceTest, TheBusTriggerIsATrgInTheOrderOfTheMessages) {
  DeviceConfig cfg;
  cfg.front_ends = {"Q510A"};
  testing::Session s = testing::Session::with(cfg);
  s.send("*TRG");
  s.device().group_execute_trigger();
  EXPECT_EQ(s.device().triggers_received(), 2u);
  // Messages received but not yet executed go first.
  s.device().receive("*TRG;*TRG\n");
  EXPECT_EQ(s.device().triggers_received(), 2u);
  s.device().group_execute_trigger();
  EXPECT_EQ(s.device().triggers_received(), 5u);
  EXPECT_EQ(s.errors(), "");

  // An instrument that *TRG does not trigger refuses the command but ignores the bus trigger.
  cfg.kind = "digital-multimeter";
  testing::Session other = testing::Session::with(cfg);
  other.device().group_execute_trigger();
  EXPECT_EQ(other.errors(), "");
  other.send("*TRG");
  EXPECT_NE(other.errors(), "");
}

TEST(SimDeviceTest, RemoteAndLocalFollowTheBus) {
  using State = RemoteLocal::State;
  enum Action { kRenOn, kRenOff, kListen, kGtl, kLlo };
  struct Step {
    Action action;
    State after;
  };
  const Step steps[] = {
      {kListen, State::kLocal},  // without REN, addressing leaves it local
      {kRenOn, State::kLocal},
      {kListen, State::kRemote},
      {kGtl, State::kLocal},
      {kLlo, State::kLocalWithLockout},
      {kListen, State::kRemoteWithLockout},
      {kGtl, State::kLocalWithLockout},  // the lockout outlives going to local ...
      {kListen, State::kRemoteWithLockout},
      {kRenOff, State::kLocal},  // ... but not the release of REN
      {kLlo, State::kLocal},
  };
  testing::Session s({"Q510A"});
  RemoteLocal& rl = s.device().remote_local();
  EXPECT_EQ(rl.state(), State::kLocal);
  for (const auto& step : steps) {
    SCOPED_TRACE(static_cast<int>(&step - steps));
    switch (step.action) {
      case kRenOn:
        rl.remote_enable(true);
        break;
      case kRenOff:
        rl.remote_enable(false);
        break;
      case kListen:
        rl.addressed_to_listen();
        break;
      case kGtl:
        rl.go_to_local();
        break;
      case kLlo:
        rl.local_lockout();
        break;
    }
    EXPECT_EQ(rl.state(), step.after);
  }
}

TEST(SimDeviceTest, VxiConfigurationRegisters) {
  DeviceConfig cfg;
  cfg.front_ends = {"M4030A"};
  cfg.vxi = VxiIdentity{0x0FFF, 0x0403};
  testing::Session s = testing::Session::with(cfg);
  Device& d = s.device();
  struct Read {
    std::uint32_t offset;
    std::uint16_t value;
  };
  // A message-based device in A16 only (0b10, 0b11) of manufacturer 0xFFF; ready and passed.
  for (const Read& r : {Read{0x00, 0xBFFF}, Read{0x02, 0x0403}, Read{0x04, 0x7FFF}, Read{0x06, 0}}) {
    std::uint16_t value = 0;
    EXPECT_TRUE(d.read_register(r.offset, value)) << r.offset;
    EXPECT_EQ(value, r.value) << r.offset;
  }
  std::uint16_t value = 0;
  EXPECT_FALSE(d.read_register(0x03, value));  // odd
  EXPECT_FALSE(d.read_register(0x40, value));  // past the 64 bytes
  EXPECT_FALSE(d.write_register(0x41, 1));

  // Reset through the control register: not ready while held, then afresh with its reset settings.
  s.send(":TRIG:COUN 9;*ESE 4;*IDN?");
  ASSERT_TRUE(d.write_register(0x04, VxiRegisters::kReset));
  ASSERT_TRUE(d.read_register(0x04, value));
  EXPECT_EQ(value & (VxiRegisters::kReady | VxiRegisters::kPassed), 0);
  ASSERT_TRUE(d.write_register(0x04, 0));
  ASSERT_TRUE(d.read_register(0x04, value));
  EXPECT_EQ(value, 0x7FFF);
  EXPECT_FALSE(d.output_pending());
  EXPECT_EQ(s.ask(":TRIG:COUN?"), "1");

  testing::Session gpib({"Q510A"});
  EXPECT_FALSE(gpib.device().read_register(0x00, value));
  EXPECT_FALSE(gpib.device().write_register(0x04, 1));
}

TEST(SimDeviceTest, InjectedFaults) {
  DeviceConfig cfg;
  cfg.front_ends = {"M4030A", "M4040A"};
  cfg.faults.scripted_replies["*OPT?"] = "M4030A;X,M4040A";
  cfg.faults.scripted_replies[":SYST:VERS?"] = std::string(300, 'v');
  cfg.faults.queued_errors = {{-310, "System error; board 2"}};
  testing::Session s = testing::Session::with(cfg);
  EXPECT_EQ(s.ask("*OPT?"), "M4030A;X,M4040A");
  EXPECT_EQ(s.ask(":SYST:VERS?"), std::string(300, 'v'));
  EXPECT_EQ(s.ask("*IDN?").substr(0, 22), "PGX Instruments,M4000A");
  EXPECT_EQ(s.ask("*ESR?"), std::to_string(128 | 8));  // power-on, device-dependent error
  EXPECT_EQ(s.errors(), "-310,\"System error; board 2\"");

  // Faults can change while the device is in use.
  s.device().faults().queued_errors = {{-241, "Hardware missing"}};
  s.device().faults().garbage_reply = std::string("\xff\x00junk", 6);
  EXPECT_EQ(s.ask("*OPC?"), std::string("\xff\x00junk", 6));
  EXPECT_EQ(s.ask("*OPC?"), "1");  // spent
  EXPECT_EQ(s.error_codes(), "-241");

  s.device().faults().reply_delay = std::chrono::milliseconds(60);
  s.send("*OPC?");
  EXPECT_TRUE(s.device().output_pending());
  char buf[8];
  bool end = false;
  EXPECT_EQ(s.device().read(buf, sizeof buf, end), 0u);
  EXPECT_GT(s.device().time_until_readable().count(), 0);
  std::this_thread::sleep_for(s.device().time_until_readable());
  EXPECT_EQ(s.read(), "1");
}

TEST(SimDeviceTest, DroppedConnection) {
  DeviceConfig cfg;
  cfg.front_ends = {"Q510A"};
  cfg.faults.drop_after_messages = 2;
  testing::Session s = testing::Session::with(cfg);
  EXPECT_EQ(s.ask("*OPC?"), "1");
  EXPECT_EQ(s.ask("*OPC?"), "1");
  EXPECT_FALSE(s.device().connection_dropped());
  EXPECT_EQ(s.ask("*OPC?"), "");  // the third message is lost with the connection
  EXPECT_TRUE(s.device().connection_dropped());
  EXPECT_FALSE(s.device().output_pending());
  EXPECT_EQ(s.ask("*IDN?"), "");
}

TEST(SimDeviceTest, SurvivesGarbageAndMutilatedMessages) {
  // Valid messages cut, spliced and sprinkled with random bytes: the device must neither crash nor lose
  // its footing, and answers normally afterwards.
  const std::string seeds[] = {":VOLT1:HIGH 2.5V;LOW 0;:VOLT1:HLOW?\n",
                               ":DIG:PATT:DATA1 #14\x01"
                               "011;DATA1?\n",
                               ":PULS:DEL1 90DEG;:PULS:DEL1:UNIT?;*LRN?\n", ":FREQ \"a;b\",#HFF,MAX;*ESR?\n",
                               "*SAV 3;*RCL 3;:ARM:SOUR TTLT0;:SYST:ERR?\n"};
  std::mt19937 rng(12345);
  DeviceConfig cfg;
  cfg.front_ends = {"M4030A", "M4040A"};
  cfg.max_message_bytes = 4096;
  auto d = make_device(cfg);
  char buf[512];
  bool end = false;
  for (int round = 0; round < 3000; ++round) {
    std::string m = seeds[rng() % std::size(seeds)];
    const int edits = static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !m.empty(); ++e) {
      const std::size_t at = rng() % m.size();
      switch (rng() % 3) {
        case 0:
          m[at] = static_cast<char>(rng() % 256);
          break;
        case 1:
          m.erase(at, rng() % 8);
          break;
        default:
          m.insert(at, seeds[rng() % std::size(seeds)].substr(0, rng() % 12));
          break;
      }
    }
    // Split at a random point, as TCP may.
    const std::size_t cut = m.empty() ? 0 : rng() % m.size();
    d->write(std::string_view(m).substr(0, cut));
    d->write(std::string_view(m).substr(cut));
    while (d->read(buf, sizeof buf, end) > 0) {
    }
  }
  d->device_clear();  // a block announced by the garbage may still be waiting for its bytes
  d->write("*CLS;*OPC?\n");
  std::string reply;
  while (std::size_t n = d->read(buf, sizeof buf, end)) reply.append(buf, n);
  EXPECT_EQ(reply, "1\n");
}

}  // namespace
}  // namespace pgx::sim
