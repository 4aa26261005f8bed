// Register access to the simulated VXI modules: their configuration registers in A16 space through the
// module's session (offsets from its registers) and through the mainframe's (absolute addresses).
#include <gtest/gtest.h>

#include <string>

#include "visa/testing/default_bench_test.h"
#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using testing::query;
using testing::ResourceManager;

using VisaRegisters = testing::DefaultBenchTest;

// VXI0::16::INSTR: manufacturer 0xFFF, model code 0x0402, a message-based module in A16 space only.
constexpr ViUInt16 kId = 0xBFFF, kDeviceType = 0x0402, kStatusReady = 0x7FFF;

TEST_F(VisaRegisters, TheConfigurationRegistersInEveryWidth) {
  ViSession module = open("VXI0::16::INSTR"), memory = open("VXI0::MEMACC");
  const ViBusAddress base = 0xC000 + 64 * 16;
  ViUInt16 value16 = 0;
  ASSERT_EQ(viIn16(module, VI_A16_SPACE, 0, &value16), VI_SUCCESS);
  EXPECT_EQ(value16, kId);
  ASSERT_EQ(viIn16Ex(module, VI_A16_SPACE, 2, &value16), VI_SUCCESS);
  EXPECT_EQ(value16, kDeviceType);
  ASSERT_EQ(viIn16(memory, VI_A16_SPACE, base + 4, &value16), VI_SUCCESS);
  EXPECT_EQ(value16, kStatusReady);
  ViUInt8 value8 = 0;
  ASSERT_EQ(viIn8(module, VI_A16_SPACE, 0, &value8), VI_SUCCESS);  // VXI is big endian
  EXPECT_EQ(value8, 0xBF);
  ASSERT_EQ(viIn8(module, VI_A16_SPACE, 3, &value8), VI_SUCCESS);
  EXPECT_EQ(value8, 0x02);
  ViUInt32 value32 = 0;
  ASSERT_EQ(viIn32(module, VI_A16_SPACE, 0, &value32), VI_SUCCESS);
  EXPECT_EQ(value32, (ViUInt32{kId} << 16) | kDeviceType);
  ViUInt64 value64 = 0;
  ASSERT_EQ(viIn64(memory, VI_A16_SPACE, base, &value64), VI_SUCCESS);
  EXPECT_EQ(value64 >> 32, (ViUInt64{kId} << 16) | kDeviceType);
  // Little endian, when the session asks for it.
  ASSERT_EQ(viSetAttribute(module, VI_ATTR_SRC_BYTE_ORDER, VI_LITTLE_ENDIAN), VI_SUCCESS);
  ASSERT_EQ(viIn16(module, VI_A16_SPACE, 0, &value16), VI_SUCCESS);
  EXPECT_EQ(value16, 0xFFBF);
}

TEST_F(VisaRegisters, WhatIsOutsideTheRegistersGivesTheStandardErrors) {
  ViSession module = open("VXI0::8::INSTR"), memory = open("VXI0::MEMACC"), gpib = open("GPIB0::10::INSTR");
  ViUInt16 value = 0;
  struct Case {
    ViSession session;
    ViUInt16 space;
    ViBusAddress offset;
    ViStatus status;
  };
  const Case cases[] = {
      {module, VI_A16_SPACE, 0x40, VI_ERROR_INV_OFFSET},  // past the module's 64 bytes
      {module, VI_A16_SPACE, 0x3F, VI_ERROR_INV_OFFSET},
      {module, VI_A16_SPACE, 1, VI_ERROR_NSUP_ALIGN_OFFSET},
      {module, VI_A24_SPACE, 0, VI_ERROR_INV_SPACE},  // A16 only
      {module, VI_OPAQUE_SPACE, 0, VI_ERROR_INV_SPACE},
      {memory, VI_A16_SPACE, 0x1000, VI_ERROR_BERR},           // nothing answers there
      {memory, VI_A16_SPACE, 0xC000 + 64 * 9, VI_ERROR_BERR},  // no module at logical address 9
      {memory, VI_A24_SPACE, 0x100, VI_ERROR_BERR},            // nor in A24
      {memory, VI_A16_SPACE, 0x10000, VI_ERROR_INV_OFFSET},    // past A16 space
      {memory, VI_LOCAL_SPACE, 0, VI_ERROR_INV_SPACE},
      {gpib, VI_A16_SPACE, 0, VI_ERROR_NSUP_OPER},  // a GPIB instrument has no registers
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.space) + ":" + std::to_string(c.offset));
    EXPECT_EQ(viIn16(c.session, c.space, c.offset, &value), c.status);
  }
  EXPECT_EQ(viIn16(module, VI_A16_SPACE, 0, VI_NULL), VI_ERROR_INV_PARAMETER);
  ViUInt32 value32 = 0;
  EXPECT_EQ(viIn32(module, VI_A16_SPACE, 2, &value32), VI_ERROR_NSUP_ALIGN_OFFSET);
  ViBusAddress offset = 1;
  EXPECT_EQ(viMemAlloc(module, 16, &offset), VI_ERROR_MEM_NSHARED);  // no shared memory to give
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(viMemFree(module, 0), VI_ERROR_MEM_NSHARED);
  EXPECT_EQ(viMemAlloc(gpib, 16, &offset), VI_ERROR_NSUP_OPER);
}

