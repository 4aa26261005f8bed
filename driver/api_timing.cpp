// Pulse timing of a channel: width, duty cycle, trailing delay, delays, double pulses, edges; and the
// instrument-wide calibration and clock-input measurements.

#include "driver/typed_support.h"

using namespace pgx::driver;

namespace {

const Keywords kWidthHold = {{PGXGEN_HOLD_WIDTH, "WIDT", "WIDTH"},
                             {PGXGEN_HOLD_DUTY_CYCLE, "DCYC", "DCYCLE"},
                             {PGXGEN_HOLD_TRAILING_DELAY, "TDEL", "TDELAY"}};
const Keywords kDelayHold = {{PGXGEN_HOLD_ABSOLUTE, "TIME"}, {PGXGEN_HOLD_RATIO, "PRAT", "PRATIO"}};
const Keywords kEdgeHold = {{PGXGEN_HOLD_ABSOLUTE, "TIME"}, {PGXGEN_HOLD_RATIO, "WRAT", "WRATIO"}};
const Keywords kCoupling = {
    {PGXGEN_COUPLING_OFF, "OFF", "0"}, {PGXGEN_COUPLING_ON, "ON", "1"}, {PGXGEN_COUPLING_ONCE, "ONCE"}};
const Keywords kPulseType = {{PGXGEN_PULSE_SINGLE, "OFF", "0"}, {PGXGEN_PULSE_DOUBLE, "ON", "1"}};
// Units of delays (seconds, percent of the period, degrees, radians) and of edges and double delays.
const Keywords kDelayUnits = {{PGXGEN_UNIT_SECONDS, "S", "SEC"},
                              {PGXGEN_UNIT_PERCENT, "PCT"},
                              {PGXGEN_UNIT_DEGREES, "DEG"},
                              {PGXGEN_UNIT_RADIANS, "RAD"}};
const Keywords kGeneralUnits = {{PGXGEN_UNIT_SECONDS, "S", "SEC"}, {PGXGEN_UNIT_PERCENT, "PCT"}};

constexpr ChannelSetting kWidth = {":PULS:WIDT", "", 0};
constexpr ChannelSetting kDutyCycle = {":PULS:DCYC", "", 0};
constexpr ChannelSetting kTrailingDelay = {":PULS:TDEL", "", 0};
constexpr ChannelSetting kWidthHoldSetting = {":PULS:HOLD", "", 0};
constexpr ChannelSetting kDouble = {":PULS:DOUB", "", 0};
constexpr ChannelSetting kDelayHoldSetting = {":PULS:DEL", ":HOLD", 0};
constexpr ChannelSetting kDoubleDelayHold = {":PULS:DOUB", ":DEL:HOLD", 0};
constexpr ChannelSetting kEdgeHoldSetting = {":PULS:TRAN", ":HOLD", kLackTransTime | kLackTransHold};
constexpr ChannelSetting kCouplingSetting = {":PULS:TRAN", ":TRA:AUTO", kLackTransTime | kLackLeTeCouple};

// A value with a unit: set sends "<header> <value><unit>", read asks the unit the channel reports its
// values in and the value: "<unit header>?;<header>?".
struct ValueWithUnit {
  std::string_view head;
  std::string_view tail;
  std::string_view unit_tail;  // appended to head + channel for the default-unit query
  std::uint32_t lacks;         // what reading and setting need
  std::uint32_t set_lacks;     // what setting needs besides
};
constexpr ValueWithUnit kDelay = {":PULS:DEL", "", ":UNIT", 0, 0};
constexpr ValueWithUnit kDoubleDelay = {":PULS:DOUB", ":DEL", ":DEL:UNIT", 0, 0};
constexpr ValueWithUnit kLeadingEdge = {":PULS:TRAN", "", ":UNIT", kLackTransTime, 0};
// Without an independent trailing edge the trailing time follows the leading one: it reads, it cannot be set.
constexpr ValueWithUnit kTrailingEdge = {":PULS:TRAN", ":TRA", ":UNIT", kLackTransTime, kLackLeTeAbs};

ViStatus set_with_unit(ViSession vi, ViInt16 channel, ViInt16 unit, double value, Keywords units,
                       const ValueWithUnit& setting) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    ViStatus status = check_channel(s, channel, 2);
    if (status < VI_SUCCESS) return status;
    const char* suffix = keyword_of(units, unit);
    if (suffix == nullptr) return parameter_error(3);
    if (!is_finite(value)) return parameter_error(4);
    status = check_supported(s, channel, setting.lacks | setting.set_lacks);
    if (status < VI_SUCCESS) return status;
    std::string& command = s.command();
    append_header(command, setting.head, channel, setting.tail);
    command += ' ';
    append_real(command, value);
    command += suffix;
    return s.send();
  });
}

