// The VISA C entry points (first version: every operation reports that it is not available yet).
#include "visa/visa.h"

extern "C" {

ViStatus viOpenDefaultRM(ViPSession) { return VI_ERROR_NSUP_OPER; }
ViStatus viFindRsrc(ViSession, ViConstString, ViPFindList, ViPUInt32, ViChar[]) { return VI_ERROR_NSUP_OPER; }
ViStatus viFindNext(ViFindList, ViChar[]) { return VI_ERROR_NSUP_OPER; }
ViStatus viParseRsrc(ViSession, ViConstRsrc, ViPUInt16, ViPUInt16) { return VI_ERROR_NSUP_OPER; }
ViStatus viParseRsrcEx(ViSession, ViConstRsrc, ViPUInt16, ViPUInt16, ViChar[], ViChar[], ViChar[]) {
  return VI_ERROR_NSUP_OPER;
}
ViStatus viOpen(ViSession, ViConstRsrc, ViAccessMode, ViUInt32, ViPSession) { return VI_ERROR_NSUP_OPER; }
ViStatus viClose(ViObject) { return VI_ERROR_INV_OBJECT; }
ViStatus viSetAttribute(ViObject, ViAttr, ViAttrState) { return VI_ERROR_INV_OBJECT; }
ViStatus viGetAttribute(ViObject, ViAttr, void*) { return VI_ERROR_INV_OBJECT; }
ViStatus viStatusDesc(ViObject, ViStatus, ViChar[]) { return VI_ERROR_NSUP_OPER; }
ViStatus viRead(ViSession, ViPBuf, ViUInt32, ViPUInt32) { return VI_ERROR_INV_OBJECT; }
ViStatus viWrite(ViSession, ViConstBuf, ViUInt32, ViPUInt32) { return VI_ERROR_INV_OBJECT; }
ViStatus viClear(ViSession) { return VI_ERROR_INV_OBJECT; }
ViStatus viReadSTB(ViSession, ViPUInt16) { return VI_ERROR_INV_OBJECT; }
ViStatus viFlush(ViSession, ViUInt16) { return VI_ERROR_INV_OBJECT; }

}  // extern "C"
