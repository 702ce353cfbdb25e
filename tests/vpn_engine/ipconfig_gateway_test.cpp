// The ipconfig fallback over ipconfig's real English output forms.
#include "vpn_engine/ipconfig_gateway.h"

#include <gtest/gtest.h>

namespace {

struct IpconfigCase {
  const char* name;
  std::string output;
  std::string gateway;
};

const char kIpv6First[] =
    "\r\nWindows IP Configuration\r\n\r\n\r\nEthernet adapter Ethernet:\r\n\r\n"
    "   Connection-specific DNS Suffix  . : fritz.box\r\n"
    "   IPv6 Address. . . . . . . . . . . : 2a02:8108:1c0:5e00::5\r\n"
    "   Link-local IPv6 Address . . . . . : fe80::1c2d:3e4f:5a6b:7c8d%12\r\n"
    "   IPv4 Address. . . . . . . . . . . : 192.168.178.23\r\n"
    "   Subnet Mask . . . . . . . . . . . : 255.255.255.0\r\n"
    "   Default Gateway . . . . . . . . . : fe80::3a10:d5ff:fe12:3456%12\r\n"
    "                                       192.168.178.1\r\n";

const char kTunnelFirst[] =
    "\nWindows IP Configuration\n\n\nUnknown adapter Zelvora:\n\n"
    "   Connection-specific DNS Suffix  . :\n"
    "   IPv4 Address. . . . . . . . . . . : 10.0.85.2\n"
    "   Subnet Mask . . . . . . . . . . . : 255.255.255.0\n"
    "   Default Gateway . . . . . . . . . : 10.0.85.1\n\n"
    "Ethernet adapter Ethernet 2:\n\n"
    "   Media State . . . . . . . . . . . : Media disconnected\n"
    "   Connection-specific DNS Suffix  . :\n\n"
    "Wireless LAN adapter WLAN:\n\n"
    "   Connection-specific DNS Suffix  . :\n"
    "   IPv4 Address. . . . . . . . . . . : 192.168.1.57\n"
    "   Subnet Mask . . . . . . . . . . . : 255.255.255.0\n"
    "   Default Gateway . . . . . . . . . :\n\n"
    "Ethernet adapter Ethernet:\n\n"
    "   Default Gateway . . . . . . . . . : 192.168.178.1\n";

const char kGerman[] =
    "\r\nWindows-IP-Konfiguration\r\n\r\n\r\nEthernet-Adapter Ethernet:\r\n\r\n"
    "   IPv4-Adresse  . . . . . . . . . . : 192.168.178.23\r\n"
    "   Standardgateway . . . . . . . . . : 192.168.178.1\r\n";

TEST(IpconfigGateway, FirstIpv4GatewayThatIsNotTheTunnels) {
  const IpconfigCase cases[] = {
      {"IPv6 router listed first", kIpv6First, "192.168.178.1"},
      {"tunnel, unplugged and empty gateways skipped", kTunnelFirst, "192.168.178.1"},
      {"other languages give nothing", kGerman, ""},
      {"empty output", "", ""},
      {"out-of-range octets are no address",
       "   Default Gateway . . . . . . . . . : 192.168.300.1\n", ""},
  };
  for (const IpconfigCase& c : cases) {
    EXPECT_EQ(zelvora::FirstIpconfigGateway(c.output, "10.0.85.1"), c.gateway) << c.name;
  }
}

}  // namespace
