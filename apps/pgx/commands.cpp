#include "apps/pgx/commands.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "automation/idl_export.h"

namespace pgx::cli {
namespace {

// Columns of text, numbers aligned right.
class Table {
 public:
  explicit Table(std::vector<std::string> header, std::vector<bool> right) : right_(std::move(right)) {
    rows_.push_back(std::move(header));
  }
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  void Print(std::ostream& out) const {
    std::vector<std::size_t> widths(rows_.front().size(), 0);
    for (const auto& row : rows_) {
      for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows_) {
      if (std::all_of(row.begin(), row.end(), [](const std::string& cell) { return cell.empty(); })) continue;
      std::string line;
      for (std::size_t c = 0; c < row.size(); ++c) {
        const std::string pad(widths[c] - row[c].size(), ' ');
        line += (c ? "  " : "") + (right_[c] ? pad + row[c] : row[c] + pad);
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out << line << '\n';
    }
  }

 private:
  std::vector<bool> right_;
  std::vector<std::vector<std::string>> rows_;
};

// One field of an attribute record, read from its bytes as the library says.
std::optional<long long> ReadField(const std::vector<std::uint8_t>& bytes, const Field& field) {
  std::size_t size = 0;
  switch (field.type.vt) {
    case VT_I2:
    case VT_UI2:
      size = 2;
      break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      size = 4;
      break;
    case VT_I1:
    case VT_UI1:
      size = 1;
      break;
    default:
      return std::nullopt;
  }
  if (field.offset + size > bytes.size()) return std::nullopt;
  std::uint32_t raw = 0;
  std::memcpy(&raw, bytes.data() + field.offset, size);
  switch (field.type.vt) {
    case VT_I1:
      return static_cast<std::int8_t>(raw);
    case VT_I2:
      return static_cast<std::int16_t>(raw);
    case VT_I4:
    case VT_INT:
      return static_cast<std::int32_t>(raw);
    default:
      return raw;
  }
}

std::string InterfaceName(long long type) {
  switch (type) {
    case 1:
      return "GPIB";
    case 2:
      return "VXI";
    case 3:
      return "GPIB-VXI";
    case 4:
      return "ASRL";
    default:
      return std::to_string(type);
  }
}

std::string Hex4(long long value) {
  char text[16];
  std::snprintf(text, sizeof text, "%04llX", value & 0xFFFF);
  return text;
}

// A text value of an outcome, or empty.
std::string TextOf(const Outcome& outcome) {
  return outcome.result.value.vt == VT_BSTR ? Utf8(outcome.result.value.bstrVal) : std::string();
}

std::string Trimmed(std::string text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The front-end model of each slot in an "*OPT?" answer: "Q520A,Q520A" or "M4030A REV2".
std::vector<std::string> FrontEnds(const std::string& options) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= options.size()) {
    std::size_t comma = options.find(',', start);
    if (comma == std::string::npos) comma = options.size();
    std::string field = Trimmed(options.substr(start, comma - start));
    out.push_back(field.substr(0, field.find(' ')));
    start = comma + 1;
  }
  return out;
}

}  // namespace

int ListInstruments(Connection& connection, Reporter& reporter) {
  const Evaluator& evaluator = connection.evaluator();
  const Library& library = connection.library();
  ULONG record_size = 0;
  const std::vector<Field> fields = library.Fields("ViAttributeInfo", &record_size);
  auto field = [&](const std::vector<std::uint8_t>& bytes, const char* name) -> std::optional<long long> {
    for (const Field& f : fields) {
      if (f.name == name) return ReadField(bytes, f);
    }
    return std::nullopt;
  };
  std::string zeros;
  for (ULONG i = 0; i < std::max<ULONG>(record_size, 1); ++i) zeros += i ? ",0" : "0";

  std::string current = "Instruments.Count";
  try {
    const LONG count = evaluator.Run(connection.Root(), ParsePath(current), Action::kGet).result.value.lVal;
    Table table({"#", "Resource", "Interface", "Slot", "Logical address", "Model code", "GPIB address"},
                {true, false, false, true, true, true, true});
    for (LONG i = 1; i <= count; ++i) {
      current = "Instruments.Item(" + std::to_string(i) + ")";
      Outcome item = evaluator.Run(connection.Root(), ParsePath(current), Action::kGet);
      IDispatch* instrument = item.result.value.vt == VT_DISPATCH ? item.result.value.pdispVal : nullptr;
      if (!instrument) continue;
      current += ".Name";
      const std::string name = TextOf(evaluator.Run(instrument, ParsePath("Name"), Action::kGet));
      current = "Instruments.Item(" + std::to_string(i) + ").AttributeInfo";
      Outcome info = evaluator.Run(instrument, ParsePath("AttributeInfo([" + zeros + "])"), Action::kCall);
      std::vector<std::uint8_t> bytes;
      if (!info.out.empty())
        bytes = JsonValue(info.out.front().second.value).get<std::vector<std::uint8_t>>();
      const long long type = field(bytes, "IntfType").value_or(0);
      const bool vxi = type == 2 || type == 3;
      const bool gpib = type == 1;
      if (reporter.json()) {
        nlohmann::json object;
        object["index"] = i;
        object["name"] = name;
        object["interface"] = InterfaceName(type);
        object["slot"] = vxi ? nlohmann::json(field(bytes, "Slot").value_or(0)) : nlohmann::json(nullptr);
        object["logical_address"] =
            vxi ? nlohmann::json(field(bytes, "VxiLa").value_or(0)) : nlohmann::json(nullptr);
        object["model_code"] =
            vxi ? nlohmann::json(Hex4(field(bytes, "ModelCode").value_or(0))) : nlohmann::json(nullptr);
        object["gpib_address"] =
            gpib ? nlohmann::json(field(bytes, "GpibPriAddr").value_or(0)) : nlohmann::json(nullptr);
        nlohmann::json attributes = nlohmann::json::object();
        for (const Field& f : fields) {
          if (auto v = ReadField(bytes, f)) attributes[f.name] = *v;
        }
        object["attributes"] = attributes;
        reporter.out() << JsonLine(object) << '\n';
        continue;
      }
      const long long slot = field(bytes, "Slot").value_or(0);
      table.Add({std::to_string(i), name, InterfaceName(type),
                 vxi ? (slot < 0 ? std::string("?") : std::to_string(slot)) : "-",
                 vxi ? std::to_string(field(bytes, "VxiLa").value_or(0)) : "-",
                 vxi ? Hex4(field(bytes, "ModelCode").value_or(0)) : "-",
                 gpib ? std::to_string(field(bytes, "GpibPriAddr").value_or(0)) : "-"});
    }
    if (!reporter.json()) {
      table.Print(reporter.out());
      reporter.out() << count << (count == 1 ? " pulse generator" : " pulse generators") << " found.\n";
    }
    reporter.out() << std::flush;
    return 0;
  } catch (const MemberFailure& e) {
    reporter.MemberFailed(e.failure());
  } catch (const InputError& e) {
    reporter.BadInput(e.what(), 0, 0, current);
  }
  return 1;
}

int ShowInfo(Connection& connection, Reporter& reporter) {
  const Evaluator& evaluator = connection.evaluator();
  const Library& library = connection.library();
  int status = 0;
  // Each part is shown when it can be read; a part that fails is reported and the rest still shown.
  auto read = [&](const std::string& path) -> std::optional<Outcome> {
    try {
      return evaluator.Run(connection.Instrument(), ParsePath(path), Action::kGet);
    } catch (const MemberFailure& e) {
      reporter.MemberFailed(e.failure());
    } catch (const InputError& e) {
      reporter.BadInput(e.what(), 0, 0, path);
    }
    status = 1;
    return std::nullopt;
  };
  const auto id = read("IdString");
  const auto options = read("Options");
  const auto channels = read("Channels.Count");
  const auto version = read("Version(PgxVersionAll)");
  const auto mask = read("Restrictions.BitMask");

  const std::vector<std::string> front_ends =
      options ? FrontEnds(TextOf(*options)) : std::vector<std::string>{};
  const LONG channel_count = channels ? channels->result.value.lVal : 0;
  std::vector<std::string> missing;
  const LONG bits = mask ? mask->result.value.lVal : 0;
  for (const Constant* c : library.ConstantsOf("PgxNotImplFunctions")) {
    const bool single_bit = c->value > 0 && (c->value & (c->value - 1)) == 0;
    if (single_bit && (bits & c->value) && c->name != "PgxNotImplFunctionsEnd") missing.push_back(c->name);
  }

  if (reporter.json()) {
    nlohmann::json object;
    object["name"] = connection.InstrumentName();
    if (id) object["IdString"] = TextOf(*id);
    if (options) object["Options"] = TextOf(*options);
    if (channels) {
      object["Channels"] = nlohmann::json::array();
      for (LONG k = 1; k <= channel_count; ++k) {
        object["Channels"].push_back(
            {{"number", k},
             {"front_end", k <= static_cast<LONG>(front_ends.size()) ? front_ends[k - 1] : ""}});
      }
    }
    if (version) object["Version"] = TextOf(*version);
    if (mask) {
      object["BitMask"] = bits;
      object["missing"] = missing;
    }
    reporter.out() << JsonLine(object) << '\n' << std::flush;
    return status;
  }
  std::ostream& out = reporter.out();
  auto row = [&](const std::string& label, const std::string& text) {
    std::string shown = Trimmed(text);
    std::string indented;
    for (char c : shown) {
      indented += c;
      if (c == '\n') indented += std::string(16, ' ');
    }
    out << "  " << label << std::string(label.size() < 14 ? 14 - label.size() : 1, ' ') << indented << '\n';
  };
  out << connection.InstrumentName() << '\n';
  if (id) row("Identity", TextOf(*id));
  if (options) row("Options", TextOf(*options));
  if (channels) {
    row("Channels", std::to_string(channel_count));
    for (LONG k = 1; k <= channel_count; ++k)
      row("  Channel " + std::to_string(k),
          k <= static_cast<LONG>(front_ends.size()) ? front_ends[k - 1] : std::string("?"));
  }
  if (version) row("Version", TextOf(*version));
  if (mask) {
    std::string text = HexCode(bits);
    if (missing.empty()) {
      text += ": nothing missing";
    } else {
      // The names, as many to a line as fit in 100 columns.
      text += ": lacks";
      std::size_t column = 16 + text.size();
      for (std::size_t i = 0; i < missing.size(); ++i) {
        std::string item = missing[i];
        if (i + 1 < missing.size()) item += ',';
        if (column + 1 + item.size() > 100) {
          text += '\n';
          column = 16;
        } else {
          text += ' ';
          ++column;
        }
        text += item;
        column += item.size();
      }
    }
    row("Restrictions", text);
  }
  out << std::flush;
  return status;
}

int ListMembers(const Library& library, const std::string& name, Reporter& reporter) {
  std::ostream& out = reporter.out();
  if (!library.Known()) {
    reporter.BadInput("the server gives no type library");
    return 1;
  }
  if (name.empty()) {
    auto group = [&](const char* title, std::initializer_list<TYPEKIND> kinds) {
      Table table({title, ""}, {false, false});
      for (const Library::Type& t : library.Types()) {
        if (std::find(kinds.begin(), kinds.end(), t.kind) != kinds.end()) table.Add({"  " + t.name, t.help});
      }
      table.Print(out);
      out << '\n';
    };
    out << library.Name() << (library.Help().empty() ? "" : " - " + library.Help()) << "\n\n";
    group("Interfaces", {TKIND_INTERFACE, TKIND_DISPATCH});
    group("Enumerations", {TKIND_ENUM});
    group("Records", {TKIND_RECORD});
    group("Classes", {TKIND_COCLASS});
    out << "pgx members NAME lists the members of one.\n" << std::flush;
    return 0;
  }
  const Library::Type* type = library.FindType(name);
  if (!type) {
    reporter.BadInput(name + " is not a type of " + library.Name() + " (pgx members lists them)");
    return 1;
  }
  if (type->kind == TKIND_ENUM) {
    out << type->name << ": enumeration" << (type->help.empty() ? "" : " - " + type->help) << '\n';
    Table table({"", ""}, {false, true});
    for (const Constant* c : library.ConstantsOf(type->name))
      table.Add({"  " + c->name, std::to_string(c->value)});
    table.Print(out);
    return 0;
  }
  if (type->kind == TKIND_RECORD) {
    ULONG size = 0;
    const std::vector<Field> fields = library.Fields(type->name, &size);
    out << type->name << ": record of " << size << " bytes\n";
    Table table({"  Offset", "Type", "Field"}, {true, false, false});
    for (const Field& f : fields) table.Add({std::to_string(f.offset), f.type.Idl(), f.name});
    table.Print(out);
    return 0;
  }
  const InterfaceInfo info(type->info);
  // One line per member name: its kind (method, get, put, get/put), signature and help.
  std::vector<std::string> order;
  std::map<std::string, std::vector<const MemberForm*>> by_name;
  for (const MemberForm& m : info.Members()) {
    if (by_name[m.name].empty()) order.push_back(m.name);
    by_name[m.name].push_back(&m);
  }
  out << type->name << ": "
      << (info.Dual()                    ? "dual interface"
          : type->kind == TKIND_DISPATCH ? "dispinterface"
          : type->kind == TKIND_COCLASS  ? "class"
                                         : "interface")
      << ", " << order.size() << (order.size() == 1 ? " member" : " members")
      << (type->help.empty() ? "" : " - " + type->help) << '\n';
  Table table({"", ""}, {false, false});
  for (const std::string& member : order) {
    const std::vector<const MemberForm*>& forms = by_name[member];
    const MemberForm* get = nullptr;
    const MemberForm* put = nullptr;
    const MemberForm* method = nullptr;
    for (const MemberForm* f : forms) {
      if (f->invkind == INVOKE_PROPERTYGET)
        get = f;
      else if (f->IsPut())
        put = f;
      else
        method = f;
    }
    const MemberForm* main = method ? method : get ? get : put;
    std::string kind = method ? "method" : get && put ? "get/put" : get ? "get" : "put";
    std::string signature = member;
    const std::vector<ParamDesc> arguments = main->Arguments();
    if (!arguments.empty() || method) {
      signature += "(";
      for (std::size_t i = 0; i < arguments.size(); ++i) signature += (i ? ", " : "") + arguments[i].Idl();
      signature += ")";
    }
    TypeDesc result = main->Result();
    if (!get && put && put->PutValue()) result = put->PutValue()->type;
    if (result.vt != VT_EMPTY) signature += ": " + result.Idl();
    if (main->Hidden()) signature += "  (hidden)";
    if (!main->help.empty()) signature += "  -- " + main->help;
    table.Add({"  " + kind, signature});
  }
  table.Print(out);
  out << std::flush;
  return 0;
}

int PrintIdl(const Library& library, Reporter& reporter) {
  std::string idl;
  if (HRESULT hr = auto_::ExportIdl(library.Get(), idl); FAILED(hr)) {
    reporter.MemberFailed(Failure{hr, "the server's type library cannot be printed as IDL", "", "ExportIdl"});
    return 1;
  }
  reporter.out() << idl << std::flush;
  return 0;
}

}  // namespace pgx::cli
