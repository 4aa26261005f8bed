#include "visa/bench_config.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

namespace pgx::visa {
namespace {

constexpr std::size_t kMaxBenchFileBytes = 4u << 20;

class Reader {
 public:
  explicit Reader(const std::string& source) : source_(source) {}

  [[noreturn]] void fail(const YAML::Node& at, const std::string& what) const {
    fail_at(at.Mark().line, what);
  }
  [[noreturn]] void fail_at(int zero_based_line, const std::string& what) const {
    std::string where = source_;
    if (zero_based_line >= 0) where += ":" + std::to_string(zero_based_line + 1);
    throw BenchError(where + ": " + what);
  }

  std::string text(const YAML::Node& node, const std::string& key) const {
    if (!node.IsScalar()) fail(node, "\"" + key + "\" must be a single value");
    return node.Scalar();
  }

  // A whole number written in decimal ("12", "-1") or hexadecimal ("0x0FFF"). A decimal number with a
  // leading zero is refused: whether "010" means 8 or 10 is anybody's guess.
  long long integer(const YAML::Node& node, const std::string& key, long long min, long long max) const {
    std::string value = text(node, key);
    std::string_view digits = value;
    bool negative = !digits.empty() && digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      base = 16;
      digits.remove_prefix(2);
    } else if (digits.size() > 1 && digits[0] == '0') {
      fail(node, "\"" + key + "\" must be a whole number in decimal or hexadecimal (0x...), not \"" + value +
                     "\" (a leading zero is not read as octal)");
    }
    bool valid = !digits.empty() && std::all_of(digits.begin(), digits.end(), [base](char c) {
      return base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '9');
    });
    errno = 0;
    long long number = valid ? std::strtoll(std::string(digits).c_str(), nullptr, base) : 0;
    if (!valid || errno != 0) fail(node, "\"" + key + "\" must be a whole number, not \"" + value + "\"");
    if (negative) number = -number;
    if (number < min || number > max)
      fail(node, "\"" + key + "\" must be from " + std::to_string(min) + " to " + std::to_string(max) +
                     ", not " + value);
    return number;
  }

  // Refuses a key that the map gives twice (the file format would silently keep only one of them).
  void check_unique_keys(const YAML::Node& map) const {
    std::set<std::string> seen;
    for (const auto& entry : map) {
      const std::string& key = entry.first.Scalar();
      if (!seen.insert(key).second) fail(entry.first, "\"" + key + "\" is given twice");
    }
  }

  // Refuses keys that are not allowed, and keys given twice.
  void check_keys(const YAML::Node& map, const std::set<std::string>& allowed,
                  const std::string& what) const {
    for (const auto& entry : map) {
      std::string key = entry.first.Scalar();
      if (!allowed.count(key)) fail(entry.first, "unknown key \"" + key + "\" in " + what);
    }
    check_unique_keys(map);
  }

 private:
  std::string source_;
};

const std::set<std::string> kResourceKeys = {"name",
                                             "alias",
                                             "interface",
                                             "board",
                                             "primary-address",
                                             "secondary-address",
                                             "logical-address",
                                             "slot",
                                             "manufacturer-id",
                                             "model-code",
                                             "manufacturer-name",
                                             "model-name",
                                             "kind",
                                             "model",
                                             "front-ends",
                                             "serial",
                                             "firmware",
                                             "faults"};
const std::set<std::string> kFaultKeys = {"scripted-replies", "queued-errors", "reply-delay-ms",
                                          "garbage-reply", "drop-after-messages"};

struct InterfaceKey {
  const char* text;
  ViUInt16 type;
};
constexpr InterfaceKey kInterfaces[] = {
    {"gpib", VI_INTF_GPIB}, {"vxi", VI_INTF_VXI}, {"gpib-vxi", VI_INTF_GPIB_VXI}, {"asrl", VI_INTF_ASRL}};

