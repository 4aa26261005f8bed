#include "visa/resource_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pgx::visa {
namespace {

struct Canonical {
  const char* text;
  const char* canonical;
  ViUInt16 interface_type;
  ViUInt16 board;
};

TEST(VisaResourceName, ValidNamesParseToTheirCanonicalForm) {
  const Canonical cases[] = {
      {"GPIB0::10::INSTR", "GPIB0::10::INSTR", VI_INTF_GPIB, 0},
      {"gpib::7", "GPIB0::7::INSTR", VI_INTF_GPIB, 0},
      {"GPIB2::30::31::INSTR", "GPIB2::30::31::INSTR", VI_INTF_GPIB, 2},
      {"GPIB0::010::instr", "GPIB0::10::INSTR", VI_INTF_GPIB, 0},
      {"VXI::8", "VXI0::8::INSTR", VI_INTF_VXI, 0},
      {"vxi1::255::INSTR", "VXI1::255::INSTR", VI_INTF_VXI, 1},
      {"GPIB-VXI::16::INSTR", "GPIB-VXI0::16::INSTR", VI_INTF_GPIB_VXI, 0},
      {"gpib-vxi3::0", "GPIB-VXI3::0::INSTR", VI_INTF_GPIB_VXI, 3},
      {"ASRL1::INSTR", "ASRL1::INSTR", VI_INTF_ASRL, 1},
      {"asrl", "ASRL0::INSTR", VI_INTF_ASRL, 0},
      {"TCPIP::h::5025::SOCKET", "TCPIP0::h::5025::SOCKET", VI_INTF_TCPIP, 0},
      {"tcpip1::192.168.0.5::6000::socket", "TCPIP1::192.168.0.5::6000::SOCKET", VI_INTF_TCPIP, 1},
      {"TCPIP::scope.lab", "TCPIP0::scope.lab::inst0::INSTR", VI_INTF_TCPIP, 0},
      {"TCPIP0::10.0.0.1::gpib0,5::INSTR", "TCPIP0::10.0.0.1::gpib0,5::INSTR", VI_INTF_TCPIP, 0},
      // An IPv6 address holds "::", so it is written in brackets.
      {"TCPIP0::[::1]::5025::SOCKET", "TCPIP0::[::1]::5025::SOCKET", VI_INTF_TCPIP, 0},
      {"tcpip2::[fe80::1%eth0]::6000::socket", "TCPIP2::[fe80::1%eth0]::6000::SOCKET", VI_INTF_TCPIP, 2},
      {"TCPIP::[2001:db8::5]", "TCPIP0::[2001:db8::5]::inst0::INSTR", VI_INTF_TCPIP, 0},
      {"TCPIP::[::ffff:10.0.0.1]::inst1", "TCPIP0::[::ffff:10.0.0.1]::inst1::INSTR", VI_INTF_TCPIP, 0},
      // The other resource classes of each interface.
      {"GPIB0::INTFC", "GPIB0::INTFC", VI_INTF_GPIB, 0},
      {"gpib1::servant", "GPIB1::SERVANT", VI_INTF_GPIB, 1},
      {"VXI::BACKPLANE", "VXI0::0::BACKPLANE", VI_INTF_VXI, 0},
      {"VXI1::8::BACKPLANE", "VXI1::8::BACKPLANE", VI_INTF_VXI, 1},
      {"vxi0::memacc", "VXI0::MEMACC", VI_INTF_VXI, 0},
      {"VXI0::SERVANT", "VXI0::SERVANT", VI_INTF_VXI, 0},
      {"GPIB-VXI1::MEMACC", "GPIB-VXI1::MEMACC", VI_INTF_GPIB_VXI, 1},
      {"GPIB-VXI::BACKPLANE", "GPIB-VXI0::0::BACKPLANE", VI_INTF_GPIB_VXI, 0},
      {"GPIB-VXI::3::0::INSTR", "GPIB-VXI0::3::INSTR", VI_INTF_GPIB_VXI, 0},  // as PyVISA writes it
      {"TCPIP::SERVANT", "TCPIP0::SERVANT", VI_INTF_TCPIP, 0},
      {"USB::0x0957::0x1755::MY123::INSTR", "USB0::0x0957::0x1755::MY123::INSTR", VI_INTF_USB, 0},
      {"usb1::2391::6::A-1::2", "USB1::0x0957::0x0006::A-1::2::INSTR", VI_INTF_USB, 1},
      {"USB0::0xabcd::0x1::SN::RAW", "USB0::0xABCD::0x0001::SN::RAW", VI_INTF_USB, 0},
      {"PXI::15::INSTR", "PXI0::0-15::INSTR", VI_INTF_PXI, 0},
      {"PXI2::15::3", "PXI2::2-15.3::INSTR", VI_INTF_PXI, 2},
      {"PXI0::2-12.1::INSTR", "PXI0::2-12.1::INSTR", VI_INTF_PXI, 0},
      {"pxi1::chassis1::slot3", "PXI1::CHASSIS1::SLOT3::INSTR", VI_INTF_PXI, 1},
      {"PXI0::CHASSIS2::SLOT4::FUNC1::INSTR", "PXI0::CHASSIS2::SLOT4::FUNC1::INSTR", VI_INTF_PXI, 0},
      {"PXI0::MEMACC", "PXI0::MEMACC", VI_INTF_PXI, 0},
      {"PXI0::1::BACKPLANE", "PXI0::1::BACKPLANE", VI_INTF_PXI, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto name = parse_resource_name(c.text);
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(name->canonical(), c.canonical);
    EXPECT_EQ(name->interface_type, c.interface_type);
    EXPECT_EQ(name->board, c.board);
    // The canonical form is a fixed point.
    auto again = parse_resource_name(name->canonical());
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->canonical(), c.canonical);
  }
}

TEST(VisaResourceName, AddressesAreTakenApart) {
  auto gpib = parse_resource_name("GPIB0::12::3::INSTR");
  ASSERT_TRUE(gpib);
  EXPECT_EQ(gpib->primary_address, 12);
  EXPECT_EQ(gpib->secondary_address, 3);
  EXPECT_EQ(parse_resource_name("GPIB0::12")->secondary_address, VI_NO_SEC_ADDR);
  EXPECT_EQ(parse_resource_name("VXI0::24::INSTR")->logical_address, 24);
  auto socket = parse_resource_name("TCPIP0::localhost::5025::SOCKET");
  ASSERT_TRUE(socket);
  EXPECT_TRUE(socket->is_socket());
  EXPECT_EQ(socket->host, "localhost");
  EXPECT_EQ(socket->port, 5025);
  auto ipv6 = parse_resource_name("TCPIP0::[fe80::1%eth0]::5025::SOCKET");
  ASSERT_TRUE(ipv6);
  EXPECT_EQ(ipv6->host, "fe80::1%eth0");  // the address itself, as the network calls take it
  EXPECT_EQ(ipv6->port, 5025);
}

TEST(VisaResourceName, ClientsSpellSomeResourcesInMoreThanOneWay) {
  struct Case {
    const char* text;
    std::vector<std::string> others;
  };
  const Case cases[] = {
      {"GPIB0::10::INSTR", {"GPIB0::10::0::INSTR"}},
      {"GPIB0::10::0::INSTR", {"GPIB0::10::INSTR"}},
      {"GPIB0::10::3::INSTR", {}},
      {"USB0::1::2::SN::INSTR", {"USB0::0x0001::0x0002::SN::0::INSTR"}},
      {"USB0::1::2::SN::0::RAW", {"USB0::0x0001::0x0002::SN::RAW"}},
      {"VXI0::8::INSTR", {}},
      {"GPIB0::INTFC", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto name = parse_resource_name(c.text);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->other_spellings(), c.others);
  }
}

TEST(VisaResourceName, MalformedNamesAreRefused) {
  const char* cases[] = {
      "",
      "::",
      "GPIB",                   // no primary address
      "GPIB0::",                // empty address
      "GPIB0::31::INSTR",       // primary address out of range
      "GPIB0::5::32::INSTR",    // secondary address out of range
      "GPIB0::5::1::2::INSTR",  // too many addresses
      "GPIB0::-5::INSTR",       // sign
      "GPIB0:: 5::INSTR",       // blank
      "GPIB0::5x::INSTR",
      "GPIBx::5::INSTR",      // board is not a number
      "GPIB65536::5::INSTR",  // board out of range
      "GPIB0::5::SOCKET",     // SOCKET only for TCPIP
      "GPIB0::5::INSTR::INSTR",
      "VXI0::INSTR",  // no logical address
      "VXI0::256::INSTR",
      "ASRL1::5::INSTR",
      "TCPIP0::h::SOCKET",     // no port
      "TCPIP0::h::0::SOCKET",  // port 0
      "TCPIP0::h::65536::SOCKET",
      "TCPIP0::h::5025::1::SOCKET",
      "TCPIP0::::5025::SOCKET",     // no host
      "TCPIP0::h o::5025::SOCKET",  // blank in host
      "TCPIP0::h::a b::INSTR",      // bad device name
      "FIREWIRE0::1::INSTR",        // unknown interface
      "PXI0::INSTR",                // no device
      "GPIB0::5::INTFC",            // an interface has no address
      "GPIB0::MEMACC",              // not a class of GPIB
      "ASRL1::SERVANT",
      "VXI0::8::MEMACC",
      "VXI0::8::1::INSTR",
      "GPIB-VXI0::8::1::INSTR",  // only PyVISA's "0" is taken
      "USB0::1::2::INSTR",       // no serial number
      "USB0::0x10000::2::S::INSTR",
      "USB0::1::2::S N::INSTR",
      "USB0::1::2::S::256::INSTR",
      "PXI0::32::INSTR",  // device out of range
      "PXI0::1::8::INSTR",
      "PXI0::1-2.9::INSTR",
      "PXI0::CHASSIS1::INSTR",
      "PXI0::BACKPLANE",
      "GPIB0::99999999999999999999::INSTR",  // overflow
      "TCPIP0::[::1::5025::SOCKET",          // unclosed bracket
      "TCPIP0::[]::5025::SOCKET",            // empty brackets
      "TCPIP0::[::1]x::5025::SOCKET",        // text after the bracket
      "TCPIP0::[localhost]::5025::SOCKET",   // brackets are for IPv6 addresses
      "TCPIP0::[::1]]::5025::SOCKET",
      "TCPIP0::h[1]::5025::SOCKET",
      "TCPIP0::[::1]::SOCKET",  // no port
      "GPIB0::[1]::INSTR",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_resource_name(text).has_value());
  }
}

TEST(VisaResourceName, AnOverlongNameIsRefusedWithoutHarm) {
  std::string name = "TCPIP0::" + std::string(100000, 'a') + "::5025::SOCKET";
  EXPECT_FALSE(parse_resource_name(name).has_value());
}

}  // namespace
}  // namespace pgx::visa
