// Forwarding every call to a system VISA library named by PGX_VISA_LIBRARY.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using testing::query;
using testing::ScopedEnv;

std::string description(ViStatus status) {
  char desc[VI_FIND_BUFLEN];
  viStatusDesc(VI_NULL, status, desc);
  return desc;
}

TEST(VisaSystemLibrary, EveryCallIsForwarded) {
  ScopedEnv library("PGX_VISA_LIBRARY", STAND_IN_VISA);
  ViSession rm = VI_NULL;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  ViFindList list = VI_NULL;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(viFindRsrc(rm, "?*INSTR", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(desc, "GPIB7::1::INSTR");
  ASSERT_EQ(viFindNext(list, desc), VI_SUCCESS);
  EXPECT_STREQ(desc, "GPIB7::2::INSTR");
  EXPECT_EQ(viFindRsrc(rm, "VXI?*", &list, &count, desc), VI_ERROR_RSRC_NFOUND);

  ViUInt16 type = 0, board = 0;
  EXPECT_EQ(viParseRsrc(rm, "anything", &type, &board), VI_SUCCESS);
  EXPECT_EQ(board, 7);

  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB7::1::INSTR", VI_NULL, 2500, &vi), VI_SUCCESS);
  EXPECT_EQ(query(vi, "*IDN?\n"), "STAND-IN:*IDN?\n");
  ViUInt32 timeout = 0;
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
  EXPECT_EQ(timeout, 1234u);
  ViSession owner = VI_NULL;
  EXPECT_EQ(viGetAttribute(vi, VI_ATTR_RM_SESSION, &owner), VI_SUCCESS);
  EXPECT_EQ(owner, rm);  // our handle, not the library's
  ViUInt16 stb = 0;
  EXPECT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
  EXPECT_EQ(stb, 0x40);
  EXPECT_EQ(viStatusDesc(vi, VI_ERROR_TMO, desc), VI_SUCCESS);
  EXPECT_STREQ(desc, "stand-in status 0xBFFF0015");

  // A function the library lacks.
  EXPECT_EQ(viFlush(vi, VI_READ_BUF), VI_ERROR_LIBRARY_NFOUND);
  EXPECT_NE(description(VI_ERROR_LIBRARY_NFOUND).find(std::string(STAND_IN_VISA) + " has no viFlush"),
            std::string::npos);

  // Closing the resource manager closes what it owns.
  ASSERT_EQ(viClose(rm), VI_SUCCESS);
  EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viFindNext(list, desc), VI_ERROR_INV_OBJECT);
}

// An application's handler: what it was given, as our handles.
struct SeenByHandler {
  ViSession vi = VI_NULL;
  ViEventType type_of_event = 0;
  static ViStatus _VI_FUNCH handle(ViSession vi, ViEventType, ViEvent event, ViAddr user) {
    auto* self = static_cast<SeenByHandler*>(user);
    self->vi = vi;
    viGetAttribute(event, VI_ATTR_EVENT_TYPE, &self->type_of_event);
    return VI_SUCCESS;
  }
};

TEST(VisaSystemLibrary, LocksEventsAndHandlersAreForwardedWithOurHandles) {
  ScopedEnv library("PGX_VISA_LIBRARY", STAND_IN_VISA);
  testing::ResourceManager rm;
  ASSERT_EQ(rm.status(), VI_SUCCESS);
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB7::1::INSTR", VI_NULL, 2500, &vi), VI_SUCCESS);
  char key[VI_FIND_BUFLEN] = "";
  EXPECT_EQ(viLock(vi, VI_SHARED_LOCK, 0, "bench 3", key), VI_SUCCESS);
  EXPECT_STREQ(key, "bench 3");
  EXPECT_EQ(viUnlock(vi), VI_SUCCESS);

  // The library calls its handler with its own handles; ours is given ours.
  SeenByHandler seen;
  ASSERT_EQ(viInstallHandler(vi, VI_EVENT_SERVICE_REQ, &SeenByHandler::handle, &seen), VI_SUCCESS);
  ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_HNDLR | VI_QUEUE, VI_NULL), VI_SUCCESS);
  ASSERT_EQ(testing::write_text(vi, "*OPC"), VI_SUCCESS);
  EXPECT_EQ(seen.vi, vi);
  EXPECT_EQ(seen.type_of_event, VI_EVENT_SERVICE_REQ);  // the library's event 77, reached through ours
  ViEvent event = VI_NULL;
  ViEventType type = 0;
  ASSERT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 0, &type, &event), VI_SUCCESS);
  EXPECT_NE(event, VI_NULL);
  EXPECT_NE(event, 88u);  // our handle of the library's event 88
  ViEventType reported = 0;
  EXPECT_EQ(viGetAttribute(event, VI_ATTR_EVENT_TYPE, &reported), VI_SUCCESS);
  EXPECT_EQ(reported, VI_EVENT_SERVICE_REQ + 0x100);
  EXPECT_EQ(viClose(event), VI_SUCCESS);
  EXPECT_EQ(viUninstallHandler(vi, VI_EVENT_SERVICE_REQ, &SeenByHandler::handle, &seen), VI_SUCCESS);
  EXPECT_EQ(viUninstallHandler(vi, VI_EVENT_SERVICE_REQ, &SeenByHandler::handle, &seen),
            VI_ERROR_INV_HNDLR_REF);
  // What the library lacks is reported as lacking.
  EXPECT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT), VI_ERROR_LIBRARY_NFOUND);
  EXPECT_NE(description(VI_ERROR_LIBRARY_NFOUND).find("has no viAssertTrigger"), std::string::npos);
}

