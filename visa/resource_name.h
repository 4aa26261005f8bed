#pragma once
// VISA resource names: parsing, validation and the canonical spelling.
//
//   GPIB[board]::primary[::secondary][::INSTR]     GPIB[board]::INTFC        GPIB[board]::SERVANT
//   VXI[board]::logical address[::INSTR]           VXI[board]::MEMACC        VXI[board][::la]::BACKPLANE
//   GPIB-VXI[board]::logical address[::INSTR]      GPIB-VXI[board]::MEMACC   GPIB-VXI[board][::la]::BACKPLANE
//   VXI[board]::SERVANT                            ASRL[board][::INSTR]
//   TCPIP[board]::host[::LAN device name][::INSTR] TCPIP[board]::host::port::SOCKET
//   TCPIP[board][::LAN device name]::SERVANT
//   USB[board]::manufacturer id::model code::serial number[::interface][::INSTR]   (or ::RAW)
//   PXI[bus]::device[::function][::INSTR]          PXI[interface]::bus-device[.function][::INSTR]
//   PXI[interface]::CHASSISn::SLOTn[::FUNCn][::INSTR]
//   PXI[interface]::MEMACC                         PXI[interface]::chassis::BACKPLANE

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visa/visa.h"

namespace pgx::visa {

struct ResourceName {
  ViUInt16 interface_type = VI_INTF_GPIB;  // VI_INTF_GPIB, VI_INTF_VXI, ...
  ViUInt16 board = 0;
  // "INSTR", "INTFC", "BACKPLANE", "MEMACC", "SERVANT", "SOCKET" or "RAW".
  std::string resource_class = "INSTR";

  ViUInt16 primary_address = 0;                 // GPIB
  ViUInt16 secondary_address = VI_NO_SEC_ADDR;  // GPIB; VI_NO_SEC_ADDR when the name gives none
  ViInt16 logical_address = 0;                  // VXI and GPIB-VXI (a BACKPLANE: its mainframe's)
  std::string host;                             // TCPIP
  ViUInt16 port = 0;                            // TCPIP SOCKET
  std::string device_name;                      // TCPIP INSTR ("inst0" when the name gives none), SERVANT
  ViUInt16 usb_manufacturer_id = 0;             // USB
  ViUInt16 usb_model_code = 0;                  // USB
  std::string usb_serial;                       // USB
  ViInt16 usb_interface = -1;                   // USB; -1 when the name gives none
  enum class PxiForm { kBusDevice, kSlot } pxi_form = PxiForm::kBusDevice;  // PXI INSTR
  ViUInt16 pxi_bus = 0;                                                     // PXI INSTR by bus and device
  ViUInt16 pxi_device = 0;                                                  // PXI INSTR by bus and device
  ViUInt16 pxi_function = 0;                                                // PXI INSTR
  ViUInt16 pxi_chassis = 0;  // PXI INSTR by slot, PXI BACKPLANE
  ViUInt16 pxi_slot = 0;     // PXI INSTR by slot

  bool is_socket() const { return resource_class == "SOCKET"; }
  bool is_instr() const { return resource_class == "INSTR"; }
  // The canonical spelling: upper-case interface and class, board number and class always present
  // ("TCPIP::h::5025::SOCKET" -> "TCPIP0::h::5025::SOCKET", "gpib::7" -> "GPIB0::7::INSTR").
  std::string canonical() const;
  // The interface part of the canonical name ("GPIB0", "VXI1", "TCPIP0").
  std::string interface_name() const;
  // The other canonical spellings that clients use for this same resource, to be tried when the canonical
  // one is not known: a GPIB instrument without a secondary address is also written with secondary address
  // 0 (PyVISA writes every GPIB name so), and a USB instrument without an interface number with interface 0.
  std::vector<std::string> other_spellings() const;
};

// Parses a resource name (case-insensitive). Returns nothing when it is malformed.
std::optional<ResourceName> parse_resource_name(std::string_view text);

}  // namespace pgx::visa