ViStatus get_with_unit(ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value, Keywords units,
                       const ValueWithUnit& setting) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    ViStatus status = check_channel(s, channel, 2);
    if (status < VI_SUCCESS) return status;
    if (unit == nullptr) return parameter_error(3);
    if (value == nullptr) return parameter_error(4);
    status = check_supported(s, channel, setting.lacks);
    if (status < VI_SUCCESS) return status;
    std::string& command = s.command();
    append_header(command, setting.head, channel, setting.unit_tail);
    command += "?;";
    append_header(command, setting.head, channel, setting.tail);
    command += '?';
    std::string_view answer;
    status = s.query(answer);
    if (status < VI_SUCCESS) return status;
    std::string_view parts[2];
    if (!split_units(answer, parts, 2)) return PGXGEN_ERROR_INVALID_RESPONSE;
    const auto reported_unit = value_of(units, parts[0]);
    const auto reported_value = parse_real(parts[1]);
    if (!reported_unit || !reported_value) return PGXGEN_ERROR_INVALID_RESPONSE;
    *unit = static_cast<ViInt16>(*reported_unit);
    *value = *reported_value;
    return status;
  });
}

ViStatus send_action(ViSession vi, const char* command, std::uint32_t lacks) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    const ViStatus status = check_supported(s, kNoChannel, lacks);
    if (status < VI_SUCCESS) return status;
    s.command() = command;
    return s.send();
  });
}

}  // namespace

