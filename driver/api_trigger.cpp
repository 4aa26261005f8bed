// Trigger output levels and source, VXI trigger lines, PLL reference.

#include "driver/typed_support.h"

using namespace pgx::driver;

namespace {

const Keywords kTriggerLevel = {
    {PGXGEN_TRGLEV_TTL, "TTL"}, {PGXGEN_TRGLEV_ECL, "ECL"}, {PGXGEN_TRGLEV_STA, "STA"}};
const Keywords kVxiSource = {{PGXGEN_VXI_SOURCE_TRIGGER, "TRIG", "TRIGGER"},
                             {PGXGEN_VXI_SOURCE_STROBE, "STR", "STROBE"},
                             {PGXGEN_VXI_SOURCE_SAME_AS_STROBE, "SSTR", "SSTROBE"}};
const Keywords kVxiLine = {{5, "ECLT0"},  {6, "ECLT1"},  {7, "TTLT0"},  {8, "TTLT1"},
                           {9, "TTLT2"},  {10, "TTLT3"}, {11, "TTLT4"}, {12, "TTLT5"},
                           {13, "TTLT6"}, {14, "TTLT7"}, {15, "NONE"}};
const Keywords kPllSource = {{PGXGEN_PLLREF_CLOCK_IN, "CLK", "CLKIN"},
                             {PGXGEN_PLLREF_INTERNAL1, "INT1", "INTERNAL1"},
                             {PGXGEN_PLLREF_INTERNAL2, "INT2", "INTERNAL2"}};

constexpr ChannelSetting kTriggerOutSource = {":PULS:TRIG:SOUR", "", kLackTrgOutSrc};
constexpr ChannelSetting kVxiSourceSetting = {":VXI:SOUR", "", kLackVxiTrigSource};
constexpr ChannelSetting kVxiLineSetting = {":VXI:LINE", "", kLackVxiTrigEnable};

// The VXI trigger settings, instrument-wide and only on a VXI mainframe; an enumeration out of range is
// refused whatever the instrument.
ViStatus set_vxi_keyword(ViSession vi, int value, Keywords table, const ChannelSetting& setting) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    const char* keyword = keyword_of(table, value);
    if (keyword == nullptr) return parameter_error(2);
    ViStatus status = check_vxi(s);
    if (status < VI_SUCCESS) return status;
    status = check_supported(s, kNoChannel, setting.lacks);
    if (status < VI_SUCCESS) return status;
    std::string& command = s.command();
    command += setting.head;
    command += ' ';
    command += keyword;
    return s.send();
  });
}

ViStatus get_vxi_keyword(ViSession vi, ViInt16* value, Keywords table, const ChannelSetting& setting) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (value == nullptr) return parameter_error(2);
    ViStatus status = check_vxi(s);
    if (status < VI_SUCCESS) return status;
    status = check_supported(s, kNoChannel, setting.lacks);
    if (status < VI_SUCCESS) return status;
    std::string& command = s.command();
    command += setting.head;
    command += '?';
    std::string_view answer;
    status = s.query(answer);
    if (status < VI_SUCCESS) return status;
    const auto result = value_of(table, answer);
    if (!result) return PGXGEN_ERROR_INVALID_RESPONSE;
    *value = static_cast<ViInt16>(*result);
    return status;
  });
}

bool valid_output(int output) {
  return output >= PGXGEN_TRGOUT_IMMEDIATE && output <= PGXGEN_TRGOUT_STROBE;
}

// The level headers of the trigger output in immediate mode, the trigger output and the strobe output.
void append_output_header(std::string& command, int output) {
  static const char* const kHeaders[] = {":PULS:TRIG:IMM:LEV", ":PULS:TRIG:LEV", ":PULS:STR:LEV"};
  command += kHeaders[output];
}

}  // namespace

extern "C" {

ViStatus pgxgen_configTriggerOutLevel(ViSession vi, ViInt16 output, ViInt16 level) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (!valid_output(output)) return parameter_error(2);
    const char* keyword = keyword_of(kTriggerLevel, level);
    if (keyword == nullptr) return parameter_error(3);
    std::string& command = s.command();
    append_output_header(command, output);
    command += ' ';
    command += keyword;
    return s.send();
  });
}

