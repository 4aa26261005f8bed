#include "visa/resource_name.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace pgx::visa {
namespace {

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

// A decimal number of at most `max`; no sign, no blanks, at least one digit.
std::optional<unsigned> parse_number(std::string_view text, unsigned max) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// Splits at "::". A field that begins with '[' runs at least to the next ']', as an IPv6 address in
// brackets holds "::" itself.
std::vector<std::string_view> split_fields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (;;) {
    std::size_t from = 0;
    if (!text.empty() && text.front() == '[') from = std::min(text.find(']'), text.size());
    std::size_t sep = text.find("::", from);
    if (sep == std::string_view::npos) {
      fields.push_back(text);
      return fields;
    }
    fields.push_back(text.substr(0, sep));
    text.remove_prefix(sep + 2);
  }
}

// A host name or address: letters, digits and the punctuation of host names and IPv4/IPv6 addresses.
bool valid_host(std::string_view host) {
  if (host.empty() || host.size() > 255) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == ':' ||
           c == '%';
  });
}

// The host of a TCPIP name: a host name or IPv4 address, or an IPv6 address in brackets ("[::1]", given
// back without them). Nothing when it is neither.
std::optional<std::string> parse_host(std::string_view field) {
  bool bracketed = field.size() >= 2 && field.front() == '[' && field.back() == ']';
  if (bracketed) field = field.substr(1, field.size() - 2);
  if (!valid_host(field)) return std::nullopt;
  if (bracketed && field.find(':') == std::string_view::npos) return std::nullopt;  // not IPv6
  return std::string(field);
}

bool valid_device_name(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == ',' || c == '_' || c == '-' || c == '.';
  });
}

// A 16-bit USB identifier: decimal, or hexadecimal with "0x".
std::optional<unsigned> parse_usb_id(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    if (text.empty() || text.size() > 4) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
      value =
          value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                 ? c - '0'
                                                 : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
    }
    return value;
  }
  return parse_number(text, 0xFFFF);
}

// A USB serial number: printable characters without blanks.
bool valid_serial(std::string_view serial) {
  if (serial.empty() || serial.size() > 128) return false;
  return std::all_of(serial.begin(), serial.end(),
                     [](char c) { return std::isgraph(static_cast<unsigned char>(c)) && c != ':'; });
}

// "<prefix><number>" with the prefix in any case ("CHASSIS1", "slot3"); nothing when it is not.
std::optional<unsigned> prefixed_number(std::string_view field, std::string_view prefix, unsigned max) {
  if (field.size() <= prefix.size() || !iequals(field.substr(0, prefix.size()), prefix)) return std::nullopt;
  return parse_number(field.substr(prefix.size()), max);
}

struct InterfacePrefix {
  std::string_view text;
  ViUInt16 type;
};
// Longest first, so that "GPIB-VXI" is not taken for "GPIB".
constexpr InterfacePrefix kPrefixes[] = {
    {"GPIB-VXI", VI_INTF_GPIB_VXI}, {"TCPIP", VI_INTF_TCPIP}, {"GPIB", VI_INTF_GPIB}, {"ASRL", VI_INTF_ASRL},
    {"VXI", VI_INTF_VXI},           {"USB", VI_INTF_USB},     {"PXI", VI_INTF_PXI},
};

constexpr std::string_view kClasses[] = {"INSTR", "INTFC", "BACKPLANE", "MEMACC", "SERVANT", "SOCKET", "RAW"};

// Which classes each interface has.
bool class_allowed(ViUInt16 type, std::string_view cls) {
  switch (type) {
    case VI_INTF_GPIB:
      return cls == "INSTR" || cls == "INTFC" || cls == "SERVANT";
    case VI_INTF_VXI:
      return cls == "INSTR" || cls == "MEMACC" || cls == "BACKPLANE" || cls == "SERVANT";
    case VI_INTF_GPIB_VXI:
      return cls == "INSTR" || cls == "MEMACC" || cls == "BACKPLANE";
    case VI_INTF_ASRL:
      return cls == "INSTR";
    case VI_INTF_TCPIP:
      return cls == "INSTR" || cls == "SOCKET" || cls == "SERVANT";
    case VI_INTF_USB:
      return cls == "INSTR" || cls == "RAW";
    case VI_INTF_PXI:
      return cls == "INSTR" || cls == "MEMACC" || cls == "BACKPLANE";
    default:
      return false;
  }
}

bool parse_gpib(ResourceName& name, const std::vector<std::string_view>& rest) {
  if (!name.is_instr()) return rest.empty();
  if (rest.empty() || rest.size() > 2) return false;
  auto primary = parse_number(rest[0], 30);
  if (!primary) return false;
  name.primary_address = static_cast<ViUInt16>(*primary);
  if (rest.size() == 2) {
    auto secondary = parse_number(rest[1], 31);
    if (!secondary) return false;
    name.secondary_address = static_cast<ViUInt16>(*secondary);
  }
  return true;
}

