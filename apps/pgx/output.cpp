#include "apps/pgx/output.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "automation/safearray.h"
#include "automation/vartype_info.h"

namespace pgx::cli {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

// The value with VT_BYREF resolved.
VARIANT Dereferenced(const VARIANT& v) {
  VARIANT out = v;
  if (!(v.vt & VT_BYREF) || !v.byref) return out;
  if (v.vt == (VT_BYREF | VT_VARIANT)) return *v.pvarVal;
  out.vt = static_cast<VARTYPE>(v.vt & ~VT_BYREF);
  out.llVal = 0;
  const std::size_t bytes = (out.vt & VT_ARRAY) ? sizeof(SAFEARRAY*) : auto_::detail::ValueBytes(out.vt);
  std::memcpy(&out.llVal, v.byref, bytes);
  return out;
}

std::string ObjectName(IDispatch* object) {
  if (!object) return "Nothing";
  std::string name = "<";  // appended, not "<" + name: g++ 12 warns falsely (-Wrestrict) on that
  name.append(InterfaceInfo::NameOf(object).value_or("object")).append(">");
  return name;
}

std::vector<BYTE> ByteArray(SAFEARRAY* array) {
  std::vector<BYTE> bytes;
  if (!array) return bytes;
  auto_::SafeArrayData<BYTE> data(array);
  if (FAILED(data.status())) return bytes;
  bytes.assign(data.data(), data.data() + auto_::SafeArrayElementCount(array));
  return bytes;
}

}  // namespace

std::string HexCode(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string VarTypeName(VARTYPE vt) {
  static const std::pair<VARTYPE, const char*> names[] = {
      {VT_EMPTY, "VT_EMPTY"},     {VT_NULL, "VT_NULL"},
      {VT_I2, "VT_I2"},           {VT_I4, "VT_I4"},
      {VT_R4, "VT_R4"},           {VT_R8, "VT_R8"},
      {VT_CY, "VT_CY"},           {VT_DATE, "VT_DATE"},
      {VT_BSTR, "VT_BSTR"},       {VT_DISPATCH, "VT_DISPATCH"},
      {VT_ERROR, "VT_ERROR"},     {VT_BOOL, "VT_BOOL"},
      {VT_VARIANT, "VT_VARIANT"}, {VT_UNKNOWN, "VT_UNKNOWN"},
      {VT_I1, "VT_I1"},           {VT_UI1, "VT_UI1"},
      {VT_UI2, "VT_UI2"},         {VT_UI4, "VT_UI4"},
      {VT_I8, "VT_I8"},           {VT_UI8, "VT_UI8"},
      {VT_INT, "VT_INT"},         {VT_UINT, "VT_UINT"},
      {VT_RECORD, "VT_RECORD"}};
  std::string prefix;
  if (vt & VT_BYREF) prefix += "VT_BYREF|";
  if (vt & VT_ARRAY) prefix += "VT_ARRAY|";
  const VARTYPE base = static_cast<VARTYPE>(vt & ~(VT_BYREF | VT_ARRAY));
  for (const auto& [code, name] : names) {
    if (code == base) return prefix + name;
  }
  return prefix + std::to_string(base);
}

std::string ConstantName(const Value& value, const Library& library) {
  if (!value.type.IsEnum()) return {};
  auto_::Variant number;
  const VARIANT plain = Dereferenced(value.value);
  if (FAILED(VariantChangeType(&number, &plain, 0, VT_I4))) return {};
  return library.NameOf(value.type.name, number.lVal);
}

std::string PlainText(const Value& value, const Library& library) {
  const VARIANT v = Dereferenced(value.value);
  switch (v.vt) {
    case VT_EMPTY:
      return {};
    case VT_NULL:
      return "Null";
    case VT_BOOL:
      return v.boolVal ? "True" : "False";
    case VT_R4:
      return Number(v.fltVal);
    case VT_R8:
      return Number(v.dblVal);
    case VT_BSTR:
      return Utf8(v.bstrVal);
    case VT_DISPATCH:
      return ObjectName(v.pdispVal);
    case VT_UNKNOWN:
      return v.punkVal ? "<IUnknown>" : "Nothing";
    case VT_ERROR:
      return v.scode == DISP_E_PARAMNOTFOUND ? "Missing" : "Error " + HexCode(v.scode);
    case VT_ARRAY | VT_UI1: {
      std::string out = "[";
      for (BYTE b : ByteArray(v.parray)) out += (out.size() > 1 ? ", " : "") + std::to_string(b);
      return out + "]";
    }
    default:
      break;
  }
  auto_::Variant text;
  if (FAILED(VariantChangeType(&text, &v, 0, VT_BSTR)))
    return std::string("<").append(VarTypeName(v.vt)).append(">");
  std::string shown = Utf8(text.bstrVal);
  if (const std::string name = ConstantName(value, library); !name.empty()) return name + " (" + shown + ")";
  return shown;
}

nlohmann::json JsonValue(const VARIANT& value) {
  const VARIANT v = Dereferenced(value);
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return nullptr;
    case VT_I1:
      return v.cVal;
    case VT_UI1:
      return v.bVal;
    case VT_I2:
      return v.iVal;
    case VT_UI2:
      return v.uiVal;
    case VT_I4:
    case VT_INT:
      return v.lVal;
    case VT_UI4:
    case VT_UINT:
      return v.ulVal;
    case VT_I8:
      return v.llVal;
    case VT_UI8:
      return v.ullVal;
    case VT_R4:
      return std::isfinite(v.fltVal) ? nlohmann::json(v.fltVal) : nlohmann::json(nullptr);
    case VT_R8:
      return std::isfinite(v.dblVal) ? nlohmann::json(v.dblVal) : nlohmann::json(nullptr);
    case VT_BOOL:
      return v.boolVal != VARIANT_FALSE;
    case VT_BSTR:
      return Utf8(v.bstrVal);
    case VT_DISPATCH: {
      if (!v.pdispVal) return nullptr;
      return {{"interface", InterfaceInfo::NameOf(v.pdispVal).value_or("IDispatch")}};
    }
    case VT_UNKNOWN:
      return v.punkVal ? nlohmann::json{{"interface", "IUnknown"}} : nlohmann::json(nullptr);
    case VT_ERROR:
      return {{"error", HexCode(v.scode)}};
    case VT_ARRAY | VT_UI1:
      return ByteArray(v.parray);
    default:
      break;
  }
  auto_::Variant text;
  if (FAILED(VariantChangeType(&text, &v, 0, VT_BSTR))) return nullptr;
  return Utf8(text.bstrVal);
}

