// Output levels, limits, output stages and the pattern signal format of a channel.

#include "driver/typed_support.h"

using namespace pgx::driver;

namespace {

const Keywords kLevelHold = {{PGXGEN_LEVEL_VOLTAGE, "VOLT", "VOLTAGE"},
                             {PGXGEN_LEVEL_CURRENT, "CURR", "CURRENT"}};
const Keywords kPolarity = {{PGXGEN_POLARITY_NORMAL, "NORM", "NORMAL"},
                            {PGXGEN_POLARITY_INVERTED, "INV", "INVERTED"}};
const Keywords kSignalFormat = {{PGXGEN_FORMAT_NRZ, "NRZ"}, {PGXGEN_FORMAT_RZ, "RZ"}};
const Keywords kMath = {{PGXGEN_MATH_OFF, "OFF"}, {PGXGEN_MATH_PLUS, "PLUS"}};

// The two forms of a channel's levels, each set and read as a pair: ":VOLT1:HLOW <high>,<low>" and
// ":VOLT1:OAMP <offset>,<amplitude>" (":CURR1:..." for currents).
constexpr const char* kHighLow = ":HLOW";
constexpr const char* kOffsetAmplitude = ":OAMP";

const char* level_head(int type) {
  return type == PGXGEN_LEVEL_CURRENT ? ":CURR" : ":VOLT";
}

ViStatus set_levels(ViSession vi, ViInt16 channel, ViInt16 type, double first, double second,
                    const char* form) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    ViStatus status = check_channel(s, channel, 2);
    if (status < VI_SUCCESS) return status;
    const char* hold = keyword_of(kLevelHold, type);
    if (hold == nullptr) return parameter_error(3);
    if (!is_finite(first)) return parameter_error(4);
    if (!is_finite(second)) return parameter_error(5);
    status = check_supported(s, channel, kLackLevel);
    if (status < VI_SUCCESS) return status;
    std::string& command = s.command();
    command += ":HOLD ";
    command += hold;
    command += ';';
    append_header(command, level_head(type), channel, form);
    command += ' ';
    append_real(command, first);
    command += ',';
    append_real(command, second);
    return s.send();
  });
}

// One round trip: the hold and the pair in volts and in amperes, of which the held one is reported.
ViStatus get_levels(ViSession vi, ViInt16 channel, ViInt16* type, ViReal64* first, ViReal64* second,
                    const char* form) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    ViStatus status = check_channel(s, channel, 2);
    if (status < VI_SUCCESS) return status;
    if (type == nullptr) return parameter_error(3);
    if (first == nullptr) return parameter_error(4);
    if (second == nullptr) return parameter_error(5);
    status = check_supported(s, channel, kLackLevel);
    if (status < VI_SUCCESS) return status;
    std::string& command = s.command();
    command += ":HOLD?;";
    append_header(command, ":VOLT", channel, form);
    command += "?;";
    append_header(command, ":CURR", channel, form);
    command += '?';
    std::string_view answer;
    status = s.query(answer);
    if (status < VI_SUCCESS) return status;
    std::string_view units[3];
    if (!split_units(answer, units, 3)) return PGXGEN_ERROR_INVALID_RESPONSE;
    const auto held = value_of(kLevelHold, units[0]);
    if (!held) return PGXGEN_ERROR_INVALID_RESPONSE;
    const std::string_view pair = units[*held == PGXGEN_LEVEL_CURRENT ? 2 : 1];
    const std::size_t comma = pair.find(',');
    if (comma == std::string_view::npos) return PGXGEN_ERROR_INVALID_RESPONSE;
    const auto a = parse_real(pair.substr(0, comma));
    const auto b = parse_real(pair.substr(comma + 1));
    if (!a || !b) return PGXGEN_ERROR_INVALID_RESPONSE;
    *type = static_cast<ViInt16>(*held);
    *first = *a;
    *second = *b;
    return status;
  });
}

constexpr ChannelSetting kLimitState = {":VOLT", ":LIM:STAT", kLackLimit};
constexpr ChannelSetting kOutputNormal = {":OUTP", "", 0};
constexpr ChannelSetting kOutputComplement = {":OUTP", ":COMP", kLackOutStateCompl};
constexpr ChannelSetting kOutputPolarity = {":OUTP", ":POL", 0};
constexpr ChannelSetting kOutputImpedance = {":OUTP", ":IMP", kLackOutImpedance};
constexpr ChannelSetting kLoadCompensation = {":OUTP", ":IMP:EXT", kLackLoadComp};
constexpr ChannelSetting kSignalFormatSetting = {":DIG:SIGN", ":FORM", kLackPattern};
constexpr ChannelSetting kChannelMath = {":CHAN:MATH", "", kLackOutputMath};

}  // namespace

