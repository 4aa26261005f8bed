#pragma once
// Forwarding to the system's VISA library, loaded with dlopen.

#include <memory>
#include <string>

#include "visa/visa.h"

namespace pgx::visa {

// The entry points of a loaded VISA library; a function the library lacks is null.
struct SystemVisa {
  std::string path;
  void* handle = nullptr;
  ViStatus (*viOpenDefaultRM)(ViPSession) = nullptr;
  ViStatus (*viFindRsrc)(ViSession, ViConstString, ViPFindList, ViPUInt32, ViChar*) = nullptr;
  ViStatus (*viFindNext)(ViFindList, ViChar*) = nullptr;
  ViStatus (*viParseRsrc)(ViSession, ViConstRsrc, ViPUInt16, ViPUInt16) = nullptr;
  ViStatus (*viParseRsrcEx)(ViSession, ViConstRsrc, ViPUInt16, ViPUInt16, ViChar*, ViChar*,
                            ViChar*) = nullptr;
  ViStatus (*viOpen)(ViSession, ViConstRsrc, ViAccessMode, ViUInt32, ViPSession) = nullptr;
  ViStatus (*viClose)(ViObject) = nullptr;
  ViStatus (*viSetAttribute)(ViObject, ViAttr, ViAttrState) = nullptr;
  ViStatus (*viGetAttribute)(ViObject, ViAttr, void*) = nullptr;
  ViStatus (*viStatusDesc)(ViObject, ViStatus, ViChar*) = nullptr;
  ViStatus (*viRead)(ViSession, ViPBuf, ViUInt32, ViPUInt32) = nullptr;
  ViStatus (*viWrite)(ViSession, ViConstBuf, ViUInt32, ViPUInt32) = nullptr;
  ViStatus (*viClear)(ViSession) = nullptr;
  ViStatus (*viReadSTB)(ViSession, ViPUInt16) = nullptr;
  ViStatus (*viFlush)(ViSession, ViUInt16) = nullptr;
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
