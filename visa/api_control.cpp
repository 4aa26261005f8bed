// The VISA entry points of triggers and of the interface-specific operations: GPIB (REN, ATN, IFC, bus
// commands, passing control), VXI (word serial commands, utility signals, trigger mapping), and those of
// interfaces the built-in backends do not have (USB control transfers, PXI triggers, servant interrupts).

#include "visa/api_support.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

ViStatus assert_trigger(ViSession vi, ViUInt16 protocol, CallRecord* record) {
  if (record) record->details = "protocol=" + std::to_string(protocol);
  return on_session(
      vi, record,
      [&](Object& s) {
        auto trigger_id =
            static_cast<ViInt16>(s.attributes.signed_number(VI_ATTR_TRIG_ID).value_or(VI_TRIG_SW));
        return s.connection->assert_trigger(protocol, trigger_id, s.io);
      },
      [&](Object& s) { return PGX_FORWARD(s, viAssertTrigger, protocol); });
}

ViStatus gpib_control_ren(ViSession vi, ViUInt16 mode, CallRecord* record) {
  if (record) record->details = "mode=" + std::to_string(mode);
  return on_session(
      vi, record, [&](Object& s) { return s.connection->gpib_control_ren(mode); },
      [&](Object& s) { return PGX_FORWARD(s, viGpibControlREN, mode); });
}

ViStatus gpib_control_atn(ViSession vi, ViUInt16 mode, CallRecord* record) {
  if (record) record->details = "mode=" + std::to_string(mode);
  return on_session(
      vi, record, [&](Object& s) { return s.connection->gpib_control_atn(mode); },
      [&](Object& s) { return PGX_FORWARD(s, viGpibControlATN, mode); });
}

ViStatus gpib_send_ifc(ViSession vi, CallRecord* record) {
  return on_session(
      vi, record, [&](Object& s) { return s.connection->gpib_send_ifc(); },
      [&](Object& s) { return PGX_FORWARD(s, viGpibSendIFC); });
}

ViStatus gpib_command(ViSession vi, ViConstBuf cmd, ViUInt32 cnt, ViPUInt32 ret, CallRecord* record) {
  if (ret) *ret = 0;
  if (record && cmd) append_escaped(record->details, cmd, cnt);
  ViUInt32 count = 0;
  ViStatus status = on_session(
      vi, record,
      [&](Object& s) {
        if (!cmd && cnt > 0) return VI_ERROR_USER_BUF;
        return s.connection->gpib_command(cmd, cnt, count);
      },
      [&](Object& s) { return PGX_FORWARD(s, viGpibCommand, cmd, cnt, &count); });
  if (ret) *ret = count;
  return status;
}

ViStatus gpib_pass_control(ViSession vi, ViUInt16 primary, ViUInt16 secondary, CallRecord* record) {
  if (record) record->details = std::to_string(primary) + "," + std::to_string(secondary);
  return on_session(
      vi, record, [&](Object& s) { return s.connection->gpib_pass_control(primary, secondary); },
      [&](Object& s) { return PGX_FORWARD(s, viGpibPassControl, primary, secondary); });
}

ViStatus vxi_command_query(ViSession vi, ViUInt16 mode, ViUInt32 command, ViPUInt32 response,
                           CallRecord* record) {
  if (record) {
    record->details = "mode=" + std::to_string(mode) + " ";
    append_hex(record->details, command, 4);
  }
  return on_session(
      vi, record,
      [&](Object& s) {
        ViUInt32 answer = 0;
        ViStatus status = s.connection->vxi_command_query(mode, command, answer);
        if (mode & 0x00FF) {  // a response was asked for
          if (!response) return VI_ERROR_USER_BUF;
          *response = answer;
        }
        return status;
      },
      [&](Object& s) { return PGX_FORWARD(s, viVxiCommandQuery, mode, command, response); });
}

ViStatus assert_util_signal(ViSession vi, ViUInt16 line, CallRecord* record) {
  if (record) record->details = "line=" + std::to_string(line);
  return on_session(
      vi, record, [&](Object& s) { return s.connection->assert_util_signal(line); },
      [&](Object& s) { return PGX_FORWARD(s, viAssertUtilSignal, line); });
}

ViStatus map_trigger(ViSession vi, ViInt16 source, ViInt16 destination, ViUInt16 mode, CallRecord* record) {
  if (record) record->details = std::to_string(source) + " -> " + std::to_string(destination);
  return on_session(
      vi, record, [&](Object& s) { return s.connection->map_trigger(source, destination, mode); },
      [&](Object& s) { return PGX_FORWARD(s, viMapTrigger, source, destination, mode); });
}

