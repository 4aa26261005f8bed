// The VISA API on the built-in default bench: discovery, attributes, handles and message exchange.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

#include "visa/testing/default_bench_test.h"
#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using testing::query;
using testing::ResourceManager;

class VisaApi : public testing::DefaultBenchTest {
 protected:
  std::vector<std::string> find_all(const char* expression, ViStatus* status = nullptr) {
    std::vector<std::string> names;
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN];
    ViStatus rc = viFindRsrc(rm, expression, &list, &count, desc);
    if (status) *status = rc;
    if (rc < VI_SUCCESS) return names;
    names.push_back(desc);
    for (ViUInt32 i = 1; i < count; ++i) {
      EXPECT_EQ(viFindNext(list, desc), VI_SUCCESS);
      names.push_back(desc);
    }
    EXPECT_EQ(viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);  // the list is exhausted
    EXPECT_EQ(viClose(list), VI_SUCCESS);
    return names;
  }
};

const std::vector<std::string> kDefaultBench = {
    "VXI0::8::INSTR",   "VXI0::16::INSTR",  "VXI0::24::INSTR",  "VXI0::32::INSTR",  "GPIB0::10::INSTR",
    "GPIB0::11::INSTR", "GPIB0::12::INSTR", "GPIB0::13::INSTR", "GPIB0::22::INSTR",
};

TEST_F(VisaApi, DiscoveryOnTheDefaultBench) {
  struct Case {
    const char* expression;
    ViStatus status;
    std::size_t count;
  };
  const Case cases[] = {
      {"?*INSTR", VI_SUCCESS, 9},
      {"?*", VI_SUCCESS, 12},  // with GPIB0::INTFC, VXI0::0::BACKPLANE and VXI0::MEMACC
      {"GPIB?*INSTR", VI_SUCCESS, 5},
      {"VXI?*INSTR", VI_SUCCESS, 4},
      {"(GPIB|VXI)?*INSTR", VI_SUCCESS, 9},
      {"gpib0::1[0-3]::instr", VI_SUCCESS, 4},
      {"ASRL?*INSTR", VI_ERROR_RSRC_NFOUND, 0},
      {"?*SOCKET", VI_ERROR_RSRC_NFOUND, 0},
      {"(GPIB", VI_ERROR_INV_EXPR, 0},
      // Attribute filters select by what a session on the resource would report.
      {"?*INSTR{VI_ATTR_MANF_ID==0xFFF}", VI_SUCCESS, 4},
      {"?*{VI_ATTR_SLOT > 3 && VI_ATTR_SLOT <= 5}", VI_SUCCESS, 2},
      {"GPIB?*{VI_ATTR_GPIB_PRIMARY_ADDR == 22 || VI_ATTR_GPIB_PRIMARY_ADDR < 11}", VI_SUCCESS,
       3},  // the board is 0
      {"?*{VI_ATTR_MODEL_CODE == 0x0402}", VI_SUCCESS, 1},
      {"VXI?*{VI_ATTR_GPIB_PRIMARY_ADDR == 10}", VI_ERROR_RSRC_NFOUND, 0},
      {"?*INSTR{VI_ATTR_MANF_ID==0xFFF", VI_ERROR_INV_EXPR, 0},
      {"?*{VI_ATTR_NO_SUCH==1}", VI_ERROR_INV_EXPR, 0},
      {"", VI_ERROR_INV_EXPR, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expression);
    ViStatus status;
    auto names = find_all(c.expression, &status);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(names.size(), c.count);
  }
  EXPECT_EQ(find_all("?*INSTR"), kDefaultBench);
}

