#pragma once
// Forwarding to the system's VISA library, loaded with dlopen.

#include <memory>
#include <string>

#include "visa/visa.h"

namespace pgx::visa {

// Every function of the VISA API that a call can be forwarded with (the variadic ones go through their
// viV... forms).
#define PGX_VISA_FORWARDED_FUNCTIONS(X) \
  X(viOpenDefaultRM)                    \
  X(viFindRsrc)                         \
  X(viFindNext)                         \
  X(viParseRsrc)                        \
  X(viParseRsrcEx)                      \
  X(viOpen)                             \
  X(viClose)                            \
  X(viSetAttribute)                     \
  X(viGetAttribute)                     \
  X(viStatusDesc)                       \
  X(viTerminate)                        \
  X(viLock)                             \
  X(viUnlock)                           \
  X(viEnableEvent)                      \
  X(viDisableEvent)                     \
  X(viDiscardEvents)                    \
  X(viWaitOnEvent)                      \
  X(viInstallHandler)                   \
  X(viUninstallHandler)                 \
  X(viRead)                             \
  X(viReadAsync)                        \
  X(viReadToFile)                       \
  X(viWrite)                            \
  X(viWriteAsync)                       \
  X(viWriteFromFile)                    \
  X(viAssertTrigger)                    \
  X(viReadSTB)                          \
  X(viClear)                            \
  X(viSetBuf)                           \
  X(viFlush)                            \
  X(viBufWrite)                         \
  X(viBufRead)                          \
  X(viVPrintf)                          \
  X(viVSPrintf)                         \
  X(viVScanf)                           \
  X(viVSScanf)                          \
  X(viVQueryf)                          \
  X(viIn8)                              \
  X(viOut8)                             \
  X(viIn16)                             \
  X(viOut16)                            \
  X(viIn32)                             \
  X(viOut32)                            \
  X(viIn64)                             \
  X(viOut64)                            \
  X(viIn8Ex)                            \
  X(viOut8Ex)                           \
  X(viIn16Ex)                           \
  X(viOut16Ex)                          \
  X(viIn32Ex)                           \
  X(viOut32Ex)                          \
  X(viIn64Ex)                           \
  X(viOut64Ex)                          \
  X(viMoveIn8)                          \
  X(viMoveOut8)                         \
  X(viMoveIn16)                         \
  X(viMoveOut16)                        \
  X(viMoveIn32)                         \
  X(viMoveOut32)                        \
  X(viMoveIn64)                         \
  X(viMoveOut64)                        \
  X(viMoveIn8Ex)                        \
  X(viMoveOut8Ex)                       \
  X(viMoveIn16Ex)                       \
  X(viMoveOut16Ex)                      \
  X(viMoveIn32Ex)                       \
  X(viMoveOut32Ex)                      \
  X(viMoveIn64Ex)                       \
  X(viMoveOut64Ex)                      \
  X(viMove)                             \
  X(viMoveAsync)                        \
  X(viMoveEx)                           \
  X(viMoveAsyncEx)                      \
  X(viMapAddress)                       \
  X(viMapAddressEx)                     \
  X(viUnmapAddress)                     \
  X(viPeek8)                            \
  X(viPoke8)                            \
  X(viPeek16)                           \
  X(viPoke16)                           \
  X(viPeek32)                           \
  X(viPoke32)                           \
  X(viPeek64)                           \
  X(viPoke64)                           \
  X(viMemAlloc)                         \
  X(viMemAllocEx)                       \
  X(viMemFree)                          \
  X(viMemFreeEx)                        \
  X(viGpibControlREN)                   \
  X(viGpibControlATN)                   \
  X(viGpibSendIFC)                      \
  X(viGpibCommand)                      \
  X(viGpibPassControl)                  \
  X(viVxiCommandQuery)                  \
  X(viAssertUtilSignal)                 \
  X(viAssertIntrSignal)                 \
  X(viMapTrigger)                       \
  X(viUnmapTrigger)                     \
  X(viUsbControlOut)                    \
  X(viUsbControlIn)                     \
  X(viPxiReserveTriggers)

// The entry points of a loaded VISA library; a function the library lacks is null.
struct SystemVisa {
  std::string path;
  void* handle = nullptr;
#define PGX_VISA_ENTRY_POINT(name) decltype(&::name) name = nullptr;
  PGX_VISA_FORWARDED_FUNCTIONS(PGX_VISA_ENTRY_POINT)
#undef PGX_VISA_ENTRY_POINT
};

// The library that PGX_VISA_LIBRARY asks for. Returns null with status VI_SUCCESS when no system library
// is wanted (unset, empty, or "auto" and none of the usual names is installed). A library that cannot
// be loaded, lacks viOpenDefaultRM, or is this library itself or a copy of it gives
// VI_ERROR_LIBRARY_NFOUND and a message naming the path. Loaded libraries stay loaded for the life of the
// process.
std::shared_ptr<const SystemVisa> system_visa_from_environment(ViStatus& status, std::string& detail);
// True when the library loaded as `handle`, whose viOpenDefaultRM is `entry_point`, is a build of this VISA
// library (this file or a copy of it).
bool is_this_implementation(void* handle, const void* entry_point);
// Loads one library by path (or bare name, searched as dlopen does).
std::shared_ptr<const SystemVisa> load_system_visa(const std::string& path, ViStatus& status,
                                                   std::string& detail);

}  // namespace pgx::visa