ViStatus unmap_trigger(ViSession vi, ViInt16 source, ViInt16 destination, CallRecord* record) {
  if (record) record->details = std::to_string(source) + " -> " + std::to_string(destination);
  return on_session(
      vi, record, [&](Object& s) { return s.connection->unmap_trigger(source, destination); },
      [&](Object& s) { return PGX_FORWARD(s, viUnmapTrigger, source, destination); });
}

// An operation of a kind of resource that the built-in backends do not serve.
template <typename Forward>
ViStatus not_served_here(ViSession vi, CallRecord* record, Forward&& forward) {
  return on_session(
      vi, record, [](Object&) { return VI_ERROR_NSUP_OPER; }, std::forward<Forward>(forward));
}

}  // namespace
}  // namespace pgx::visa

using namespace pgx::visa;

extern "C" {

ViStatus viAssertTrigger(ViSession vi, ViUInt16 protocol) {
  return call("viAssertTrigger", vi, [&](CallRecord* r) { return assert_trigger(vi, protocol, r); });
}

ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode) {
  return call("viGpibControlREN", vi, [&](CallRecord* r) { return gpib_control_ren(vi, mode, r); });
}

ViStatus viGpibControlATN(ViSession vi, ViUInt16 mode) {
  return call("viGpibControlATN", vi, [&](CallRecord* r) { return gpib_control_atn(vi, mode, r); });
}

ViStatus viGpibSendIFC(ViSession vi) {
  return call("viGpibSendIFC", vi, [&](CallRecord* r) { return gpib_send_ifc(vi, r); });
}

ViStatus viGpibCommand(ViSession vi, ViConstBuf cmd, ViUInt32 cnt, ViPUInt32 retCnt) {
  return call("viGpibCommand", vi, [&](CallRecord* r) { return gpib_command(vi, cmd, cnt, retCnt, r); });
}

ViStatus viGpibPassControl(ViSession vi, ViUInt16 primAddr, ViUInt16 secAddr) {
  return call("viGpibPassControl", vi,
              [&](CallRecord* r) { return gpib_pass_control(vi, primAddr, secAddr, r); });
}

ViStatus viVxiCommandQuery(ViSession vi, ViUInt16 mode, ViUInt32 cmd, ViPUInt32 response) {
  return call("viVxiCommandQuery", vi,
              [&](CallRecord* r) { return vxi_command_query(vi, mode, cmd, response, r); });
}

ViStatus viAssertUtilSignal(ViSession vi, ViUInt16 line) {
  return call("viAssertUtilSignal", vi, [&](CallRecord* r) { return assert_util_signal(vi, line, r); });
}

ViStatus viMapTrigger(ViSession vi, ViInt16 trigSrc, ViInt16 trigDest, ViUInt16 mode) {
  return call("viMapTrigger", vi, [&](CallRecord* r) { return map_trigger(vi, trigSrc, trigDest, mode, r); });
}

ViStatus viUnmapTrigger(ViSession vi, ViInt16 trigSrc, ViInt16 trigDest) {
  return call("viUnmapTrigger", vi, [&](CallRecord* r) { return unmap_trigger(vi, trigSrc, trigDest, r); });
}

ViStatus viAssertIntrSignal(ViSession vi, ViInt16 mode, ViUInt32 statusID) {
  return call("viAssertIntrSignal", vi, [&](CallRecord* r) {
    return not_served_here(vi, r,
                           [&](Object& s) { return PGX_FORWARD(s, viAssertIntrSignal, mode, statusID); });
  });
}

ViStatus viUsbControlOut(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                         ViUInt16 wIndex, ViUInt16 wLength, ViConstBuf buf) {
  return call("viUsbControlOut", vi, [&](CallRecord* r) {
    return not_served_here(vi, r, [&](Object& s) {
      return PGX_FORWARD(s, viUsbControlOut, bmRequestType, bRequest, wValue, wIndex, wLength, buf);
    });
  });
}

ViStatus viUsbControlIn(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                        ViUInt16 wIndex, ViUInt16 wLength, ViPBuf buf, ViPUInt16 retCnt) {
  if (retCnt) *retCnt = 0;
  return call("viUsbControlIn", vi, [&](CallRecord* r) {
    return not_served_here(vi, r, [&](Object& s) {
      return PGX_FORWARD(s, viUsbControlIn, bmRequestType, bRequest, wValue, wIndex, wLength, buf, retCnt);
    });
  });
}

ViStatus viPxiReserveTriggers(ViSession vi, ViInt16 cnt, ViAInt16 trigBuses, ViAInt16 trigLines,
                              ViPInt16 failureIndex) {
  return call("viPxiReserveTriggers", vi, [&](CallRecord* r) {
    return not_served_here(vi, r, [&](Object& s) {
      return PGX_FORWARD(s, viPxiReserveTriggers, cnt, trigBuses, trigLines, failureIndex);
    });
  });
}

}  // extern "C"
