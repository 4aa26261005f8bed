#pragma once
// VISA resource names: parsing, validation and the canonical spelling.

#include <optional>
#include <string>
#include <string_view>

#include "visa/visa.h"

namespace pgx::visa {

struct ResourceName {
  ViUInt16 interface_type = VI_INTF_GPIB;  // VI_INTF_GPIB, VI_INTF_VXI, ...
  ViUInt16 board = 0;
  ViUInt16 primary_address = 0;                 // GPIB
  ViUInt16 secondary_address = VI_NO_SEC_ADDR;  // GPIB; VI_NO_SEC_ADDR when the name gives none
  ViInt16 logical_address = 0;                  // VXI and GPIB-VXI
  std::string host;                             // TCPIP
  ViUInt16 port = 0;                            // TCPIP SOCKET
  std::string device_name;                      // TCPIP INSTR ("inst0" when the name gives none)
  std::string resource_class = "INSTR";         // "INSTR" or "SOCKET"

  bool is_socket() const { return resource_class == "SOCKET"; }
  // The canonical spelling: upper-case interface and class, board number and class always present
  // ("TCPIP::h::5025::SOCKET" -> "TCPIP0::h::5025::SOCKET", "gpib::7" -> "GPIB0::7::INSTR").
  std::string canonical() const;
  // The interface part of the canonical name ("GPIB0", "VXI1", "TCPIP0").
  std::string interface_name() const;
};

// Parses a resource name (case-insensitive). Returns nothing when it is malformed.
std::optional<ResourceName> parse_resource_name(std::string_view text);

}  // namespace pgx::visa