ResourceName read_name(const Reader& r, const YAML::Node& res) {
  ResourceName name;
  bool named = bool(res["name"]);
  if (named) {
    std::string text = r.text(res["name"], "name");
    auto parsed = parse_resource_name(text);
    if (!parsed) r.fail(res["name"], "\"" + text + "\" is not a valid resource name");
    if (parsed->interface_type == VI_INTF_TCPIP)
      r.fail(res["name"],
             "\"" + text + "\": TCPIP resources are real network connections, not bench instruments");
    if (parsed->interface_type == VI_INTF_USB || parsed->interface_type == VI_INTF_PXI)
      r.fail(res["name"], "\"" + text + "\": the bench has GPIB, VXI, GPIB-VXI and ASRL instruments only");
    if (!parsed->is_instr())
      r.fail(res["name"], "\"" + text +
                              "\" is not an instrument (INSTR); the interfaces and backplanes come with the "
                              "instruments on them");
    name = *parsed;
  } else if (!res["interface"]) {
    r.fail(res, "a resource needs a \"name\" or an \"interface\"");
  }

  auto agree = [&](const char* key, long long given, long long from_name) {
    if (named && given != from_name)
      r.fail(res[key], std::string("\"") + key + "\" does not agree with the resource name");
  };
  if (res["interface"]) {
    std::string text = r.text(res["interface"], "interface");
    const InterfaceKey* found = nullptr;
    for (const auto& k : kInterfaces)
      if (text == k.text) found = &k;
    if (!found) r.fail(res["interface"], "unknown interface \"" + text + "\" (gpib, vxi, gpib-vxi or asrl)");
    agree("interface", found->type, name.interface_type);
    name.interface_type = found->type;
  }
  if (res["board"]) {
    auto board = r.integer(res["board"], "board", 0, 65535);
    agree("board", board, name.board);
    name.board = static_cast<ViUInt16>(board);
  }
  bool gpib = name.interface_type == VI_INTF_GPIB;
  bool vxi = name.interface_type == VI_INTF_VXI || name.interface_type == VI_INTF_GPIB_VXI;
  if (res["primary-address"]) {
    if (!gpib) r.fail(res["primary-address"], "only a GPIB resource has a \"primary-address\"");
    auto primary = r.integer(res["primary-address"], "primary-address", 0, 30);
    agree("primary-address", primary, name.primary_address);
    name.primary_address = static_cast<ViUInt16>(primary);
  } else if (gpib && !named) {
    r.fail(res, "a GPIB resource needs a \"primary-address\"");
  }
  if (res["secondary-address"]) {
    if (!gpib) r.fail(res["secondary-address"], "only a GPIB resource has a \"secondary-address\"");
    auto secondary = r.integer(res["secondary-address"], "secondary-address", 0, 31);
    agree("secondary-address", secondary, name.secondary_address);
    name.secondary_address = static_cast<ViUInt16>(secondary);
  }
  if (res["logical-address"]) {
    if (!vxi) r.fail(res["logical-address"], "only a VXI resource has a \"logical-address\"");
    auto la = r.integer(res["logical-address"], "logical-address", 0, 255);
    agree("logical-address", la, name.logical_address);
    name.logical_address = static_cast<ViInt16>(la);
  } else if (vxi && !named) {
    r.fail(res, "a VXI resource needs a \"logical-address\"");
  }
  return name;
}

sim::FaultConfig read_faults(const Reader& r, const YAML::Node& node) {
  sim::FaultConfig faults;
  if (!node.IsMap()) r.fail(node, "\"faults\" must be a map");
  r.check_keys(node, kFaultKeys, "\"faults\"");
  if (auto replies = node["scripted-replies"]) {
    if (!replies.IsMap()) r.fail(replies, "\"scripted-replies\" must map a query to its reply");
    r.check_unique_keys(replies);
    for (const auto& entry : replies)
      faults.scripted_replies[r.text(entry.first, "scripted-replies")] =
          r.text(entry.second, "scripted-replies");
  }
  if (auto errors = node["queued-errors"]) {
    if (!errors.IsSequence()) r.fail(errors, "\"queued-errors\" must be a list of {code, text}");
    for (const auto& error : errors) {
      if (!error.IsMap() || !error["code"]) r.fail(error, "a queued error needs a \"code\" and a \"text\"");
      r.check_keys(error, {"code", "text"}, "a queued error");
      int code = static_cast<int>(r.integer(error["code"], "code", -32768, 32767));
      std::string text = error["text"] ? r.text(error["text"], "text") : "";
      faults.queued_errors.emplace_back(code, text);
    }
  }
  if (auto delay = node["reply-delay-ms"])
    faults.reply_delay = std::chrono::milliseconds(r.integer(delay, "reply-delay-ms", 0, 3600000));
  if (auto garbage = node["garbage-reply"]) faults.garbage_reply = r.text(garbage, "garbage-reply");
  if (auto drop = node["drop-after-messages"])
    faults.drop_after_messages = static_cast<int>(r.integer(drop, "drop-after-messages", -1, 1 << 30));
  return faults;
}