TEST_F(VisaApi, FindRsrcWithoutOutputsAndNoMatchLeavesNoList) {
  ViUInt32 count = 99;
  char desc[VI_FIND_BUFLEN] = "stale";
  EXPECT_EQ(viFindRsrc(rm, "?*INSTR", VI_NULL, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 9u);
  EXPECT_STREQ(desc, "VXI0::8::INSTR");
  ViFindList list = 123;
  EXPECT_EQ(viFindRsrc(rm, "USB?*", &list, &count, desc), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(list, VI_NULL);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(viFindRsrc(rm, VI_NULL, &list, &count, desc), VI_ERROR_INV_EXPR);
}

// The attribute table discovery reads, into a packed record of the widths it expects.
#pragma pack(push, 1)
struct AttributeRecord {
  ViUInt32 impl_version, lock_state, spec_version;
  ViUInt16 manf_id, intf_num, intf_type, gpib_primary, gpib_secondary;
  ViInt16 slot, vxi_la;
  ViUInt16 model_code;
  char guard[4];
};
#pragma pack(pop)

AttributeRecord read_record(ViSession vi, std::vector<ViStatus>& statuses) {
  AttributeRecord r;
  std::memset(&r, 0, sizeof r);
  std::memcpy(r.guard, "GARD", 4);
  r.manf_id = 4095;
  statuses = {
      viGetAttribute(vi, VI_ATTR_RSRC_IMPL_VERSION, &r.impl_version),
      viGetAttribute(vi, VI_ATTR_RSRC_LOCK_STATE, &r.lock_state),
      viGetAttribute(vi, VI_ATTR_RSRC_SPEC_VERSION, &r.spec_version),
      viGetAttribute(vi, VI_ATTR_INTF_NUM, &r.intf_num),
      viGetAttribute(vi, VI_ATTR_INTF_TYPE, &r.intf_type),
      viGetAttribute(vi, VI_ATTR_GPIB_PRIMARY_ADDR, &r.gpib_primary),
      viGetAttribute(vi, VI_ATTR_GPIB_SECONDARY_ADDR, &r.gpib_secondary),
      viGetAttribute(vi, VI_ATTR_SLOT, &r.slot),
      viGetAttribute(vi, VI_ATTR_VXI_LA, &r.vxi_la),
      viGetAttribute(vi, VI_ATTR_MODEL_CODE, &r.model_code),
  };
  return r;
}

TEST_F(VisaApi, AttributesExistPerInterface) {
  std::vector<ViStatus> st;
  ViSession gpib = open("GPIB0::12::INSTR");
  AttributeRecord g = read_record(gpib, st);
  const ViStatus ok = VI_SUCCESS, nsup = VI_ERROR_NSUP_ATTR;
  EXPECT_EQ(st, (std::vector<ViStatus>{ok, ok, ok, ok, ok, ok, ok, nsup, nsup, nsup}));
  EXPECT_EQ(g.intf_type, VI_INTF_GPIB);
  EXPECT_EQ(g.intf_num, 0);
  EXPECT_EQ(g.gpib_primary, 12);
  EXPECT_EQ(g.gpib_secondary, VI_NO_SEC_ADDR);
  EXPECT_EQ(g.slot, 0);  // untouched
  EXPECT_EQ(g.lock_state, static_cast<ViUInt32>(VI_NO_LOCK));
  EXPECT_EQ(g.spec_version, VI_SPEC_VERSION);
  EXPECT_EQ(std::memcmp(g.guard, "GARD", 4), 0);

  ViSession vxi = open("VXI0::16::INSTR");
  AttributeRecord v = read_record(vxi, st);
  EXPECT_EQ(st, (std::vector<ViStatus>{ok, ok, ok, ok, ok, nsup, nsup, ok, ok, ok}));
  EXPECT_EQ(v.intf_type, VI_INTF_VXI);
  EXPECT_EQ(v.gpib_primary, 0);
  EXPECT_EQ(v.slot, 3);
  EXPECT_EQ(v.vxi_la, 16);
  EXPECT_EQ(v.model_code, 0x0402);
  EXPECT_EQ(std::memcmp(v.guard, "GARD", 4), 0);
  ViUInt16 manf = 0;
  EXPECT_EQ(viGetAttribute(vxi, VI_ATTR_MANF_ID, &manf), VI_SUCCESS);
  EXPECT_EQ(manf, 0x0FFF);
  EXPECT_EQ(viGetAttribute(gpib, VI_ATTR_MANF_ID, &manf), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(viGetAttribute(gpib, VI_ATTR_TCPIP_PORT, &manf), VI_ERROR_NSUP_ATTR);

  char name[VI_FIND_BUFLEN];
  EXPECT_EQ(viGetAttribute(vxi, VI_ATTR_RSRC_NAME, name), VI_SUCCESS);
  EXPECT_STREQ(name, "VXI0::16::INSTR");
  EXPECT_EQ(viGetAttribute(gpib, VI_ATTR_RSRC_CLASS, name), VI_SUCCESS);
  EXPECT_STREQ(name, "INSTR");
  ViSession owner = VI_NULL;
  EXPECT_EQ(viGetAttribute(gpib, VI_ATTR_RM_SESSION, &owner), VI_SUCCESS);
  EXPECT_EQ(owner, rm.get());
}

TEST_F(VisaApi, SettingAttributes) {
  ViSession vi = open("GPIB0::10::INSTR");
  struct Case {
    ViAttr attr;
    ViAttrState value;
    ViStatus status;
  };
  const Case cases[] = {
      {VI_ATTR_TMO_VALUE, 5000, VI_SUCCESS},
      {VI_ATTR_TMO_VALUE, VI_TMO_INFINITE, VI_SUCCESS},
      {VI_ATTR_TMO_VALUE, 0x100000000ULL, VI_ERROR_NSUP_ATTR_STATE},
      {VI_ATTR_TERMCHAR, ',', VI_SUCCESS},
      {VI_ATTR_TERMCHAR, 256, VI_ERROR_NSUP_ATTR_STATE},
      {VI_ATTR_TERMCHAR_EN, VI_TRUE, VI_SUCCESS},
      {VI_ATTR_TERMCHAR_EN, 2, VI_ERROR_NSUP_ATTR_STATE},
      {VI_ATTR_SEND_END_EN, VI_FALSE, VI_SUCCESS},
      {VI_ATTR_IO_PROT, 99, VI_ERROR_NSUP_ATTR_STATE},
      {VI_ATTR_GPIB_PRIMARY_ADDR, 5, VI_ERROR_ATTR_READONLY},
      {VI_ATTR_RSRC_NAME, 0, VI_ERROR_ATTR_READONLY},
      {VI_ATTR_INTF_TYPE, VI_INTF_VXI, VI_ERROR_ATTR_READONLY},
      {VI_ATTR_SLOT, 3, VI_ERROR_NSUP_ATTR},
      {0x3FFF9999, 1, VI_ERROR_NSUP_ATTR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.attr << " = " << c.value);
    EXPECT_EQ(viSetAttribute(vi, c.attr, c.value), c.status);
  }
  ViUInt32 timeout = 0;
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
  EXPECT_EQ(timeout, VI_TMO_INFINITE);  // refused values left the last good one
  ViUInt16 primary = 0;
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_GPIB_PRIMARY_ADDR, &primary), VI_SUCCESS);
  EXPECT_EQ(primary, 10);
}

TEST_F(VisaApi, UnknownAndClosedHandlesAreInvalidObjects) {
  ViSession vi = open("GPIB0::10::INSTR");
  ASSERT_EQ(viClose(vi), VI_SUCCESS);
  char buf[VI_FIND_BUFLEN];
  ViUInt32 count = 0;
  ViUInt16 stb = 0;
  ViUInt32 value = 0;
  ViSession session = VI_NULL;
  for (ViObject handle : {vi, ViObject{0xDEADBEEF}, ViObject{1}}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(viWrite(handle, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &count), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viRead(handle, reinterpret_cast<ViPBuf>(buf), sizeof buf, &count), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(viClear(handle), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viReadSTB(handle, &stb), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viGetAttribute(handle, VI_ATTR_TMO_VALUE, &value), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viSetAttribute(handle, VI_ATTR_TMO_VALUE, 100), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viFindNext(handle, buf), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viFindRsrc(handle, "?*", VI_NULL, VI_NULL, buf), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viOpen(handle, "GPIB0::10::INSTR", VI_NULL, 0, &session), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viFlush(handle, VI_READ_BUF), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(handle), VI_ERROR_INV_OBJECT);
  }
  EXPECT_EQ(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
  // Operations on the wrong kind of object are refused, not misread.
  EXPECT_EQ(viRead(rm, reinterpret_cast<ViPBuf>(buf), sizeof buf, &count), VI_ERROR_NSUP_OPER);
  EXPECT_EQ(viReadSTB(rm, &stb), VI_ERROR_NSUP_OPER);
}

TEST_F(VisaApi, ClosingTheResourceManagerClosesItsSessionsAndFindLists) {
  ResourceManager other;
  ASSERT_EQ(other.status(), VI_SUCCESS);
  ViSession theirs = VI_NULL;
  ASSERT_EQ(viOpen(other, "GPIB0::11::INSTR", VI_NULL, 0, &theirs), VI_SUCCESS);

  ViSession ours = open("GPIB0::10::INSTR");
  ViFindList list = VI_NULL;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(viFindRsrc(rm, "?*INSTR", &list, &count, desc), VI_SUCCESS);
  ViSession manager = rm.get();
  ASSERT_EQ(viClose(manager), VI_SUCCESS);

  ViUInt32 timeout = 0;
  EXPECT_EQ(viGetAttribute(ours, VI_ATTR_TMO_VALUE, &timeout), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viFindNext(list, desc), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(manager), VI_ERROR_INV_OBJECT);
  // Another resource manager's session is not affected.
  EXPECT_NE(query(theirs, "*IDN?\n").find("DE52000011"), std::string::npos);

  ViSession reopened = VI_NULL;  // the fixture's manager must not close a handle it no longer owns
  ASSERT_EQ(viOpenDefaultRM(&reopened), VI_SUCCESS);
  EXPECT_NE(reopened, manager);  // handles are not reused
  viClose(reopened);
}

TEST_F(VisaApi, OpenRefusesWhatItCannotOpen) {
  struct Case {
    const char* name;
    ViAccessMode mode;
    ViStatus status;
  };
  const Case cases[] = {
      {"GPIB0::10::INSTR::extra", VI_NULL, VI_ERROR_INV_RSRC_NAME},
      {"nonsense", VI_NULL, VI_ERROR_INV_RSRC_NAME},
      {"GPIB0::5::INSTR", VI_NULL, VI_ERROR_RSRC_NFOUND},
      {"GPIB1::10::INSTR", VI_NULL, VI_ERROR_RSRC_NFOUND},
      {"ASRL1::INSTR", VI_NULL, VI_ERROR_RSRC_NFOUND},
      {"TCPIP0::localhost::inst0::INSTR", VI_NULL, VI_ERROR_NSUP_OPER},
      {"GPIB0::10::INSTR", 0x40, VI_ERROR_INV_ACC_MODE},
      {"GPIB0::10::INSTR", VI_SHARED_LOCK, VI_ERROR_INV_ACC_MODE},
      {"gpib::10", VI_LOAD_CONFIG, VI_SUCCESS},
      {"GPIB0::10::0::INSTR", VI_NULL, VI_SUCCESS},  // PyVISA writes every GPIB name with a secondary address
      {"GPIB0::10::1::INSTR", VI_NULL, VI_ERROR_RSRC_NFOUND},
      {"USB0::0x0957::0x1755::MY1::INSTR", VI_NULL, VI_ERROR_RSRC_NFOUND},
      {"PXI0::2-12.1::INSTR", VI_NULL, VI_ERROR_RSRC_NFOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViSession vi = 77;
    EXPECT_EQ(viOpen(rm, c.name, c.mode, 2500, &vi), c.status);
    if (c.status == VI_SUCCESS) {
      char name[VI_FIND_BUFLEN];
      viGetAttribute(vi, VI_ATTR_RSRC_NAME, name);
      EXPECT_STREQ(name, "GPIB0::10::INSTR");  // canonical
    } else {
      EXPECT_EQ(vi, VI_NULL);
    }
  }
  ViSession vi = VI_NULL;
  EXPECT_EQ(viOpen(rm, VI_NULL, VI_NULL, 0, &vi), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(viOpen(rm, "GPIB0::10::INSTR", VI_NULL, 0, VI_NULL), VI_ERROR_INV_PARAMETER);
}

TEST_F(VisaApi, EverySpellingOfAResourceParsesToTheNameTheBenchOffers) {
  for (const char* name : {"GPIB0::10::INSTR", "gpib::10", "GPIB0::10::0::INSTR", "GPIB::10::0"}) {
    SCOPED_TRACE(name);
    ViUInt16 type = 0, board = 9;
    char rsrc_class[VI_FIND_BUFLEN], expanded[VI_FIND_BUFLEN], alias[VI_FIND_BUFLEN] = "x";
    EXPECT_EQ(viParseRsrcEx(rm, name, &type, &board, rsrc_class, expanded, alias), VI_SUCCESS);
    EXPECT_EQ(type, VI_INTF_GPIB);
    EXPECT_EQ(board, 0);
    EXPECT_STREQ(rsrc_class, "INSTR");
    EXPECT_STREQ(expanded, "GPIB0::10::INSTR");
    EXPECT_STREQ(alias, "");
  }
}

TEST_F(VisaApi, AnExclusiveLockKeepsOtherSessionsOutUntilItsHolderCloses) {
  ViSession holder = VI_NULL, other = open("GPIB0::13::INSTR"), second = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB0::13::INSTR", VI_EXCLUSIVE_LOCK, 0, &holder), VI_SUCCESS);
  ViAccessMode state = VI_NO_LOCK;
  EXPECT_EQ(viGetAttribute(other, VI_ATTR_RSRC_LOCK_STATE, &state), VI_SUCCESS);
  EXPECT_EQ(state, static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK));
  ViUInt16 stb;
  EXPECT_EQ(testing::write_text(other, "*IDN?\n"), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(viReadSTB(other, &stb), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(viClear(other), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(viOpen(rm, "gpib0::13", VI_EXCLUSIVE_LOCK, 50, &second), VI_ERROR_RSRC_LOCKED);
  EXPECT_EQ(second, VI_NULL);
  EXPECT_NE(query(holder, "*IDN?\n").find("DE54000013"), std::string::npos);
  // Another resource is not affected.
  EXPECT_NE(query(open("GPIB0::10::INSTR"), "*IDN?\n").find("DE51000010"), std::string::npos);

  ASSERT_EQ(viClose(holder), VI_SUCCESS);
  EXPECT_NE(query(other, "*IDN?\n").find("DE54000013"), std::string::npos);
  EXPECT_EQ(viGetAttribute(other, VI_ATTR_RSRC_LOCK_STATE, &state), VI_SUCCESS);
  EXPECT_EQ(state, static_cast<ViAccessMode>(VI_NO_LOCK));
  EXPECT_EQ(viOpen(rm, "GPIB0::13::INSTR", VI_EXCLUSIVE_LOCK, 0, &second), VI_SUCCESS);
}

TEST_F(VisaApi, AnExclusiveOpenWaitingWhenItsResourceManagerClosesFailsAndHoldsNothing) {
  ViSession holder = VI_NULL;
  ASSERT_EQ(viOpen(rm, "VXI0::32::INSTR", VI_EXCLUSIVE_LOCK, 0, &holder), VI_SUCCESS);
  ViSession other = VI_NULL;
  ASSERT_EQ(viOpenDefaultRM(&other), VI_SUCCESS);
  std::atomic<ViStatus> status{VI_SUCCESS};
  ViSession waiter = 77;
  std::thread waiting(
      [&] { status = viOpen(other, "VXI0::32::INSTR", VI_EXCLUSIVE_LOCK, VI_TMO_INFINITE, &waiter); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it wait for the lock
  ASSERT_EQ(viClose(other), VI_SUCCESS);
  ASSERT_EQ(viClose(holder), VI_SUCCESS);
  waiting.join();
  EXPECT_EQ(status, VI_ERROR_INV_OBJECT);
  EXPECT_EQ(waiter, VI_NULL);
  // The lock is free for everyone else.
  ViSession next = VI_NULL;
  EXPECT_EQ(viOpen(rm, "VXI0::32::INSTR", VI_EXCLUSIVE_LOCK, 0, &next), VI_SUCCESS);
  ViSession shared = open("VXI0::32::INSTR");
  ASSERT_EQ(viClose(next), VI_SUCCESS);
  EXPECT_NE(query(shared, "*IDN?\n").find("DE40400004"), std::string::npos);
}

TEST_F(VisaApi, ParseRsrcGivesInterfaceAndCanonicalName) {
  ViUInt16 type = 0, board = 9;
  char rsrc_class[VI_FIND_BUFLEN], expanded[VI_FIND_BUFLEN], alias[VI_FIND_BUFLEN];
  EXPECT_EQ(viParseRsrc(rm, "tcpip::h::5025::socket", &type, &board), VI_SUCCESS);
  EXPECT_EQ(type, VI_INTF_TCPIP);
  EXPECT_EQ(board, 0);
  EXPECT_EQ(viParseRsrcEx(rm, "GPIB-VXI2::8", &type, &board, rsrc_class, expanded, alias), VI_SUCCESS);
  EXPECT_EQ(type, VI_INTF_GPIB_VXI);
  EXPECT_EQ(board, 2);
  EXPECT_STREQ(rsrc_class, "INSTR");
  EXPECT_STREQ(expanded, "GPIB-VXI2::8::INSTR");
  EXPECT_STREQ(alias, "");
  EXPECT_EQ(viParseRsrc(rm, "GPIB0::99::INSTR", &type, &board), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(viParseRsrc(rm, VI_NULL, &type, &board), VI_ERROR_INV_RSRC_NAME);
}

TEST_F(VisaApi, StatusDescriptions) {
  char desc[VI_FIND_BUFLEN];
  EXPECT_EQ(viStatusDesc(rm, VI_ERROR_TMO, desc), VI_SUCCESS);
  EXPECT_STREQ(desc, "Timeout expired before operation completed.");
  EXPECT_EQ(viStatusDesc(rm, VI_ERROR_NSUP_ATTR, desc), VI_SUCCESS);
  EXPECT_NE(std::string(desc).find("attribute"), std::string::npos);
  EXPECT_EQ(viStatusDesc(rm, static_cast<ViStatus>(0xBFFF7777), desc), VI_WARN_UNKNOWN_STATUS);
  EXPECT_NE(std::string(desc).find("BFFF7777"), std::string::npos);
  EXPECT_EQ(viStatusDesc(rm, VI_SUCCESS, VI_NULL), VI_ERROR_INV_PARAMETER);

  // A failure's detail belongs to that failure only.
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB0::5::INSTR", VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
  viStatusDesc(rm, VI_ERROR_RSRC_NFOUND, desc);
  EXPECT_NE(std::string(desc).find("GPIB0::5::INSTR is not on the bench"), std::string::npos) << desc;
  ASSERT_EQ(viFindRsrc(rm, "USB?*", VI_NULL, VI_NULL, VI_NULL), VI_ERROR_RSRC_NFOUND);
  viStatusDesc(rm, VI_ERROR_RSRC_NFOUND, desc);
  EXPECT_EQ(std::string(desc).find("GPIB0::5"), std::string::npos) << desc;
  // ... and is not added to the description of the success that followed it.
  ASSERT_EQ(viOpen(rm, "GPIB0::5::INSTR", VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
  ViUInt32 timeout = 0;
  ASSERT_EQ(viGetAttribute(rm, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
  viStatusDesc(rm, VI_SUCCESS, desc);
  EXPECT_STREQ(desc, "Operation completed successfully.");
}

// Every completion and error code that visa.h defines has its standard text.
TEST_F(VisaApi, EveryStandardStatusHasItsDescription) {
  std::ifstream header(PGX_SOURCE_DIR "/visa/visa.h");
  ASSERT_TRUE(header) << "visa.h not found";
  const std::regex code(R"(#define (VI_(SUCCESS|WARN|ERROR)\w*) .*?(_VI_ERROR \+ )?0x([0-9A-F]{8})L)");
  int seen = 0;
  for (std::string line; std::getline(header, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, code)) continue;
    auto status = static_cast<ViStatus>(std::stoul(m[4], nullptr, 16) | (m[3].matched ? 0x80000000u : 0));
    char desc[VI_FIND_BUFLEN] = "";
    EXPECT_EQ(viStatusDesc(rm, status, desc), VI_SUCCESS) << m[1];
    EXPECT_GT(std::strlen(desc), 10u) << m[1];
    ++seen;
  }
  EXPECT_GT(seen, 90);
}

// What the documentation lists as settable is, in range; what a session does not have is refused as such.
TEST_F(VisaApi, AttributesAreSettableAsDocumented) {
  ViSession gpib = open("GPIB0::10::INSTR"), vxi = open("VXI0::8::INSTR"), board = open("GPIB0::INTFC");
  struct Case {
    ViSession session;
    ViAttr attr;
    ViAttrState value;
    ViStatus status;
  };
  const Case cases[] = {
      {gpib, VI_ATTR_TMO_VALUE, 5, VI_SUCCESS},
      {gpib, VI_ATTR_MAX_QUEUE_LENGTH, 10, VI_SUCCESS},
      {gpib, VI_ATTR_MAX_QUEUE_LENGTH, 0, VI_ERROR_NSUP_ATTR_STATE},
      {gpib, VI_ATTR_USER_DATA, 0x1234567890ull, VI_SUCCESS},
      {gpib, VI_ATTR_USER_DATA_32, 7, VI_SUCCESS},
      {gpib, VI_ATTR_TERMCHAR, '\r', VI_SUCCESS},
      {gpib, VI_ATTR_TERMCHAR, 0x100, VI_ERROR_NSUP_ATTR_STATE},
      {gpib, VI_ATTR_TERMCHAR_EN, VI_TRUE, VI_SUCCESS},
      {gpib, VI_ATTR_TERMCHAR_EN, 2, VI_ERROR_NSUP_ATTR_STATE},
      {gpib, VI_ATTR_SEND_END_EN, VI_FALSE, VI_SUCCESS},
      {gpib, VI_ATTR_SUPPRESS_END_EN, VI_TRUE, VI_SUCCESS},
      {gpib, VI_ATTR_IO_PROT, VI_PROT_4882_STRS, VI_SUCCESS},
      {gpib, VI_ATTR_RD_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS, VI_SUCCESS},
      {gpib, VI_ATTR_RD_BUF_OPER_MODE, VI_FLUSH_WHEN_FULL, VI_ERROR_NSUP_ATTR_STATE},
      {gpib, VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS, VI_SUCCESS},
      {gpib, VI_ATTR_FILE_APPEND_EN, VI_TRUE, VI_SUCCESS},
      {gpib, VI_ATTR_GPIB_READDR_EN, VI_FALSE, VI_SUCCESS},
      {gpib, VI_ATTR_GPIB_UNADDR_EN, VI_TRUE, VI_SUCCESS},
      {gpib, VI_ATTR_TRIG_ID, static_cast<ViAttrState>(VI_TRIG_SW), VI_SUCCESS},
      {gpib, VI_ATTR_TRIG_ID, 0xFFFF, VI_SUCCESS},  // -1 in 16 bits, as some callers give it
      {gpib, VI_ATTR_TRIG_ID, VI_TRIG_TTL0, VI_ERROR_NSUP_ATTR_STATE},
      {gpib, VI_ATTR_GPIB_PRIMARY_ADDR, 3, VI_ERROR_ATTR_READONLY},
      {gpib, VI_ATTR_RD_BUF_SIZE, 100, VI_ERROR_ATTR_READONLY},
      {gpib, VI_ATTR_GPIB_REN_STATE, 1, VI_ERROR_ATTR_READONLY},
      {gpib, VI_ATTR_SRC_BYTE_ORDER, VI_LITTLE_ENDIAN, VI_ERROR_NSUP_ATTR},  // no registers
      {gpib, 0x3FFF7777, 1, VI_ERROR_NSUP_ATTR},
      {vxi, VI_ATTR_SRC_BYTE_ORDER, VI_LITTLE_ENDIAN, VI_SUCCESS},
      {vxi, VI_ATTR_DEST_INCREMENT, 0, VI_SUCCESS},
      {vxi, VI_ATTR_WIN_ACCESS_PRIV, VI_PROG_PRIV, VI_SUCCESS},
      {vxi, VI_ATTR_TRIG_ID, VI_TRIG_ECL1, VI_SUCCESS},
      {vxi, VI_ATTR_TRIG_ID, VI_TRIG_ECL1 + 1, VI_ERROR_NSUP_ATTR_STATE},
      {vxi, VI_ATTR_WIN_ACCESS, VI_USE_OPERS, VI_ERROR_ATTR_READONLY},
      {vxi, VI_ATTR_GPIB_READDR_EN, VI_TRUE, VI_ERROR_NSUP_ATTR},
      {board, VI_ATTR_DEV_STATUS_BYTE, 0x41, VI_SUCCESS},
      {board, VI_ATTR_GPIB_CIC_STATE, VI_FALSE, VI_ERROR_ATTR_READONLY},
      {rm, VI_ATTR_TMO_VALUE, 100, VI_SUCCESS},
      {rm, VI_ATTR_TERMCHAR, '\n', VI_ERROR_NSUP_ATTR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.attr) + " = " + std::to_string(c.value));
    EXPECT_EQ(viSetAttribute(c.session, c.attr, c.value), c.status);
  }
  // The user data is one value in two widths.
  ASSERT_EQ(viSetAttribute(gpib, VI_ATTR_USER_DATA_64, 0x1122334455667788ull), VI_SUCCESS);
  ViUInt32 low = 0;
  EXPECT_EQ(viGetAttribute(gpib, VI_ATTR_USER_DATA_32, &low), VI_SUCCESS);
  EXPECT_EQ(low, 0x55667788u);
  ViInt16 trigger = 0;
  EXPECT_EQ(viGetAttribute(gpib, VI_ATTR_TRIG_ID, &trigger), VI_SUCCESS);
  EXPECT_EQ(trigger, VI_TRIG_SW);
}

TEST_F(VisaApi, QueriesReachTheRightInstrument) {
  struct Case {
    const char* name;
    const char* serial;
    bool pulse_generator;
  };
  const Case cases[] = {
      {"VXI0::8::INSTR", "DE40100001", true},    {"VXI0::32::INSTR", "DE40400004", true},
      {"GPIB0::10::INSTR", "DE51000010", true},  {"GPIB0::13::INSTR", "DE54000013", true},
      {"GPIB0::22::INSTR", "MY22000022", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViSession vi = open(c.name);
    ViStatus status;
    std::string idn = query(vi, "*IDN?\n", &status);
    EXPECT_EQ(status, VI_SUCCESS);
    EXPECT_NE(idn.find(c.serial), std::string::npos) << idn;
    EXPECT_EQ(idn.rfind("PGX Instruments,", 0) == 0, c.pulse_generator) << idn;
    EXPECT_EQ(idn.back(), '\n');
  }
}

TEST_F(VisaApi, ReadsEndAtEndOfMessageTermCharOrCount) {
  ViSession vi = open("GPIB0::10::INSTR");
  // END on the last byte terminates a message that has no newline.
  ASSERT_EQ(testing::write_text(vi, "*IDN?"), VI_SUCCESS);
  char buf[8];
  ViUInt32 count = 0;
  EXPECT_EQ(viRead(vi, reinterpret_cast<ViPBuf>(buf), 4, &count), VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(std::string(buf, count), "PGX ");
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, ','), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
  std::string part;
  ViStatus status;
  part = testing::read_text(vi, &status);
  EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
  EXPECT_EQ(part, "Instruments,");
  part = testing::read_text(vi, &status);
  EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
  EXPECT_EQ(part, "Q500A,");
  part = testing::read_text(vi, &status);
  EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
  EXPECT_EQ(part, "DE51000010,");
  part = testing::read_text(vi, &status);
  EXPECT_EQ(status, VI_SUCCESS);  // the rest up to END
  EXPECT_EQ(part.back(), '\n');
  // Nothing more is pending: an immediate time-out reports it at once.
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_IMMEDIATE), VI_SUCCESS);
  testing::read_text(vi, &status);
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_EQ(viRead(vi, VI_NULL, 10, &count), VI_ERROR_USER_BUF);
}

TEST_F(VisaApi, AReplyReadInSmallPiecesAtATermCharStillEndsAtItsEnd) {
  ViSession vi = open("GPIB0::10::INSTR");
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, ','), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
  ASSERT_EQ(testing::write_text(vi, "*IDN?\n"), VI_SUCCESS);
  // The first read takes the whole reply from the instrument and keeps what follows the first comma; the
  // later ones take that rest in pieces smaller than itself, each ending at a comma or at the reply's end.
  struct Step {
    ViUInt32 max;
    const char* bytes;
    ViStatus status;
  };
  const Step steps[] = {
      {4096, "PGX Instruments,", VI_SUCCESS_TERM_CHAR},
      {8, "Q500A,", VI_SUCCESS_TERM_CHAR},
      {4, "DE51", VI_SUCCESS_MAX_CNT},
      {16, "000010,", VI_SUCCESS_TERM_CHAR},
      {2, "1.", VI_SUCCESS_MAX_CNT},
      {16, "0\n", VI_SUCCESS},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.bytes);
    ViStatus status;
    EXPECT_EQ(testing::read_text(vi, &status, step.max), step.bytes);
    EXPECT_EQ(status, step.status);
  }
}

TEST_F(VisaApi, InstrumentStateOutlivesSessionsAndResourceManagers) {
  ViSession vi = open("GPIB0::11::INSTR");
  ASSERT_EQ(testing::write_text(vi, "*ESE 36\n"), VI_SUCCESS);
  viClose(rm.get());
  ResourceManager next;
  ViSession again = VI_NULL;
  ASSERT_EQ(viOpen(next, "GPIB0::11::INSTR", VI_NULL, 0, &again), VI_SUCCESS);
  EXPECT_EQ(query(again, "*ESE?\n"), "36\n");
}

TEST_F(VisaApi, ClearAndSerialPoll) {
  ViSession vi = open("VXI0::24::INSTR");
  ASSERT_EQ(testing::write_text(vi, "*IDN?\n"), VI_SUCCESS);
  ViUInt16 stb = 0;
  ASSERT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
  EXPECT_TRUE(stb & 0x10) << "MAV while a reply waits, got " << stb;
  ASSERT_EQ(viClear(vi), VI_SUCCESS);
  ASSERT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
  EXPECT_FALSE(stb & 0x10) << "the clear discarded the reply, got " << stb;
  EXPECT_EQ(viReadSTB(vi, VI_NULL), VI_ERROR_INV_PARAMETER);
  EXPECT_NE(query(vi, "*IDN?\n").find("DE40300003"), std::string::npos);
}

TEST_F(VisaApi, ConcurrentSessionsOnOneInstrumentEachGetWholeReplies) {
  const std::string expected = query(open("GPIB0::12::INSTR"), "*IDN?\n");
  ASSERT_FALSE(expected.empty());
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      ViSession vi = VI_NULL;
      if (viOpen(rm, "GPIB0::12::INSTR", VI_NULL, 2500, &vi) != VI_SUCCESS) {
        ++bad;
        return;
      }
      for (int i = 0; i < 200; ++i)
        if (query(vi, "*IDN?\n") != expected) ++bad;
      viClose(vi);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad, 0);
}

TEST_F(VisaApi, ClosingWhileAnotherThreadUsesTheSessionIsSafe) {
  ViSession vi = open("VXI0::8::INSTR");
  std::thread user([&] {
    for (;;) {
      ViStatus status;
      query(vi, "*IDN?\n", &status);
      if (status == VI_ERROR_INV_OBJECT) return;  // closed under it: reported, not crashed
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(viClose(rm.get()), VI_SUCCESS);
  user.join();
  char buf[8];
  ViUInt32 count;
  EXPECT_EQ(viRead(vi, reinterpret_cast<ViPBuf>(buf), sizeof buf, &count), VI_ERROR_INV_OBJECT);
}

}  // namespace
}  // namespace pgx::visa