extern "C" {

ViStatus pgxgen_levelHighLow(ViSession vi, ViInt16 channel, ViInt16 levelType, ViReal64 high, ViReal64 low) {
  return set_levels(vi, channel, levelType, high, low, kHighLow);
}

ViStatus pgxgen_levelHighLow_Q(ViSession vi, ViInt16 channel, ViInt16* levelType, ViReal64* high,
                               ViReal64* low) {
  return get_levels(vi, channel, levelType, high, low, kHighLow);
}

ViStatus pgxgen_levelOffsetAmplitude(ViSession vi, ViInt16 channel, ViInt16 levelType, ViReal64 offset,
                                     ViReal64 amplitude) {
  return set_levels(vi, channel, levelType, offset, amplitude, kOffsetAmplitude);
}

ViStatus pgxgen_levelOffsetAmplitude_Q(ViSession vi, ViInt16 channel, ViInt16* levelType, ViReal64* offset,
                                       ViReal64* amplitude) {
  return get_levels(vi, channel, levelType, offset, amplitude, kOffsetAmplitude);
}

ViStatus pgxgen_limitState(ViSession vi, ViInt16 channel, ViBoolean on) {
  return set_bool(vi, channel, on, kLimitState);
}

ViStatus pgxgen_limitState_Q(ViSession vi, ViInt16 channel, ViBoolean* on) {
  return get_bool(vi, channel, on, kLimitState);
}

ViStatus pgxgen_outputStateNormal(ViSession vi, ViInt16 channel, ViBoolean on) {
  return set_bool(vi, channel, on, kOutputNormal);
}

ViStatus pgxgen_outputStateNormal_Q(ViSession vi, ViInt16 channel, ViBoolean* on) {
  return get_bool(vi, channel, on, kOutputNormal);
}

ViStatus pgxgen_outputStateComplement(ViSession vi, ViInt16 channel, ViBoolean on) {
  return set_bool(vi, channel, on, kOutputComplement);
}

ViStatus pgxgen_outputStateComplement_Q(ViSession vi, ViInt16 channel, ViBoolean* on) {
  return get_bool(vi, channel, on, kOutputComplement);
}

ViStatus pgxgen_outputPolarity(ViSession vi, ViInt16 channel, ViInt16 polarity) {
  return set_keyword(vi, channel, polarity, kPolarity, kOutputPolarity);
}

ViStatus pgxgen_outputPolarity_Q(ViSession vi, ViInt16 channel, ViInt16* polarity) {
  return get_keyword(vi, channel, polarity, kPolarity, kOutputPolarity);
}

ViStatus pgxgen_configOutputImpedance(ViSession vi, ViInt16 channel, ViReal64 ohms) {
  return set_real(vi, channel, ohms, kOutputImpedance);
}

ViStatus pgxgen_configOutputImpedance_Q(ViSession vi, ViInt16 channel, ViReal64* ohms) {
  return get_real(vi, channel, ohms, kOutputImpedance);
}

ViStatus pgxgen_configOutputLoadCompensation(ViSession vi, ViInt16 channel, ViReal64 ohms) {
  return set_real(vi, channel, ohms, kLoadCompensation);
}

ViStatus pgxgen_configOutputLoadCompensation_Q(ViSession vi, ViInt16 channel, ViReal64* ohms) {
  return get_real(vi, channel, ohms, kLoadCompensation);
}

ViStatus pgxgen_outputMath_Q(ViSession vi, ViInt16* math) {
  // Channel math adds channel 2 to channel 1: a one-channel instrument has none.
  const ViStatus status = with_session(vi, [&](Session& s) -> ViStatus {
    const InstrumentInfo& info = s.info();
    return info.identified && info.front_ends.size() < 2 ? PGXGEN_ERROR_NOT_SUPPORTED : VI_SUCCESS;
  });
  if (status < VI_SUCCESS) return status;
  return get_keyword(vi, kNoChannel, math, kMath, kChannelMath);
}

ViStatus pgxgen_modePatternDataFormat(ViSession vi, ViInt16 channel, ViInt16 format) {
  return set_keyword(vi, channel, format, kSignalFormat, kSignalFormatSetting);
}

ViStatus pgxgen_modePatternDataFormat_Q(ViSession vi, ViInt16 channel, ViInt16* format) {
  return get_keyword(vi, channel, format, kSignalFormat, kSignalFormatSetting);
}

}  // extern "C"