TEST_F(VisaRegisters, AResetThroughTheControlRegisterRestartsTheModule) {
  ViSession module = open("VXI0::24::INSTR");
  ASSERT_EQ(testing::write_text(module, ":TRIG:COUN 5\n"), VI_SUCCESS);
  ASSERT_EQ(viOut16(module, VI_A16_SPACE, 4, 0x0001), VI_SUCCESS);
  ViUInt16 status = 0;
  ASSERT_EQ(viIn16(module, VI_A16_SPACE, 4, &status), VI_SUCCESS);
  EXPECT_EQ(status & 0x000C, 0);  // neither ready nor passed while held in reset
  ASSERT_EQ(viOut16(module, VI_A16_SPACE, 4, 0x0000), VI_SUCCESS);
  ASSERT_EQ(viIn16(module, VI_A16_SPACE, 4, &status), VI_SUCCESS);
  EXPECT_EQ(status, kStatusReady);
  EXPECT_EQ(query(module, ":TRIG:COUN?\n"), "1\n");
}

TEST_F(VisaRegisters, MovesReadManyRegistersOrOneManyTimes) {
  ViSession module = open("VXI0::16::INSTR");
  ViUInt16 words[4] = {};
  ASSERT_EQ(viMoveIn16(module, VI_A16_SPACE, 0, 4, words), VI_SUCCESS);
  EXPECT_EQ(words[0], kId);
  EXPECT_EQ(words[1], kDeviceType);
  EXPECT_EQ(words[2], kStatusReady);
  EXPECT_EQ(words[3], 0);
  ASSERT_EQ(viSetAttribute(module, VI_ATTR_SRC_INCREMENT, 0), VI_SUCCESS);  // as from a FIFO
  ASSERT_EQ(viMoveIn16Ex(module, VI_A16_SPACE, 2, 3, words), VI_SUCCESS);
  EXPECT_EQ(words[0], kDeviceType);
  EXPECT_EQ(words[2], kDeviceType);
  EXPECT_EQ(viMoveIn16(module, VI_A16_SPACE, 0, 4, VI_NULL), VI_ERROR_USER_BUF);
  ASSERT_EQ(viSetAttribute(module, VI_ATTR_SRC_INCREMENT, 1), VI_SUCCESS);
  EXPECT_EQ(viMoveIn16(module, VI_A16_SPACE, 60, 4, words), VI_ERROR_INV_OFFSET);  // runs past the end

  // viMove between the module and this process's memory.
  ViUInt32 local[2] = {};
  ASSERT_EQ(viMove(module, VI_A16_SPACE, 0, VI_WIDTH_32, VI_LOCAL_SPACE,
                   reinterpret_cast<ViBusAddress>(local), VI_WIDTH_32, 2),
            VI_SUCCESS);
  EXPECT_EQ(local[0], (ViUInt32{kId} << 16) | kDeviceType);
  EXPECT_EQ(viMove(module, VI_A16_SPACE, 0, VI_WIDTH_32, VI_LOCAL_SPACE,
                   reinterpret_cast<ViBusAddress>(local), VI_WIDTH_16, 2),
            VI_ERROR_NSUP_VAR_WIDTH);
  EXPECT_EQ(viMove(module, VI_A16_SPACE, 0, 3, VI_LOCAL_SPACE, reinterpret_cast<ViBusAddress>(local), 3, 1),
            VI_ERROR_INV_WIDTH);
  // viMoveAsync is done at once, and says so; its completion is still an event.
  ASSERT_EQ(viEnableEvent(module, VI_EVENT_IO_COMPLETION, VI_QUEUE, VI_NULL), VI_SUCCESS);
  ViJobId job = VI_NULL;
  EXPECT_EQ(viMoveAsync(module, VI_A16_SPACE, 0, VI_WIDTH_16, VI_LOCAL_SPACE,
                        reinterpret_cast<ViBusAddress>(words), VI_WIDTH_16, 1, &job),
            VI_SUCCESS_SYNC);
  ViEvent event = VI_NULL;
  ASSERT_EQ(viWaitOnEvent(module, VI_EVENT_IO_COMPLETION, 1000, VI_NULL, &event), VI_SUCCESS);
  ViJobId reported = VI_NULL;
  EXPECT_EQ(viGetAttribute(event, VI_ATTR_JOB_ID, &reported), VI_SUCCESS);
  EXPECT_EQ(reported, job);
  viClose(event);
}

