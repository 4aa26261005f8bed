// How pgx shows values and failures: plain text for people, or one JSON object per statement for scripts
// and tests.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "apps/pgx/evaluator.h"
#include "apps/pgx/type_library.h"

namespace pgx::cli {

// "VT_R8", "VT_ARRAY|VT_UI1".
std::string VarTypeName(VARTYPE vt);
// The constant's name when the library says the value is of an enumeration; empty otherwise.
std::string ConstantName(const Value& value, const Library& library);
// For people: 2000000, 1e-08, True, PgxPulseModeBurst (1), [1, 2, 255], <IChannel>, Nothing.
std::string PlainText(const Value& value, const Library& library);
// For programs: numbers, booleans, strings, arrays, {"interface": "IChannel"}, null.
nlohmann::json JsonValue(const VARIANT& value);
// One line of JSON (invalid UTF-8 replaced).
std::string JsonLine(const nlohmann::json& object);
// "0x8004046C"
std::string HexCode(HRESULT hr);

// Where results and failures go. Plain: results on `out`, failures on `err` as
//   pgx: line 3: Channels.Item(3) failed: 0x80070057 The parameter is incorrect.
// JSON: everything on `out`, one object per line.
class Reporter {
 public:
  Reporter(std::ostream& out, std::ostream& err, bool json) : out_(out), err_(err), json_(json) {}

  bool json() const { return json_; }
  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

  // `statement` (0: none) numbers the object in JSON; `line` (0: none) names the script line in text;
  // `path` is the statement's path.
  void MemberFailed(const Failure& failure, int statement = 0, int line = 0, const std::string& path = {});
  void BadInput(const std::string& message, int statement = 0, int line = 0, const std::string& path = {});

 private:
  std::string Where(int line) const;

  std::ostream& out_;
  std::ostream& err_;
  bool json_;
};

}  // namespace pgx::cli