std::string JsonLine(const nlohmann::json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Reporter::Where(int line) const {
  return line > 0 ? "line " + std::to_string(line) + ": " : "";
}

void Reporter::MemberFailed(const Failure& failure, int statement, int line, const std::string& path) {
  if (json_) {
    nlohmann::json object;
    if (statement > 0) object["statement"] = statement;
    object["path"] = path.empty() ? failure.member : path;
    object["error"] = {{"hresult", HexCode(failure.hr)},
                       {"description", failure.description},
                       {"source", failure.source},
                       {"member", failure.member}};
    out_ << JsonLine(object) << '\n' << std::flush;
    return;
  }
  // A description of several lines (a driver's message under the server's) keeps its lines, indented.
  std::string description = failure.description.empty() ? "(no description)" : failure.description;
  while (!description.empty() && description.back() == '\n') description.pop_back();
  std::string indented;
  for (char c : description) {
    indented += c;
    if (c == '\n') indented += "    ";
  }
  err_ << "pgx: " << Where(line) << failure.member << " failed: " << HexCode(failure.hr) << ' ' << indented
       << '\n'
       << std::flush;
}

void Reporter::BadInput(const std::string& message, int statement, int line, const std::string& path) {
  if (json_) {
    nlohmann::json object;
    if (statement > 0) object["statement"] = statement;
    if (!path.empty()) object["path"] = path;
    object["error"] = {{"hresult", nullptr}, {"description", message}, {"source", "pgx"}};
    out_ << JsonLine(object) << '\n' << std::flush;
    return;
  }
  err_ << "pgx: " << Where(line) << message << '\n' << std::flush;
}

}  // namespace pgx::cli
