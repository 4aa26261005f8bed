#include "visa/resource_name.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace pgx::visa {
namespace {

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

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

struct InterfacePrefix {
  std::string_view text;
  ViUInt16 type;
};
// Longest first, so that "GPIB-VXI" is not taken for "GPIB".
constexpr InterfacePrefix kPrefixes[] = {
    {"GPIB-VXI", VI_INTF_GPIB_VXI}, {"TCPIP", VI_INTF_TCPIP}, {"GPIB", VI_INTF_GPIB},
    {"ASRL", VI_INTF_ASRL},         {"VXI", VI_INTF_VXI},
};

}  // namespace

std::string ResourceName::interface_name() const {
  std::string_view prefix = "GPIB";
  for (const auto& p : kPrefixes)
    if (p.type == interface_type) prefix = p.text;
  return std::string(prefix) + std::to_string(board);
}

std::string ResourceName::canonical() const {
  std::string out = interface_name();
  switch (interface_type) {
    case VI_INTF_GPIB:
      out += "::" + std::to_string(primary_address);
      if (secondary_address != VI_NO_SEC_ADDR) out += "::" + std::to_string(secondary_address);
      break;
    case VI_INTF_VXI:
    case VI_INTF_GPIB_VXI:
      out += "::" + std::to_string(logical_address);
      break;
    case VI_INTF_TCPIP:
      // An IPv6 address is written in brackets: its colons would run into the "::" separators.
      out += host.find(':') == std::string::npos ? "::" + host : "::[" + host + "]";
      out += is_socket() ? "::" + std::to_string(port) : "::" + device_name;
      break;
    default:
      break;
  }
  return out + "::" + resource_class;
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

  // The resource class, when given, is the last field.
  std::vector<std::string_view> rest(fields.begin() + 1, fields.end());
  if (!rest.empty() && (iequals(rest.back(), "INSTR") || iequals(rest.back(), "SOCKET"))) {
    name.resource_class = upper(rest.back());
    rest.pop_back();
  }
  if (name.is_socket() && name.interface_type != VI_INTF_TCPIP) return std::nullopt;

  switch (name.interface_type) {
    case VI_INTF_GPIB: {
      if (rest.empty() || rest.size() > 2) return std::nullopt;
      auto primary = parse_number(rest[0], 30);
      if (!primary) return std::nullopt;
      name.primary_address = static_cast<ViUInt16>(*primary);
      if (rest.size() == 2) {
        auto secondary = parse_number(rest[1], 31);
        if (!secondary) return std::nullopt;
        name.secondary_address = static_cast<ViUInt16>(*secondary);
      }
      break;
    }
    case VI_INTF_VXI:
    case VI_INTF_GPIB_VXI: {
      if (rest.size() != 1) return std::nullopt;
      auto la = parse_number(rest[0], 255);
      if (!la) return std::nullopt;
      name.logical_address = static_cast<ViInt16>(*la);
      break;
    }
    case VI_INTF_ASRL:
      if (!rest.empty()) return std::nullopt;
      break;
    case VI_INTF_TCPIP: {
      auto host = rest.empty() ? std::nullopt : parse_host(rest[0]);
      if (!host) return std::nullopt;
      name.host = std::move(*host);
      if (name.is_socket()) {
        if (rest.size() != 2) return std::nullopt;
        auto port = parse_number(rest[1], 65535);
        if (!port || *port == 0) return std::nullopt;
        name.port = static_cast<ViUInt16>(*port);
      } else {
        if (rest.size() > 2) return std::nullopt;
        if (rest.size() == 2 && !valid_device_name(rest[1])) return std::nullopt;
        name.device_name = rest.size() == 2 ? std::string(rest[1]) : "inst0";
      }
      break;
    }
    default:
      return std::nullopt;
  }
  return name;
}

}  // namespace pgx::visa
