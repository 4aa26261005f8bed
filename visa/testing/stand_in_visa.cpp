// A stand-in for a system VISA library, loaded by the forwarding tests in place of a vendor's library.
// It serves one resource manager, two resources and sessions that echo what was written to them; its
// sessions take locks (any key) and have one kind of event, a service request that each viWrite raises:
// queued for viWaitOnEvent, and handed at once to the handler installed, with its own event handle 77.
// viFlush and viParseRsrcEx are deliberately missing. Like a faulty vendor library, its viWrite throws when
// told to: "throw:<message>" throws std::runtime_error(message), "throw-int" throws an int.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "visa/visa.h"

namespace {

constexpr ViSession kManager = 42;
constexpr ViFindList kFindList = 43;
std::map<ViSession, std::string> g_written;  // session -> last bytes written
struct Events {
  bool queue = false, handler_enabled = false;
  int queued = 0;
  ViHndlr handler = nullptr;
  ViAddr user_handle = nullptr;
};
std::map<ViSession, Events> g_events;
constexpr ViEvent kHandlerEvent = 77, kQueuedEvent = 88;
ViSession g_next_session = 100;
int g_find_next = 0;

void copy(ViChar* out, const std::string& text) {
  if (out) std::snprintf(out, VI_FIND_BUFLEN, "%s", text.c_str());
}

}  // namespace

extern "C" {

ViStatus viOpenDefaultRM(ViPSession vi) {
  *vi = kManager;
  return VI_SUCCESS;
}

ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt, ViChar desc[]) {
  if (sesn != kManager) return VI_ERROR_INV_OBJECT;
  if (std::strcmp(expr, "?*INSTR") != 0) return VI_ERROR_RSRC_NFOUND;
  if (vi) *vi = kFindList;
  if (retCnt) *retCnt = 2;
  copy(desc, "GPIB7::1::INSTR");
  g_find_next = 2;
  return VI_SUCCESS;
}

ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
  if (vi != kFindList) return VI_ERROR_INV_OBJECT;
  if (g_find_next > 2) return VI_ERROR_RSRC_NFOUND;
  copy(desc, "GPIB7::" + std::to_string(g_find_next++) + "::INSTR");
  return VI_SUCCESS;
}

ViStatus viParseRsrc(ViSession, ViConstRsrc, ViPUInt16 intfType, ViPUInt16 intfNum) {
  *intfType = VI_INTF_GPIB;
  *intfNum = 7;
  return VI_SUCCESS;
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode, ViUInt32, ViPSession vi) {
  if (sesn != kManager) return VI_ERROR_INV_OBJECT;
  if (std::strncmp(name, "GPIB7::", 7) != 0) return VI_ERROR_RSRC_NFOUND;
  *vi = g_next_session++;
  g_written[*vi] = "";
  return VI_SUCCESS;
}