ViStatus pgxgen_configTriggerOutLevel_Q(ViSession vi, ViInt16 output, ViInt16* level) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (!valid_output(output)) return parameter_error(2);
    if (level == nullptr) return parameter_error(3);
    std::string& command = s.command();
    append_output_header(command, output);
    command += '?';
    std::string_view answer;
    const ViStatus status = s.query(answer);
    if (status < VI_SUCCESS) return status;
    const auto value = value_of(kTriggerLevel, answer);
    if (!value) return PGXGEN_ERROR_INVALID_RESPONSE;
    *level = static_cast<ViInt16>(*value);
    return status;
  });
}

ViStatus pgxgen_configTriggerOutSource_Q(ViSession vi, ViInt16* source) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (source == nullptr) return parameter_error(2);
    ViStatus status = check_supported(s, kNoChannel, kTriggerOutSource.lacks);
    if (status < VI_SUCCESS) return status;
    // 0 when the source follows the active channel, else the channel that drives the output.
    s.command() = ":PULS:TRIG:SOUR:AUTO?;:PULS:TRIG:SOUR?";
    std::string_view answer;
    status = s.query(answer);
    if (status < VI_SUCCESS) return status;
    std::string_view units[2];
    if (!split_units(answer, units, 2)) return PGXGEN_ERROR_INVALID_RESPONSE;
    const auto automatic = parse_bool(units[0]);
    const auto channel = parse_integer(units[1]);
    if (!automatic || !channel || *channel < 1 || *channel > 2) return PGXGEN_ERROR_INVALID_RESPONSE;
    *source = static_cast<ViInt16>(*automatic ? 0 : *channel);
    return status;
  });
}

ViStatus pgxgen_outputSourceVxiTrigger(ViSession vi, ViInt16 source) {
  return set_vxi_keyword(vi, source, kVxiSource, kVxiSourceSetting);
}

ViStatus pgxgen_outputSourceVxiTrigger_Q(ViSession vi, ViInt16* source) {
  return get_vxi_keyword(vi, source, kVxiSource, kVxiSourceSetting);
}

ViStatus pgxgen_outputEnableVxiTrigger(ViSession vi, ViInt16 line) {
  return set_vxi_keyword(vi, line, kVxiLine, kVxiLineSetting);
}

ViStatus pgxgen_outputEnableVxiTrigger_Q(ViSession vi, ViInt16* line) {
  return get_vxi_keyword(vi, line, kVxiLine, kVxiLineSetting);
}

ViStatus pgxgen_configPllReference(ViSession vi, ViInt16 source, ViReal64 externalFrequency) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    const char* keyword = keyword_of(kPllSource, source);
    if (keyword == nullptr) return parameter_error(2);
    if (!is_finite(externalFrequency)) return parameter_error(3);
    std::string& command = s.command();
    command = ":ROSC:SOUR ";
    command += keyword;
    // The external frequency only matters for the clock input; it is sent then only.
    if (source == PGXGEN_PLLREF_CLOCK_IN) {
      if (!(externalFrequency > 0)) return PGXGEN_ERROR_PLL_FREQUENCY;
      command += ";:ROSC:FREQ ";
      append_real(command, externalFrequency);
    }
    return s.send();
  });
}

ViStatus pgxgen_configPllReference_Q(ViSession vi, ViInt16* source, ViReal64* externalFrequency) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (source == nullptr) return parameter_error(2);
    if (externalFrequency == nullptr) return parameter_error(3);
    s.command() = ":ROSC:SOUR?;:ROSC:FREQ?";
    std::string_view answer;
    const ViStatus status = s.query(answer);
    if (status < VI_SUCCESS) return status;
    std::string_view units[2];
    if (!split_units(answer, units, 2)) return PGXGEN_ERROR_INVALID_RESPONSE;
    const auto value = value_of(kPllSource, units[0]);
    const auto frequency = parse_real(units[1]);
    if (!value || !frequency) return PGXGEN_ERROR_INVALID_RESPONSE;
    *source = static_cast<ViInt16>(*value);
    *externalFrequency = *frequency;
    return status;
  });
}

}  // extern "C"