bool parse_vxi(ResourceName& name, const std::vector<std::string_view>& rest) {
  const std::string& cls = name.resource_class;
  if (cls == "MEMACC" || cls == "SERVANT") return rest.empty();
  if (cls == "BACKPLANE" && rest.empty()) return true;  // the mainframe at logical address 0
  // A GPIB-VXI instrument is also written with a third field "0" (PyVISA takes GPIB-VXI for GPIB and adds
  // a secondary address of 0).
  bool pyvisa_spelling =
      name.interface_type == VI_INTF_GPIB_VXI && cls == "INSTR" && rest.size() == 2 && rest[1] == "0";
  if (rest.size() != 1 && !pyvisa_spelling) return false;
  auto la = parse_number(rest[0], 255);
  if (!la) return false;
  name.logical_address = static_cast<ViInt16>(*la);
  return true;
}

bool parse_tcpip(ResourceName& name, const std::vector<std::string_view>& rest) {
  if (name.resource_class == "SERVANT") {
    if (rest.size() > 1) return false;
    if (rest.size() == 1 && !valid_device_name(rest[0])) return false;
    name.device_name = rest.empty() ? "" : std::string(rest[0]);
    return true;
  }
  auto host = rest.empty() ? std::nullopt : parse_host(rest[0]);
  if (!host) return false;
  name.host = std::move(*host);
  if (name.is_socket()) {
    if (rest.size() != 2) return false;
    auto port = parse_number(rest[1], 65535);
    if (!port || *port == 0) return false;
    name.port = static_cast<ViUInt16>(*port);
    return true;
  }
  if (rest.size() > 2) return false;
  if (rest.size() == 2 && !valid_device_name(rest[1])) return false;
  name.device_name = rest.size() == 2 ? std::string(rest[1]) : "inst0";
  return true;
}

bool parse_usb(ResourceName& name, const std::vector<std::string_view>& rest) {
  if (rest.size() != 3 && rest.size() != 4) return false;
  auto manufacturer = parse_usb_id(rest[0]);
  auto model = parse_usb_id(rest[1]);
  if (!manufacturer || !model || !valid_serial(rest[2])) return false;
  name.usb_manufacturer_id = static_cast<ViUInt16>(*manufacturer);
  name.usb_model_code = static_cast<ViUInt16>(*model);
  name.usb_serial = std::string(rest[2]);
  if (rest.size() == 4) {
    auto interface = parse_number(rest[3], 255);
    if (!interface) return false;
    name.usb_interface = static_cast<ViInt16>(*interface);
  }
  return true;
}

bool parse_pxi(ResourceName& name, const std::vector<std::string_view>& rest) {
  const std::string& cls = name.resource_class;
  if (cls == "MEMACC") return rest.empty();
  if (cls == "BACKPLANE") {
    if (rest.size() != 1) return false;
    auto chassis = parse_number(rest[0], 65535);
    if (!chassis) return false;
    name.pxi_chassis = static_cast<ViUInt16>(*chassis);
    return true;
  }
  if (rest.empty() || rest.size() > 3) return false;
  if (auto chassis = prefixed_number(rest[0], "CHASSIS", 65535)) {
    // PXI[interface]::CHASSISn::SLOTn[::FUNCn]
    if (rest.size() < 2) return false;
    auto slot = prefixed_number(rest[1], "SLOT", 31);
    if (!slot) return false;
    auto function = rest.size() == 3 ? prefixed_number(rest[2], "FUNC", 7) : std::optional<unsigned>(0);
    if (!function) return false;
    name.pxi_form = ResourceName::PxiForm::kSlot;
    name.pxi_chassis = static_cast<ViUInt16>(*chassis);
    name.pxi_slot = static_cast<ViUInt16>(*slot);
    name.pxi_function = static_cast<ViUInt16>(*function);
    return true;
  }
  name.pxi_form = ResourceName::PxiForm::kBusDevice;
  if (std::size_t dash = rest[0].find('-'); dash != std::string_view::npos) {
    // PXI[interface]::bus-device[.function]
    if (rest.size() != 1) return false;
    std::string_view device = rest[0].substr(dash + 1);
    std::string_view function = "0";
    if (std::size_t dot = device.find('.'); dot != std::string_view::npos) {
      function = device.substr(dot + 1);
      device = device.substr(0, dot);
    }
    auto bus = parse_number(rest[0].substr(0, dash), 255);
    auto dev = parse_number(device, 31);
    auto fn = parse_number(function, 7);
    if (!bus || !dev || !fn) return false;
    name.pxi_bus = static_cast<ViUInt16>(*bus);
    name.pxi_device = static_cast<ViUInt16>(*dev);
    name.pxi_function = static_cast<ViUInt16>(*fn);
    return true;
  }
  // PXI[bus]::device[::function]: the board number is the bus.
  if (rest.size() > 2) return false;
  auto dev = parse_number(rest[0], 31);
  auto fn = rest.size() == 2 ? parse_number(rest[1], 7) : std::optional<unsigned>(0);
  if (!dev || !fn) return false;
  name.pxi_bus = name.board;
  name.pxi_device = static_cast<ViUInt16>(*dev);
  name.pxi_function = static_cast<ViUInt16>(*fn);
  return true;
}

