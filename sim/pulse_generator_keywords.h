#pragma once
// Limits, unit sets and reply keywords shared by the pulse generator's model, commands and learn string.

#include <initializer_list>
#include <string_view>

#include "sim/call.h"
#include "sim/scpi_number.h"

namespace pgx::sim::pg {

inline constexpr double kMinFrequency = 1e-3;
inline constexpr double kMaxPeriod = 1000;
inline constexpr double kMaxTime = 1000;
inline constexpr double kMinLoad = 0.1;
inline constexpr double kMaxLoad = 1e6;
inline constexpr double kOpenLoadGain = 2;  // an open load doubles the voltage of a 50 ohm source
inline constexpr long long kMaxCount = 65536;
inline constexpr long long kMaxPatternCount = 16384;

inline constexpr unsigned kV = unit_bit(Unit::kVolt);
inline constexpr unsigned kA = unit_bit(Unit::kAmpere);
inline constexpr unsigned kS = unit_bit(Unit::kSecond);
inline constexpr unsigned kHz = unit_bit(Unit::kHertz);
inline constexpr unsigned kOhm = unit_bit(Unit::kOhm);
inline constexpr unsigned kPct = unit_bit(Unit::kPercent);
inline constexpr unsigned kDeg = unit_bit(Unit::kDegree);
inline constexpr unsigned kRad = unit_bit(Unit::kRadian);

// Reply texts of character data, indexed like the choices.
inline constexpr const char* kUnitReplies[] = {"S", "PCT", "DEG", "RAD"};
inline constexpr const char* kWidthHoldReplies[] = {"WIDT", "DCYC", "TDEL"};
inline constexpr const char* kTimeHoldReplies[] = {"TIME", "PRAT"};
inline constexpr const char* kTransitionHoldReplies[] = {"TIME", "WRAT"};
inline constexpr const char* kLevelHoldReplies[] = {"VOLT", "CURR"};
inline constexpr const char* kPolarityReplies[] = {"NORM", "INV"};
inline constexpr const char* kMathReplies[] = {"OFF", "PLUS"};
inline constexpr const char* kTriggerSourceReplies[] = {"IMM", "INT2", "EXT2"};
inline constexpr const char* kSlopeReplies[] = {"POS", "NEG", "EITH"};
inline constexpr const char* kSenseReplies[] = {"EDGE", "LEV"};
inline constexpr const char* kArmSourceReplies[] = {"IMM",   "INT2",  "EXT",   "MAN",   "ECLT0",
                                                    "ECLT1", "TTLT0", "TTLT1", "TTLT2", "TTLT3",
                                                    "TTLT4", "TTLT5", "TTLT6", "TTLT7"};
inline constexpr const char* kVxiLineReplies[] = {"ECLT0", "ECLT1", "TTLT0", "TTLT1", "TTLT2", "TTLT3",
                                                  "TTLT4", "TTLT5", "TTLT6", "TTLT7", "NONE"};
inline constexpr const char* kLevelKindReplies[] = {"TTL", "ECL", "STA"};
inline constexpr const char* kVxiSourceReplies[] = {"TRIG", "STR", "SSTR"};
inline constexpr const char* kUpdateReplies[] = {"OFF", "ONCE", "CONT"};
inline constexpr const char* kFormatReplies[] = {"ASC", "BIN"};
inline constexpr const char* kSignalReplies[] = {"NRZ", "RZ"};
inline constexpr const char* kReferenceReplies[] = {"CLK", "INT1", "INT2"};
inline constexpr int kFirstVxiArmSource = 4;

// Set or query of a value in a range; the query takes MIN/MAX/DEF.
inline bool set_value(Call& c, unsigned units, const Range& r, double& out) {
  return c.expect(1, 1) && c.real(0, units, r, out);
}
inline void query_value(Call& c, const Range& r, double value) {
  double limit = 0;
  if (c.query_limit(r, limit)) {
    if (!c.failed()) c.reply_real(limit);
    return;
  }
  c.reply_real(value);
}

inline bool set_choice(Call& c, std::initializer_list<std::string_view> forms, int& out) {
  return c.expect(1, 1) && c.choice(0, forms, out);
}
inline bool set_bool(Call& c, bool& out) {
  return c.expect(1, 1) && c.boolean(0, out);
}

// Which unit a numeric parameter was written in, falling back to the default.
inline int unit_index(const Numeric& n, int default_unit) {
  switch (n.unit) {
    case Unit::kSecond:
      return 0;
    case Unit::kPercent:
      return 1;
    case Unit::kDegree:
      return 2;
    case Unit::kRadian:
      return 3;
    default:
      return default_unit;
  }
}

inline double full_turn(int unit) {
  switch (unit) {
    case 1:
      return 100;
    case 2:
      return 360;
    case 3:
      return 2 * std::numbers::pi;
    default:
      return 0;
  }
}

}  // namespace pgx::sim::pg
