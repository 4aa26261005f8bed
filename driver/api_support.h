#pragma once
// Helpers shared by the C functions: parameter statuses, caller texts, and typed reads of answers.

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/pgxgen.h"
#include "driver/scpi_text.h"
#include "driver/session.h"
#include "driver/session_table.h"

namespace pgx::driver {

// "Parameter n is invalid"; the session is parameter 1.
constexpr ViStatus parameter_error(int position) {
  return static_cast<ViStatus>(PGXGEN_ERROR_PARAMETER1 + (position - 1));
}

// A caller's command text without the blanks before it and the blanks and terminators after it.
inline std::string_view caller_text(const char* text) {
  std::string_view view(text);
  while (!view.empty() &&
         (view.back() == '\n' || view.back() == '\r' || view.back() == ' ' || view.back() == '\t')) {
    view.remove_suffix(1);
  }
  while (!view.empty() && (view.front() == ' ' || view.front() == '\t')) view.remove_prefix(1);
  return view;
}

inline bool is_finite(double value) {
  return std::isfinite(value);
}

// Reads the answer of the query in session.command() as an integer within [low, high].
inline ViStatus query_integer(Session& session, long long low, long long high, long long& value) {
  std::string_view answer;
  const ViStatus status = session.query(answer);
  if (status < VI_SUCCESS) return status;
  const auto parsed = parse_integer(answer);
  if (!parsed || *parsed < low || *parsed > high) return PGXGEN_ERROR_INVALID_RESPONSE;
  value = *parsed;
  return status;
}

inline ViStatus query_real(Session& session, double& value) {
  std::string_view answer;
  const ViStatus status = session.query(answer);
  if (status < VI_SUCCESS) return status;
  const auto parsed = parse_real(answer);
  if (!parsed) return PGXGEN_ERROR_INVALID_RESPONSE;
  value = *parsed;
  return status;
}

inline ViStatus query_bool(Session& session, bool& value) {
  std::string_view answer;
  const ViStatus status = session.query(answer);
  if (status < VI_SUCCESS) return status;
  const auto parsed = parse_bool(answer);
  if (!parsed) return PGXGEN_ERROR_INVALID_RESPONSE;
  value = *parsed;
  return status;
}

}  // namespace pgx::driver