std::string usb_id(ViUInt16 value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
  return out;
}

}  // namespace

std::string ResourceName::interface_name() const {
  std::string_view prefix = "GPIB";
  for (const auto& p : kPrefixes)
    if (p.type == interface_type) prefix = p.text;
  return std::string(prefix) + std::to_string(board);
}

std::string ResourceName::canonical() const {
  std::string out = interface_name();
  const bool instr = is_instr();
  switch (interface_type) {
    case VI_INTF_GPIB:
      if (!instr) break;
      out += "::" + std::to_string(primary_address);
      if (secondary_address != VI_NO_SEC_ADDR) out += "::" + std::to_string(secondary_address);
      break;
    case VI_INTF_VXI:
    case VI_INTF_GPIB_VXI:
      if (instr || resource_class == "BACKPLANE") out += "::" + std::to_string(logical_address);
      break;
    case VI_INTF_TCPIP:
      if (resource_class == "SERVANT") {
        if (!device_name.empty()) out += "::" + device_name;
        break;
      }
      // An IPv6 address is written in brackets: its colons would run into the "::" separators.
      out += host.find(':') == std::string::npos ? "::" + host : "::[" + host + "]";
      out += is_socket() ? "::" + std::to_string(port) : "::" + device_name;
      break;
    case VI_INTF_USB:
      out += "::" + usb_id(usb_manufacturer_id) + "::" + usb_id(usb_model_code) + "::" + usb_serial;
      if (usb_interface >= 0) out += "::" + std::to_string(usb_interface);
      break;
    case VI_INTF_PXI:
      if (resource_class == "BACKPLANE") {
        out += "::" + std::to_string(pxi_chassis);
      } else if (instr && pxi_form == PxiForm::kSlot) {
        out += "::CHASSIS" + std::to_string(pxi_chassis) + "::SLOT" + std::to_string(pxi_slot);
        if (pxi_function != 0) out += "::FUNC" + std::to_string(pxi_function);
      } else if (instr) {
        out += "::" + std::to_string(pxi_bus) + "-" + std::to_string(pxi_device);
        if (pxi_function != 0) out += "." + std::to_string(pxi_function);
      }
      break;
    default:
      break;
  }
  return out + "::" + resource_class;
}

std::vector<std::string> ResourceName::other_spellings() const {
  std::vector<std::string> others;
  ResourceName other = *this;
  if (interface_type == VI_INTF_GPIB && is_instr()) {
    if (secondary_address == VI_NO_SEC_ADDR) {
      other.secondary_address = 0;
      others.push_back(other.canonical());
    } else if (secondary_address == 0) {
      other.secondary_address = VI_NO_SEC_ADDR;
      others.push_back(other.canonical());
    }
  } else if (interface_type == VI_INTF_USB) {
    if (usb_interface < 0) {
      other.usb_interface = 0;
      others.push_back(other.canonical());
    } else if (usb_interface == 0) {
      other.usb_interface = -1;
      others.push_back(other.canonical());
    }
  }
  return others;
}

std::optional<ResourceName> parse_resource_name(std::string_view text) {
  if (text.empty() || text.size() > 512) return std::nullopt;
  std::vector<std::string_view> fields = split_fields(text);

  ResourceName name;
  std::string_view head = fields.front();
  const InterfacePrefix* prefix = nullptr;
  for (const auto& p : kPrefixes) {
    if (head.size() >= p.text.size() && iequals(head.substr(0, p.text.size()), p.text)) {
      prefix = &p;
      break;
    }
  }
  if (!prefix) return std::nullopt;
  name.interface_type = prefix->type;
  std::string_view board = head.substr(prefix->text.size());
  if (!board.empty()) {
    auto number = parse_number(board, 65535);
    if (!number) return std::nullopt;
    name.board = static_cast<ViUInt16>(*number);
  }

  // The resource class, when given, is the last field; INSTR when none is given.
  std::vector<std::string_view> rest(fields.begin() + 1, fields.end());
  if (!rest.empty()) {
    for (std::string_view cls : kClasses) {
      if (iequals(rest.back(), cls)) {
        name.resource_class = std::string(cls);
        rest.pop_back();
        break;
      }
    }
  }
  if (!class_allowed(name.interface_type, name.resource_class)) return std::nullopt;

  bool valid = false;
  switch (name.interface_type) {
    case VI_INTF_GPIB:
      valid = parse_gpib(name, rest);
      break;
    case VI_INTF_VXI:
    case VI_INTF_GPIB_VXI:
      valid = parse_vxi(name, rest);
      break;
    case VI_INTF_ASRL:
      valid = rest.empty();
      break;
    case VI_INTF_TCPIP:
      valid = parse_tcpip(name, rest);
      break;
    case VI_INTF_USB:
      valid = parse_usb(name, rest);
      break;
    case VI_INTF_PXI:
      valid = parse_pxi(name, rest);
      break;
    default:
      break;
  }
  if (!valid) return std::nullopt;
  return name;
}

}  // namespace pgx::visa
