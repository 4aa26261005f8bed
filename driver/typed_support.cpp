#include "driver/typed_support.h"

namespace pgx::driver {

namespace {

bool equals_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Channel-less settings take their values at parameter 2, channel settings at parameter 3.
int value_position(int channel) {
  return channel == kNoChannel ? 2 : 3;
}

ViStatus check_target(const Session& session, int channel, const ChannelSetting& setting) {
  if (channel != kNoChannel) {
    const ViStatus status = check_channel(session, channel, 2);
    if (status < VI_SUCCESS) return status;
  }
  return check_supported(session, channel, setting.lacks);
}

// Reads a setting of a channel: "<header>?", its answer converted by `convert` (an optional, empty when
// the answer is not valid) and stored in `*out`.
template <typename Out, typename Convert>
ViStatus get_setting(ViSession vi, int channel, Out* out, const ChannelSetting& setting, Convert convert) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    ViStatus status = check_target(s, channel, setting);
    if (status < VI_SUCCESS) return status;
    if (out == nullptr) return parameter_error(value_position(channel));
    std::string& command = s.command();
    append_header(command, setting.head, channel, setting.tail);
    command += '?';
    std::string_view answer;
    status = s.query(answer);
    if (status < VI_SUCCESS) return status;
    const auto result = convert(answer);
    if (!result) return PGXGEN_ERROR_INVALID_RESPONSE;
    *out = static_cast<Out>(*result);
    return status;
  });
}

}  // namespace

const char* keyword_of(Keywords table, int value) {
  for (const Keyword& row : table) {
    if (row.value == value) return row.keyword;
  }
  return nullptr;
}

std::optional<int> value_of(Keywords table, std::string_view answer) {
  answer = trim(answer);
  for (const Keyword& row : table) {
    if (equals_nocase(answer, row.keyword) ||
        (row.long_form != nullptr && equals_nocase(answer, row.long_form))) {
      return row.value;
    }
  }
  return std::nullopt;
}

ViStatus check_channel(const Session& session, int channel, int position) {
  if (channel != 1 && channel != 2) return parameter_error(position);
  const InstrumentInfo& info = session.info();
  if (info.identified && static_cast<std::size_t>(channel) > info.front_ends.size())
    return PGXGEN_ERROR_CHANNEL;
  return VI_SUCCESS;
}

ViStatus check_supported(const Session& session, int channel, std::uint32_t lacks) {
  const InstrumentInfo& info = session.info();
  if (lacks == 0 || !info.identified || info.front_ends.empty()) return VI_SUCCESS;
  auto can = [&](const std::string& model) {
    const std::uint32_t missing = front_end_lacks(model);
    return missing == kUnknownFrontEnd || (missing & lacks) == 0;
  };
  if (channel != kNoChannel) {
    // A channel that is not installed is refused by the channel check, not here.
    if (channel < 1 || static_cast<std::size_t>(channel) > info.front_ends.size()) return VI_SUCCESS;
    return can(info.front_ends[channel - 1]) ? VI_SUCCESS : PGXGEN_ERROR_NOT_SUPPORTED;
  }
  // An instrument-wide function exists only when every installed front-end has it.
  for (const std::string& model : info.front_ends) {
    if (!can(model)) return PGXGEN_ERROR_NOT_SUPPORTED;
  }
  return VI_SUCCESS;
}

ViStatus check_vxi(const Session& session) {
  const InstrumentInfo& info = session.info();
  if (info.identified && info.model != "M4000A") return PGXGEN_ERROR_NOT_VXI;
  return VI_SUCCESS;
}

void append_header(std::string& out, std::string_view head, int channel, std::string_view tail) {
  out += head;
  if (channel != kNoChannel) out += static_cast<char>('0' + channel);
  out += tail;
}

bool split_units(std::string_view answer, std::string_view* units, int count) {
  for (int i = 0; i < count; ++i) {
    const std::size_t separator = answer.find(';');
    if ((separator == std::string_view::npos) != (i == count - 1)) return false;
    units[i] = answer.substr(0, separator);
    if (separator != std::string_view::npos) answer.remove_prefix(separator + 1);
  }
  return true;
}

ViStatus set_real(ViSession vi, int channel, double value, const ChannelSetting& setting) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    ViStatus status = check_target(s, channel, setting);
    if (status < VI_SUCCESS) return status;
    if (!is_finite(value)) return parameter_error(value_position(channel));
    std::string& command = s.command();
    append_header(command, setting.head, channel, setting.tail);
    command += ' ';
    append_real(command, value);
    return s.send();
  });
}

ViStatus get_real(ViSession vi, int channel, ViReal64* value, const ChannelSetting& setting) {
  return get_setting(vi, channel, value, setting, [](std::string_view answer) { return parse_real(answer); });
}

ViStatus set_bool(ViSession vi, int channel, ViBoolean on, const ChannelSetting& setting) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    ViStatus status = check_target(s, channel, setting);
    if (status < VI_SUCCESS) return status;
    if (on > 1) return parameter_error(value_position(channel));
    std::string& command = s.command();
    append_header(command, setting.head, channel, setting.tail);
    command += on ? " ON" : " OFF";
    return s.send();
  });
}

ViStatus get_bool(ViSession vi, int channel, ViBoolean* on, const ChannelSetting& setting) {
  // A bool converts to VI_TRUE or VI_FALSE.
  return get_setting(vi, channel, on, setting, [](std::string_view answer) { return parse_bool(answer); });
}

ViStatus set_keyword(ViSession vi, int channel, int value, Keywords table, const ChannelSetting& setting) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    // An enumeration out of range is a parameter error whatever the instrument.
    const char* keyword = keyword_of(table, value);
    if (channel != kNoChannel) {
      const ViStatus status = check_channel(s, channel, 2);
      if (status < VI_SUCCESS) return status;
    }
    if (keyword == nullptr) return parameter_error(value_position(channel));
    ViStatus status = check_supported(s, channel, setting.lacks);
    if (status < VI_SUCCESS) return status;
    std::string& command = s.command();
    append_header(command, setting.head, channel, setting.tail);
    command += ' ';
    command += keyword;
    return s.send();
  });
}

ViStatus get_keyword(ViSession vi, int channel, ViInt16* value, Keywords table,
                     const ChannelSetting& setting) {
  return get_setting(vi, channel, value, setting,
                     [table](std::string_view answer) { return value_of(table, answer); });
}

}  // namespace pgx::driver