TEST(VisaSystemLibrary, AnExceptionFromTheLibraryIsASystemErrorThatKeepsItsMessageForThatFailureOnly) {
  ScopedEnv library("PGX_VISA_LIBRARY", STAND_IN_VISA);
  testing::ResourceManager rm;
  ASSERT_EQ(rm.status(), VI_SUCCESS);
  ViSession vi = VI_NULL;
  ASSERT_EQ(viOpen(rm, "GPIB7::1::INSTR", VI_NULL, 2500, &vi), VI_SUCCESS);
  const std::string plain = "Unknown system error (miscellaneous error).";

  EXPECT_EQ(testing::write_text(vi, "throw:relay board 3 does not answer"), VI_ERROR_SYSTEM_ERROR);
  std::string described = description(VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(described.rfind(plain, 0), 0u) << described;
  EXPECT_NE(described.find("relay board 3 does not answer"), std::string::npos) << described;

  // A failure without a message of its own shows none, not the one before it.
  EXPECT_EQ(testing::write_text(vi, "throw-int"), VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(description(VI_ERROR_SYSTEM_ERROR), plain);
  // Nor does any status after a call that succeeded.
  EXPECT_EQ(testing::write_text(vi, "throw:again"), VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(query(vi, "*IDN?\n"), "STAND-IN:*IDN?\n");
  EXPECT_EQ(description(VI_ERROR_SYSTEM_ERROR), plain);
  EXPECT_EQ(description(VI_SUCCESS), "Operation completed successfully.");
}

TEST(VisaSystemLibrary, LibrariesThatCannotServeAreRefusedNamingThePath) {
  struct Case {
    const char* path;
    const char* message;
  };
  const Case cases[] = {
      {"/nonexistent/libvisa.so", "cannot load VISA library /nonexistent/libvisa.so"},
      {"libm.so.6", "libm.so.6 is not a VISA library"},
      {PGXVISA_ITSELF, "is this library itself"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ScopedEnv library("PGX_VISA_LIBRARY", c.path);
    ViSession rm = 9;
    EXPECT_EQ(viOpenDefaultRM(&rm), VI_ERROR_LIBRARY_NFOUND);
    EXPECT_EQ(rm, VI_NULL);
    EXPECT_NE(description(VI_ERROR_LIBRARY_NFOUND).find(c.message), std::string::npos)
        << description(VI_ERROR_LIBRARY_NFOUND);
  }
}

TEST(VisaSystemLibrary, ALibraryThatLeadsBackIntoThisOneIsRefusedInsteadOfRecursing) {
  testing::TempDir dir;
  std::string copy = dir.file("libvisa-copy.so");
  std::filesystem::copy_file(PGXVISA_ITSELF, copy);
  struct Case {
    std::string path;
    const char* message;
  };
  const Case cases[] = {
      {copy, "is a copy of this VISA library"},
      {FORWARDING_BACK_VISA, "leads back into this VISA library"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ScopedEnv library("PGX_VISA_LIBRARY", c.path);
    for (int attempt = 0; attempt < 2; ++attempt) {  // refused again, not only the first time
      ViSession rm = 9;
      EXPECT_EQ(viOpenDefaultRM(&rm), VI_ERROR_LIBRARY_NFOUND);
      EXPECT_EQ(rm, VI_NULL);
      std::string described = description(VI_ERROR_LIBRARY_NFOUND);
      EXPECT_NE(described.find(c.path), std::string::npos) << described;
      EXPECT_NE(described.find(c.message), std::string::npos) << described;
    }
  }
}

TEST(VisaSystemLibrary, AutoFallsBackToTheBuiltInBenchWhenNoneIsInstalled) {
  if (void* installed = dlopen("libvisa.so", RTLD_LAZY)) {
    dlclose(installed);
    GTEST_SKIP() << "a system VISA library is installed";
  }
  ScopedEnv library("PGX_VISA_LIBRARY", "auto");
  ScopedEnv bench("PGX_VISA_BENCH", "");
  testing::ResourceManager rm;
  ASSERT_EQ(rm.status(), VI_SUCCESS);
  ViUInt32 count = 0;
  EXPECT_EQ(viFindRsrc(rm, "?*INSTR", VI_NULL, &count, VI_NULL), VI_SUCCESS);
  EXPECT_EQ(count, 9u);
}

}  // namespace
}  // namespace pgx::visa
