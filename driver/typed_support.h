#pragma once
// Building blocks of the typed functions: checks against the connected instrument (channel installed,
// function supported by its front-end, VXI mainframe), keyword tables for enumerations, and the common
// shapes "set a value of channel n" / "read a value of channel n".

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "driver/api_support.h"
#include "driver/front_ends.h"

namespace pgx::driver {

// One enumeration value and its SCPI keyword (short form, as sent); `long_form` is also accepted in
// answers.
struct Keyword {
  int value;
  const char* keyword;
  const char* long_form = nullptr;
};
using Keywords = std::initializer_list<Keyword>;

// The keyword of a value, or nullptr when the value has none.
const char* keyword_of(Keywords table, int value);
// The value of an answer (case-insensitive), or nullopt.
std::optional<int> value_of(Keywords table, std::string_view answer);

// Channel 1 or 2 (else a parameter status at `position`), installed in the instrument (else
// PGXGEN_ERROR_CHANNEL when the installed front-ends are known).
ViStatus check_channel(const Session& session, int channel, int position);
// The front-end of `channel` can do what `lacks` names; for an instrument-wide function (kNoChannel) every
// installed front-end must.
ViStatus check_supported(const Session& session, int channel, std::uint32_t lacks);
// The mainframe is a VXI module.
ViStatus check_vxi(const Session& session);

// The channel argument of an instrument-wide setting (no channel suffix, no channel check).
inline constexpr int kNoChannel = -1;

// A header with an optional channel suffix: head + n + tail (":VOLT" 1 ":HIGH"); kNoChannel: no suffix.
void append_header(std::string& out, std::string_view head, int channel, std::string_view tail);

// Splits an answer of `count` units separated by ';'.
bool split_units(std::string_view answer, std::string_view* units, int count);

// "Set/read a value of a channel" shapes. `lacks` names what a front-end must have.
struct ChannelSetting {
  std::string_view head;
  std::string_view tail;
  std::uint32_t lacks;
};

ViStatus set_real(ViSession vi, int channel, double value, const ChannelSetting& setting);
ViStatus get_real(ViSession vi, int channel, ViReal64* value, const ChannelSetting& setting);
ViStatus set_bool(ViSession vi, int channel, ViBoolean on, const ChannelSetting& setting);
ViStatus get_bool(ViSession vi, int channel, ViBoolean* on, const ChannelSetting& setting);
// The value position is 3 with a channel and 2 without (kNoChannel).
ViStatus set_keyword(ViSession vi, int channel, int value, Keywords table, const ChannelSetting& setting);
ViStatus get_keyword(ViSession vi, int channel, ViInt16* value, Keywords table,
                     const ChannelSetting& setting);

}  // namespace pgx::driver