ViStatus viClose(ViObject vi) {
  if (vi == kManager || vi == kFindList || vi == kQueuedEvent) return VI_SUCCESS;
  return g_written.erase(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus viSetAttribute(ViObject, ViAttr attr, ViAttrState) {
  return attr == VI_ATTR_TMO_VALUE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR;
}

ViStatus viGetAttribute(ViObject vi, ViAttr attr, void* value) {
  if (attr == VI_ATTR_TMO_VALUE) {
    ViUInt32 timeout = 1234;
    std::memcpy(value, &timeout, sizeof timeout);
    return VI_SUCCESS;
  }
  if (attr == VI_ATTR_EVENT_TYPE && (vi == kHandlerEvent || vi == kQueuedEvent)) {
    ViEventType type = VI_EVENT_SERVICE_REQ + (vi == kHandlerEvent ? 0 : 0x100);  // tells the two apart
    std::memcpy(value, &type, sizeof type);
    return VI_SUCCESS;
  }
  if (attr == VI_ATTR_RM_SESSION && vi != kManager) {
    ViSession manager = kManager;
    std::memcpy(value, &manager, sizeof manager);
    return VI_SUCCESS;
  }
  return VI_ERROR_NSUP_ATTR;
}

ViStatus viStatusDesc(ViObject, ViStatus status, ViChar desc[]) {
  char text[64];
  std::snprintf(text, sizeof text, "stand-in status 0x%08X", static_cast<unsigned>(status));
  copy(desc, text);
  return VI_SUCCESS;
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  auto it = g_written.find(vi);
  if (it == g_written.end()) return VI_ERROR_INV_OBJECT;
  it->second.assign(reinterpret_cast<const char*>(buf), cnt);
  if (it->second.rfind("throw:", 0) == 0) throw std::runtime_error(it->second.substr(6));
  if (it->second == "throw-int") throw 42;
  if (retCnt) *retCnt = cnt;
  Events& events = g_events[vi];
  if (events.queue) ++events.queued;
  if (events.handler_enabled && events.handler)
    events.handler(vi, VI_EVENT_SERVICE_REQ, kHandlerEvent, events.user_handle);
  return VI_SUCCESS;
}

ViStatus viLock(ViSession vi, ViAccessMode type, ViUInt32, ViConstKeyId requestedKey, ViChar accessKey[]) {
  if (!g_written.count(vi)) return VI_ERROR_INV_OBJECT;
  if (type == VI_SHARED_LOCK) copy(accessKey, requestedKey ? requestedKey : "stand-in key");
  return VI_SUCCESS;
}

ViStatus viUnlock(ViSession vi) {
  return g_written.count(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus viInstallHandler(ViSession vi, ViEventType type, ViHndlr handler, ViAddr userHandle) {
  if (type != VI_EVENT_SERVICE_REQ) return VI_ERROR_INV_EVENT;
  g_events[vi].handler = handler;
  g_events[vi].user_handle = userHandle;
  return VI_SUCCESS;
}

ViStatus viUninstallHandler(ViSession vi, ViEventType, ViHndlr handler, ViAddr userHandle) {
  Events& events = g_events[vi];
  if (handler && (handler != events.handler || userHandle != events.user_handle))
    return VI_ERROR_INV_HNDLR_REF;
  events.handler = nullptr;
  return VI_SUCCESS;
}

ViStatus viEnableEvent(ViSession vi, ViEventType type, ViUInt16 mechanism, ViEventFilter) {
  if (type != VI_EVENT_SERVICE_REQ) return VI_ERROR_INV_EVENT;
  if (mechanism & VI_QUEUE) g_events[vi].queue = true;
  if (mechanism & VI_HNDLR) g_events[vi].handler_enabled = true;
  return VI_SUCCESS;
}

ViStatus viWaitOnEvent(ViSession vi, ViEventType, ViUInt32, ViPEventType outEventType, ViPEvent outContext) {
  Events& events = g_events[vi];
  if (!events.queue) return VI_ERROR_NENABLED;
  if (events.queued == 0) return VI_ERROR_TMO;
  --events.queued;
  if (outEventType) *outEventType = VI_EVENT_SERVICE_REQ;
  if (outContext) *outContext = kQueuedEvent;
  return VI_SUCCESS;
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  auto it = g_written.find(vi);
  if (it == g_written.end()) return VI_ERROR_INV_OBJECT;
  std::string reply = "STAND-IN:" + it->second;
  ViUInt32 n = static_cast<ViUInt32>(std::min<std::size_t>(reply.size(), cnt));
  std::memcpy(buf, reply.data(), n);
  if (retCnt) *retCnt = n;
  return n == reply.size() ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
}

ViStatus viClear(ViSession vi) {
  return g_written.count(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status) {
  if (!g_written.count(vi)) return VI_ERROR_INV_OBJECT;
  *status = 0x40;
  return VI_SUCCESS;
}

}  // extern "C"