BenchResource read_resource(const Reader& r, const YAML::Node& res) {
  if (!res.IsMap()) r.fail(res, "each resource must be a map of keys");
  r.check_keys(res, kResourceKeys, "a resource");
  BenchResource out;
  out.name = read_name(r, res);
  bool vxi = out.name.interface_type == VI_INTF_VXI || out.name.interface_type == VI_INTF_GPIB_VXI;
  for (const char* key : {"slot", "manufacturer-id", "model-code", "manufacturer-name", "model-name"})
    if (res[key] && !vxi) r.fail(res[key], std::string("only a VXI resource has a \"") + key + "\"");
  if (res["slot"]) out.slot = static_cast<ViInt16>(r.integer(res["slot"], "slot", -1, 255));
  if (res["manufacturer-id"])
    out.manufacturer_id =
        static_cast<ViUInt16>(r.integer(res["manufacturer-id"], "manufacturer-id", 0, 0x0FFF));
  if (res["model-code"])
    out.model_code = static_cast<ViUInt16>(r.integer(res["model-code"], "model-code", 0, 0xFFFF));
  if (res["manufacturer-name"]) out.manufacturer_name = r.text(res["manufacturer-name"], "manufacturer-name");
  if (res["alias"]) {
    out.alias = r.text(res["alias"], "alias");
    bool plain = !out.alias.empty() && out.alias.size() <= 64 &&
                 std::all_of(out.alias.begin(), out.alias.end(), [](char c) {
                   return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
                 });
    if (!plain)
      r.fail(res["alias"], "alias \"" + out.alias + "\" must be 1 to 64 letters, digits, '_', '-' or '.'");
    if (parse_resource_name(out.alias))
      r.fail(res["alias"], "alias \"" + out.alias + "\" reads as a resource name");
  }
  if (res["model-name"]) out.model_name = r.text(res["model-name"], "model-name");

  sim::DeviceConfig& device = out.device;
  if (res["kind"]) device.kind = r.text(res["kind"], "kind");
  if (res["model"]) device.model = r.text(res["model"], "model");
  if (auto front_ends = res["front-ends"]) {
    if (front_ends.IsScalar()) {
      device.front_ends.push_back(front_ends.Scalar());
    } else if (front_ends.IsSequence()) {
      for (const auto& fe : front_ends) device.front_ends.push_back(r.text(fe, "front-ends"));
    } else {
      r.fail(front_ends, "\"front-ends\" must be a list of front-end models");
    }
  }
  if (res["serial"]) device.serial = r.text(res["serial"], "serial");
  if (res["firmware"]) device.firmware = r.text(res["firmware"], "firmware");
  if (res["faults"]) device.faults = read_faults(r, res["faults"]);
  if (out.model_name.empty()) out.model_name = device.model;
  if (vxi) device.vxi = sim::VxiIdentity{out.manufacturer_id, out.model_code};

  // Benchtop front-ends (Q5xx) live on GPIB, module front-ends (M40xx) in a VXI mainframe.
  if (device.kind == "pulse-generator") {
    for (const auto& fe : device.front_ends) {
      bool module = fe.rfind("M4", 0) == 0, benchtop = fe.rfind("Q5", 0) == 0;
      if (vxi && benchtop)
        r.fail(res["front-ends"],
               "front-end " + fe + " is a benchtop model; a VXI resource holds M40xx modules");
      if (!vxi && module)
        r.fail(res["front-ends"],
               "front-end " + fe + " is a VXI module; a GPIB resource holds Q5xx front-ends");
    }
  }

  try {
    (void)sim::make_device(device);
  } catch (const std::exception& e) {
    r.fail(res["front-ends"] ? res["front-ends"] : res, e.what());
  }
  return out;
}

}  // namespace

BenchConfig parse_bench(const std::string& yaml_text, const std::string& source) {
  Reader r(source);
  YAML::Node root;
  try {
    root = YAML::Load(yaml_text);
  } catch (const YAML::Exception& e) {
    r.fail_at(e.mark.line, e.msg);
  }
  BenchConfig bench;
  bench.source = source;
  if (!root.IsMap() || !root["resources"])
    r.fail_at(root ? root.Mark().line : 0, "expected a map with \"resources\"");
  r.check_keys(root, {"resources"}, "the bench");
  YAML::Node resources = root["resources"];
  if (!resources.IsSequence()) r.fail(resources, "\"resources\" must be a list");
  std::set<std::string> names;
  std::set<std::string> aliases;  // in lower case: an alias is found whatever its case
  try {
    for (const auto& res : resources) {
      BenchResource resource = read_resource(r, res);
      if (!names.insert(resource.name.canonical()).second)
        r.fail(res, "resource " + resource.name.canonical() + " is listed twice");
      std::string alias = resource.alias;
      std::transform(alias.begin(), alias.end(), alias.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (!alias.empty() && !aliases.insert(alias).second)
        r.fail(res["alias"], "alias \"" + resource.alias + "\" is given twice");
      bench.resources.push_back(std::move(resource));
    }
  } catch (const YAML::Exception& e) {
    r.fail_at(e.mark.line, e.msg);
  }
  return bench;
}

BenchConfig load_bench_file(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored))
    throw BenchFileUnreadable(path + ": cannot be read: it is a folder, not a bench file");
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw BenchFileUnreadable(path + ": cannot be read" +
                              (errno ? std::string(": ") + std::strerror(errno) : ""));
  // Read at most a little more than any bench file needs, so that a device file cannot exhaust memory.
  std::string text(kMaxBenchFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) throw BenchFileUnreadable(path + ": cannot be read");
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxBenchFileBytes)
    throw BenchError(path + ": is larger than " + std::to_string(kMaxBenchFileBytes >> 20) +
                     " MiB, too large for a bench file");
  return parse_bench(text, path);
}

BenchConfig default_bench() {
  return parse_bench(default_bench_text(), "built-in bench");
}

}  // namespace pgx::visa
