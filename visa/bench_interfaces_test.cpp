// Bus triggers, GPIB control and the VXI backplane on the built-in bench, as the simulated instruments see
// them.
#include <gtest/gtest.h>

#include <string>

#include "visa/testing/bench_access.h"
#include "visa/testing/default_bench_test.h"
#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using testing::query;
using testing::ResourceManager;
using testing::write_text;

class VisaBus : public testing::DefaultBenchTest {
 protected:
  static std::uint64_t triggers(ViSession vi) {
    std::uint64_t count = 0;
    EXPECT_TRUE(
        testing::with_bench_device(vi, [&](sim::Device& device) { count = device.triggers_received(); }));
    return count;
  }
  static sim::RemoteLocal::State remote_local(ViSession vi) {
    sim::RemoteLocal::State state{};
    testing::with_bench_device(vi, [&](sim::Device& device) { state = device.remote_local().state(); });
    return state;
  }
  static ViInt16 ren_state(ViSession vi) {
    ViInt16 state = 99;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_GPIB_REN_STATE, &state), VI_SUCCESS);
    return state;
  }
};

TEST_F(VisaBus, ABusTriggerIsTheInstrumentsTrg) {
  for (const char* name : {"GPIB0::10::INSTR", "VXI0::8::INSTR"}) {
    SCOPED_TRACE(name);
    ViSession vi = open(name);
    const std::uint64_t before = triggers(vi);
    EXPECT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    ASSERT_EQ(write_text(vi, "*TRG\n"), VI_SUCCESS);
    EXPECT_EQ(triggers(vi), before + 2);
    EXPECT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_ON), VI_ERROR_INV_PROT);  // a software trigger is a pulse
    EXPECT_EQ(query(vi, ":SYST:ERR?\n"), "0,\"No error\"\n");
  }
  // The multimeter cannot be triggered: it ignores the bus trigger.
  ViSession dmm = open("GPIB0::22::INSTR");
  EXPECT_EQ(viAssertTrigger(dmm, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
  EXPECT_EQ(query(dmm, ":SYST:ERR?\n"), "0,\"No error\"\n");
  EXPECT_EQ(viAssertTrigger(rm, VI_TRIG_PROT_DEFAULT), VI_ERROR_NSUP_OPER);
  // A GPIB instrument has only software triggers; a VXI module may name a line of its backplane.
  ViSession gpib = open("GPIB0::10::INSTR"), vxi = open("VXI0::8::INSTR");
  EXPECT_EQ(viSetAttribute(gpib, VI_ATTR_TRIG_ID, VI_TRIG_TTL3), VI_ERROR_NSUP_ATTR_STATE);
  EXPECT_EQ(viSetAttribute(vxi, VI_ATTR_TRIG_ID, VI_TRIG_TTL3), VI_SUCCESS);
  EXPECT_EQ(viAssertTrigger(vxi, VI_TRIG_PROT_ON), VI_SUCCESS);
  ViSession backplane = open("VXI0::0::BACKPLANE");
  ViUInt32 lines = 0;
  EXPECT_EQ(viGetAttribute(backplane, VI_ATTR_VXI_TRIG_STATUS, &lines), VI_SUCCESS);
  EXPECT_EQ(lines, 1u << 3);
  EXPECT_EQ(viAssertTrigger(vxi, VI_TRIG_PROT_OFF), VI_SUCCESS);
  EXPECT_EQ(viSetAttribute(vxi, VI_ATTR_TRIG_ID, static_cast<ViAttrState>(VI_TRIG_SW)), VI_SUCCESS);
}

TEST_F(VisaBus, RemoteAndLocalFollowRenAndAddressing) {
  ViSession vi = open("GPIB0::11::INSTR"), other = open("GPIB0::12::INSTR");
  using State = sim::RemoteLocal::State;
  EXPECT_EQ(ren_state(vi), VI_STATE_UNASSERTED);    // not yet addressed
  ASSERT_EQ(write_text(vi, "*CLS\n"), VI_SUCCESS);  // REN is asserted: addressed to listen, it goes remote
  EXPECT_EQ(ren_state(vi), VI_STATE_ASSERTED);
  struct Step {
    ViSession session;
    ViUInt16 mode;
    State vi_after;
    State other_after;
  };
  const Step steps[] = {
      {vi, VI_GPIB_REN_ADDRESS_GTL, State::kLocal, State::kLocal},
      {vi, VI_GPIB_REN_ASSERT_ADDRESS, State::kRemote, State::kLocal},
      {other, VI_GPIB_REN_ASSERT_LLO, State::kRemoteWithLockout, State::kLocalWithLockout},  // LLO is for all
      {vi, VI_GPIB_REN_ADDRESS_GTL, State::kLocalWithLockout, State::kLocalWithLockout},
      {other, VI_GPIB_REN_ASSERT_ADDRESS_LLO, State::kLocalWithLockout, State::kRemoteWithLockout},
      {vi, VI_GPIB_REN_DEASSERT, State::kLocal, State::kLocal},  // releasing REN ends every lockout
      {vi, VI_GPIB_REN_ASSERT, State::kLocal, State::kLocal},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.mode);
    EXPECT_EQ(viGpibControlREN(step.session, step.mode), VI_SUCCESS);
    EXPECT_EQ(remote_local(vi), step.vi_after);
    EXPECT_EQ(remote_local(other), step.other_after);
  }
  EXPECT_EQ(viGpibControlREN(vi, 7), VI_ERROR_INV_MODE);
  EXPECT_EQ(viGpibControlREN(open("VXI0::8::INSTR"), VI_GPIB_REN_ASSERT), VI_ERROR_NSUP_OPER);
  // ATN, IFC, bus commands and passing control belong to the board's session.
  EXPECT_EQ(viGpibControlATN(vi, VI_GPIB_ATN_ASSERT), VI_ERROR_NSUP_OPER);
  EXPECT_EQ(viGpibSendIFC(vi), VI_ERROR_NSUP_OPER);
  EXPECT_EQ(viGpibPassControl(vi, 5, VI_NO_SEC_ADDR), VI_ERROR_NSUP_OPER);
}