TEST_F(VisaRegisters, AMappedWindowIsReachedWithPeekAndPoke) {
  ViSession module = open("VXI0::32::INSTR");
  ViAddr address = VI_NULL;
  EXPECT_EQ(viUnmapAddress(module), VI_ERROR_WINDOW_NMAPPED);
  EXPECT_EQ(viMapAddress(module, VI_A16_SPACE, 0, 0x80, VI_FALSE, VI_NULL, &address), VI_ERROR_INV_SIZE);
  EXPECT_EQ(viMapAddress(module, VI_A16_SPACE, 0, 0x40, VI_TRUE, VI_NULL, &address), VI_ERROR_INV_ACC_MODE);
  ASSERT_EQ(viMapAddress(module, VI_A16_SPACE, 0, 0x40, VI_FALSE, VI_NULL, &address), VI_SUCCESS);
  ASSERT_NE(address, nullptr);
  ViAddr second = VI_NULL;
  EXPECT_EQ(viMapAddress(module, VI_A16_SPACE, 0, 0x40, VI_FALSE, VI_NULL, &second), VI_ERROR_WINDOW_MAPPED);
  ViUInt16 access = 0;
  EXPECT_EQ(viGetAttribute(module, VI_ATTR_WIN_ACCESS, &access), VI_SUCCESS);
  EXPECT_EQ(access, VI_USE_OPERS);  // the window is reached through viPeek and viPoke only
  ViUInt16 value = 0;
  viPeek16(module, static_cast<char*>(address) + 2, &value);
  EXPECT_EQ(value, 0x0404);  // the model code of VXI0::32
  ViUInt32 value32 = 0;
  viPeek32(module, address, &value32);
  EXPECT_EQ(value32, (ViUInt32{kId} << 16) | 0x0404);
  viPoke16(module, static_cast<char*>(address) + 4, 0x0001);  // into reset ...
  viPeek16(module, static_cast<char*>(address) + 4, &value);
  EXPECT_EQ(value & 0x000C, 0);
  viPoke16(module, static_cast<char*>(address) + 4, 0x0000);  // ... and out again
  value = 0x5555;
  viPeek16(module, static_cast<char*>(address) + 0x40, &value);  // outside the window: nothing read
  EXPECT_EQ(value, 0x5555);
  ASSERT_EQ(viUnmapAddress(module), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(module, VI_ATTR_WIN_ACCESS, &access), VI_SUCCESS);
  EXPECT_EQ(access, VI_NMAPPED);
  ViSession gpib = open("GPIB0::10::INSTR");
  EXPECT_EQ(viMapAddress(gpib, VI_A16_SPACE, 0, 2, VI_FALSE, VI_NULL, &address), VI_ERROR_NSUP_OPER);
}

}  // namespace
}  // namespace pgx::visa