extern "C" {

ViStatus pgxgen_timeWidth(ViSession vi, ViInt16 channel, ViReal64 seconds) {
  return set_real(vi, channel, seconds, kWidth);
}

ViStatus pgxgen_timeWidth_Q(ViSession vi, ViInt16 channel, ViReal64* seconds) {
  return get_real(vi, channel, seconds, kWidth);
}

ViStatus pgxgen_timeWidthDutyCycle(ViSession vi, ViInt16 channel, ViReal64 percent) {
  return set_real(vi, channel, percent, kDutyCycle);
}

ViStatus pgxgen_timeWidthDutyCycle_Q(ViSession vi, ViInt16 channel, ViReal64* percent) {
  return get_real(vi, channel, percent, kDutyCycle);
}

ViStatus pgxgen_timeWidthTrailingDelay(ViSession vi, ViInt16 channel, ViReal64 seconds) {
  return set_real(vi, channel, seconds, kTrailingDelay);
}

ViStatus pgxgen_timeWidthTrailingDelay_Q(ViSession vi, ViInt16 channel, ViReal64* seconds) {
  return get_real(vi, channel, seconds, kTrailingDelay);
}

ViStatus pgxgen_timeWidthHold(ViSession vi, ViInt16 channel, ViInt16 hold) {
  return set_keyword(vi, channel, hold, kWidthHold, kWidthHoldSetting);
}

ViStatus pgxgen_timeWidthHold_Q(ViSession vi, ViInt16 channel, ViInt16* hold) {
  return get_keyword(vi, channel, hold, kWidthHold, kWidthHoldSetting);
}

ViStatus pgxgen_modePulseType(ViSession vi, ViInt16 channel, ViInt16 pulseType) {
  return set_keyword(vi, channel, pulseType, kPulseType, kDouble);
}

ViStatus pgxgen_modePulseType_Q(ViSession vi, ViInt16 channel, ViInt16* pulseType) {
  return get_keyword(vi, channel, pulseType, kPulseType, kDouble);
}

ViStatus pgxgen_timeDelay(ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value) {
  return set_with_unit(vi, channel, unit, value, kDelayUnits, kDelay);
}

ViStatus pgxgen_timeDelay_Q(ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value) {
  return get_with_unit(vi, channel, unit, value, kDelayUnits, kDelay);
}

ViStatus pgxgen_timeDelayHold(ViSession vi, ViInt16 channel, ViInt16 hold) {
  return set_keyword(vi, channel, hold, kDelayHold, kDelayHoldSetting);
}

ViStatus pgxgen_timeDelayHold_Q(ViSession vi, ViInt16 channel, ViInt16* hold) {
  return get_keyword(vi, channel, hold, kDelayHold, kDelayHoldSetting);
}

ViStatus pgxgen_timeDelayDouble(ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value) {
  return set_with_unit(vi, channel, unit, value, kGeneralUnits, kDoubleDelay);
}

ViStatus pgxgen_timeDelayDouble_Q(ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value) {
  return get_with_unit(vi, channel, unit, value, kGeneralUnits, kDoubleDelay);
}

ViStatus pgxgen_timeDelayDoubleHold(ViSession vi, ViInt16 channel, ViInt16 hold) {
  return set_keyword(vi, channel, hold, kDelayHold, kDoubleDelayHold);
}

ViStatus pgxgen_timeDelayDoubleHold_Q(ViSession vi, ViInt16 channel, ViInt16* hold) {
  return get_keyword(vi, channel, hold, kDelayHold, kDoubleDelayHold);
}

ViStatus pgxgen_timeEdgeLeading(ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value) {
  return set_with_unit(vi, channel, unit, value, kGeneralUnits, kLeadingEdge);
}

ViStatus pgxgen_timeEdgeLeading_Q(ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value) {
  return get_with_unit(vi, channel, unit, value, kGeneralUnits, kLeadingEdge);
}

ViStatus pgxgen_timeEdgeTrailing(ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value) {
  return set_with_unit(vi, channel, unit, value, kGeneralUnits, kTrailingEdge);
}

ViStatus pgxgen_timeEdgeTrailing_Q(ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value) {
  return get_with_unit(vi, channel, unit, value, kGeneralUnits, kTrailingEdge);
}

ViStatus pgxgen_timeEdgeTrailingCoupling(ViSession vi, ViInt16 channel, ViInt16 coupling) {
  return set_keyword(vi, channel, coupling, kCoupling, kCouplingSetting);
}

ViStatus pgxgen_timeEdgeTrailingCoupling_Q(ViSession vi, ViInt16 channel, ViInt16* coupling) {
  return get_keyword(vi, channel, coupling, kCoupling, kCouplingSetting);
}

ViStatus pgxgen_timeEdgeHold(ViSession vi, ViInt16 channel, ViInt16 hold) {
  return set_keyword(vi, channel, hold, kEdgeHold, kEdgeHoldSetting);
}

ViStatus pgxgen_timeEdgeHold_Q(ViSession vi, ViInt16 channel, ViInt16* hold) {
  return get_keyword(vi, channel, hold, kEdgeHold, kEdgeHoldSetting);
}

ViStatus pgxgen_timeCalibration(ViSession vi) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    ViStatus status = check_supported(s, kNoChannel, kLackAutoCalibrate);
    if (status < VI_SUCCESS) return status;
    s.command() = "*CAL?";
    long long result = 0;
    status = query_integer(s, -32768, 32767, result);
    if (status < VI_SUCCESS) return status;
    return result == 0 ? status : PGXGEN_ERROR_INSTRUMENT;
  });
}

ViStatus pgxgen_timeFrequencyMeasure(ViSession vi) {
  return send_action(vi, ":FREQ:AUTO ONCE", 0);
}

ViStatus pgxgen_timePeriodMeasure(ViSession vi) {
  return send_action(vi, ":PULS:PER:AUTO ONCE", 0);
}

}  // extern "C"