TEST_F(VisaBus, TheBoardSendsBusCommandsToTheAddressedInstruments) {
  ViSession board = open("GPIB0::INTFC"), pulser = open("GPIB0::12::INSTR"), other = open("GPIB0::13::INSTR");
  const std::uint64_t pulser_before = triggers(pulser), other_before = triggers(other);
  // Unlisten, listen address 12, Group Execute Trigger: only instrument 12 is triggered.
  const ViByte trigger_12[] = {0x3F, 0x20 + 12, 0x08};
  ViUInt32 count = 0;
  ASSERT_EQ(viGpibCommand(board, trigger_12, sizeof trigger_12, &count), VI_SUCCESS);
  EXPECT_EQ(count, sizeof trigger_12);
  EXPECT_EQ(triggers(pulser), pulser_before + 1);
  EXPECT_EQ(triggers(other), other_before);
  EXPECT_EQ(viAssertTrigger(board, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);  // GET to the listeners again
  EXPECT_EQ(triggers(pulser), pulser_before + 2);

  // Data to the listener, then its answer from it as talker.
  ASSERT_EQ(write_text(board, "*IDN?\n"), VI_SUCCESS);
  const ViByte talk_12[] = {0x3F, 0x5F, 0x40 + 12, 0x20};  // the board listens, 12 talks
  ASSERT_EQ(viGpibCommand(board, talk_12, sizeof talk_12, &count), VI_SUCCESS);
  EXPECT_NE(testing::read_text(board).find("DE53000012"), std::string::npos);

  // Selected Device Clear to a listener, Device Clear to everybody.
  ASSERT_EQ(write_text(other, "*IDN?\n"), VI_SUCCESS);
  const ViByte clear_all[] = {0x14};
  ASSERT_EQ(viGpibCommand(board, clear_all, sizeof clear_all, &count), VI_SUCCESS);
  ViUInt16 stb = 0;
  ASSERT_EQ(viReadSTB(other, &stb), VI_SUCCESS);
  EXPECT_EQ(stb & 0x10, 0);  // the reply waiting was cleared

  // Local Lockout and Go To Local as commands.
  const ViByte lockout[] = {0x11, 0x3F, 0x20 + 13, 0x01};
  ASSERT_EQ(viGpibCommand(board, lockout, sizeof lockout, &count), VI_SUCCESS);
  EXPECT_EQ(remote_local(other), sim::RemoteLocal::State::kLocalWithLockout);
  EXPECT_EQ(remote_local(pulser), sim::RemoteLocal::State::kRemoteWithLockout);
  EXPECT_EQ(viGpibControlREN(board, VI_GPIB_REN_ASSERT_ADDRESS), VI_ERROR_INV_MODE);  // needs an instrument
  EXPECT_EQ(viGpibControlREN(board, VI_GPIB_REN_DEASSERT), VI_SUCCESS);
  ViInt16 ren = 0;
  EXPECT_EQ(viGetAttribute(board, VI_ATTR_GPIB_REN_STATE, &ren), VI_SUCCESS);
  EXPECT_EQ(ren, VI_STATE_UNASSERTED);
  EXPECT_EQ(remote_local(pulser), sim::RemoteLocal::State::kLocal);
  EXPECT_EQ(viGpibControlREN(board, VI_GPIB_REN_ASSERT), VI_SUCCESS);
  EXPECT_EQ(viGpibControlATN(board, VI_GPIB_ATN_ASSERT), VI_SUCCESS);
  EXPECT_EQ(viGpibControlATN(board, 9), VI_ERROR_INV_MODE);
}

TEST_F(VisaBus, ControlPassedAwayIsTakenBackWithIfc) {
  ViSession board = open("GPIB0::INTFC"), vi = open("GPIB0::10::INSTR");
  ASSERT_EQ(viEnableEvent(board, VI_EVENT_GPIB_CIC, VI_QUEUE, VI_NULL), VI_SUCCESS);
  EXPECT_EQ(viGpibPassControl(board, 5, VI_NO_SEC_ADDR), VI_ERROR_NLISTENERS);  // nobody there
  EXPECT_EQ(viGpibPassControl(board, 31, VI_NO_SEC_ADDR), VI_ERROR_INV_PARAMETER);
  ASSERT_EQ(viGpibPassControl(board, 10, VI_NO_SEC_ADDR), VI_SUCCESS);
  ViBoolean cic = VI_TRUE;
  EXPECT_EQ(viGetAttribute(board, VI_ATTR_GPIB_CIC_STATE, &cic), VI_SUCCESS);
  EXPECT_EQ(cic, VI_FALSE);
  ViEvent event = VI_NULL;
  ASSERT_EQ(viWaitOnEvent(board, VI_EVENT_GPIB_CIC, 1000, VI_NULL, &event), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(event, VI_ATTR_GPIB_RECV_CIC_STATE, &cic), VI_SUCCESS);
  EXPECT_EQ(cic, VI_FALSE);
  viClose(event);
  // Without control of the bus nothing can be sent.
  EXPECT_EQ(write_text(vi, "*IDN?\n"), VI_ERROR_NCIC);
  const ViByte unlisten[] = {0x3F};
  ViUInt32 count = 0;
  EXPECT_EQ(viGpibCommand(board, unlisten, 1, &count), VI_ERROR_NCIC);
  ASSERT_EQ(viGpibSendIFC(board), VI_SUCCESS);  // the system controller takes control back
  EXPECT_EQ(viWaitOnEvent(board, VI_EVENT_GPIB_CIC, 1000, VI_NULL, VI_NULL), VI_SUCCESS);
  EXPECT_NE(query(vi, "*IDN?\n").find("DE51000010"), std::string::npos);
}

TEST_F(VisaBus, TheBackplaneResetsItsModulesAndMapsTriggerLines) {
  ViSession backplane = open("VXI0::0::BACKPLANE"), module = open("VXI0::16::INSTR");
  ASSERT_EQ(write_text(module, ":TRIG:COUN 7\n"), VI_SUCCESS);
  ASSERT_EQ(viAssertUtilSignal(backplane, VI_UTIL_ASSERT_SYSRESET), VI_SUCCESS);
  EXPECT_EQ(query(module, ":TRIG:COUN?\n"), "1\n");  // every module starts afresh
  ASSERT_EQ(viAssertUtilSignal(backplane, VI_UTIL_ASSERT_SYSFAIL), VI_SUCCESS);
  ViInt16 sysfail = 0;
  EXPECT_EQ(viGetAttribute(backplane, VI_ATTR_VXI_VME_SYSFAIL_STATE, &sysfail), VI_SUCCESS);
  EXPECT_EQ(sysfail, VI_STATE_ASSERTED);
  EXPECT_EQ(viAssertUtilSignal(backplane, 9), VI_ERROR_INV_LINE);
  EXPECT_EQ(viAssertUtilSignal(module, VI_UTIL_ASSERT_SYSRESET), VI_ERROR_NSUP_OPER);

  struct Case {
    ViInt16 source, destination;
    ViStatus status;
  };
  const Case cases[] = {
      {VI_TRIG_TTL0, VI_TRIG_PANEL_OUT, VI_SUCCESS},
      {VI_TRIG_TTL0, VI_TRIG_PANEL_OUT, VI_SUCCESS_TRIG_MAPPED},
      {VI_TRIG_PANEL_IN, VI_TRIG_ECL1, VI_SUCCESS},
      {VI_TRIG_TTL0, VI_TRIG_TTL0, VI_ERROR_INV_LINE},
      {VI_TRIG_TTL0, 14, VI_ERROR_NSUP_LINE},  // a star line: not on this backplane
      {VI_TRIG_TTL0, 99, VI_ERROR_INV_LINE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " -> " + std::to_string(c.destination));
    EXPECT_EQ(viMapTrigger(backplane, c.source, c.destination, VI_NULL), c.status);
  }
  EXPECT_EQ(viUnmapTrigger(backplane, VI_TRIG_TTL0, VI_TRIG_PANEL_OUT), VI_SUCCESS);
  EXPECT_EQ(viUnmapTrigger(backplane, VI_TRIG_TTL0, VI_TRIG_PANEL_OUT), VI_ERROR_TRIG_NMAPPED);
  EXPECT_EQ(viUnmapTrigger(backplane, VI_TRIG_PANEL_IN, VI_TRIG_ALL), VI_SUCCESS);

  ASSERT_EQ(viSetAttribute(backplane, VI_ATTR_TRIG_ID, VI_TRIG_ECL1), VI_SUCCESS);
  ASSERT_EQ(viAssertTrigger(backplane, VI_TRIG_PROT_ON), VI_SUCCESS);
  ViUInt32 lines = 0;
  EXPECT_EQ(viGetAttribute(backplane, VI_ATTR_VXI_TRIG_STATUS, &lines), VI_SUCCESS);
  EXPECT_EQ(lines & 0x3FF, 1u << 9);  // ECL1 is bit 9
  ASSERT_EQ(viAssertTrigger(backplane, VI_TRIG_PROT_OFF), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(backplane, VI_ATTR_VXI_TRIG_STATUS, &lines), VI_SUCCESS);
  EXPECT_EQ(lines, 0u);
}

TEST_F(VisaBus, WordSerialCommandsReachTheModule) {
  ViSession module = open("VXI0::32::INSTR");
  const std::uint64_t before = triggers(module);
  ViUInt32 response = 0;
  EXPECT_EQ(viVxiCommandQuery(module, VI_VXI_CMD16, 0xEDFF, VI_NULL), VI_SUCCESS);  // Trigger
  EXPECT_EQ(triggers(module), before + 1);
  ASSERT_EQ(write_text(module, "*CLS;*IDN?\n"), VI_SUCCESS);
  EXPECT_EQ(viVxiCommandQuery(module, VI_VXI_CMD16_RESP16, 0xCFFF, &response), VI_SUCCESS);  // Read STB
  EXPECT_EQ(response, 0xFF00u | 0x10u);
  EXPECT_EQ(viVxiCommandQuery(module, VI_VXI_CMD16, 0xFFFF, VI_NULL), VI_SUCCESS);  // Clear
  EXPECT_EQ(viVxiCommandQuery(module, VI_VXI_CMD16_RESP16, 0xCFFF, &response), VI_SUCCESS);
  EXPECT_EQ(response, 0xFF00u);
  EXPECT_EQ(viVxiCommandQuery(module, VI_VXI_CMD16, 0x1234, VI_NULL), VI_ERROR_RAW_WR_PROT_VIOL);
  EXPECT_EQ(viVxiCommandQuery(module, VI_VXI_CMD32, 0xEDFF, VI_NULL), VI_ERROR_NSUP_MODE);
  EXPECT_EQ(viVxiCommandQuery(open("GPIB0::10::INSTR"), VI_VXI_CMD16, 0xEDFF, VI_NULL), VI_ERROR_NSUP_OPER);
}

}  // namespace
}  // namespace pgx::visa
