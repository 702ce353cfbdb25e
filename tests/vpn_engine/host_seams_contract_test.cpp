// Contract test of the production seams. The read operations run wherever the program runs
// (under Wine in the test suite); the write operations need a real Windows machine and an
// administrator, and run only there when ZELVORA_CONTRACT_WRITES=1, on harmless objects that
// they remove again. Elsewhere each write check is skipped with what it would verify.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "vpn_engine/adapter_routes/tunnel_routes.h"
#include "vpn_engine/host/adapter_driver_win32.h"
#include "vpn_engine/host/command_runner_win32.h"
#include "vpn_engine/host/host_network_win32.h"
#include "vpn_engine/host/ipv4_text.h"

namespace {

bool WritesAllowed() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  const char* flag = std::getenv("ZELVORA_CONTRACT_WRITES");
  return !wine && flag != nullptr && std::string(flag) == "1";
}

#define SKIP_UNLESS_WRITES(what)                                                          \
  if (!WritesAllowed())                                                                   \
  GTEST_SKIP() << "needs Windows, an administrator and ZELVORA_CONTRACT_WRITES=1; would " \
                  "check: " what

TEST(HostSeamsContract, AdapterListingsReadTheMachine) {
  zelvora::Win32HostNetwork network;
  for (const auto listing : {zelvora::AdapterListing::kIpv4, zelvora::AdapterListing::kAllFamilies,
                             zelvora::AdapterListing::kAllInterfaces}) {
    std::vector<zelvora::AdapterInfo> adapters;
    ASSERT_EQ(network.ListAdapters(listing, &adapters), zelvora::ReadStatus::kOk);
    ASSERT_FALSE(adapters.empty());
    for (const zelvora::AdapterInfo& adapter : adapters) {
      EXPECT_FALSE(adapter.friendly_name.empty());
      EXPECT_NE(adapter.luid, 0u);
      for (const zelvora::UnicastAddress& address : adapter.ipv4_addresses) {
        zelvora::Ipv4Address value = 0;
        EXPECT_TRUE(zelvora::ParseIpv4(address.text, &value)) << address.text;
        EXPECT_LE(address.prefix_length, 32);
      }
      if (listing != zelvora::AdapterListing::kAllFamilies) {
        EXPECT_TRUE(adapter.dns_servers.empty());  // listings that skip DNS servers
      }
    }
  }
}

TEST(HostSeamsContract, RouteTableIsReadSortedAndGivesTheUplink) {
  zelvora::Win32HostNetwork network;
  std::vector<zelvora::Ipv4Route> routes;
  ASSERT_EQ(network.ReadIpv4Routes(&routes), zelvora::ReadStatus::kOk);
  ASSERT_FALSE(routes.empty());
  EXPECT_TRUE(std::is_sorted(routes.begin(), routes.end(),
                             [](const zelvora::Ipv4Route& a, const zelvora::Ipv4Route& b) {
                               return a.destination < b.destination;
                             }));
  for (const zelvora::Ipv4Route& route : routes) {
    EXPECT_EQ(route.destination & route.mask, route.destination);
  }
  // Wine may lack a default route, the IPv6 table, device and network listings: these may be
  // refused, but neither may crash or hang.
  bool ipv6 = false;
  zelvora::Ipv4Route best;
  network.ReadIpv6DefaultRoute(&ipv6);
  network.GetBestRoute(0x01000001u, &best);
  zelvora::Win32AdapterDriver driver;
  std::vector<zelvora::NetDevice> devices;
  uint32_t error = 0;
  std::vector<zelvora::NetworkProfile> networks;
  driver.ListNetDevices(&devices, &error);
  driver.ListNetworks(&networks);
  network.FlushResolverCache();
}

TEST(HostSeamsContract, HostRouteAddedThroughIpHelperIsReadAndDeleted) {
  SKIP_UNLESS_WRITES(
      "AddIpv4Route 192.0.2.77/32 via the uplink's gateway on its interface, metric 1, appears "
      "in the table with metric 1 + interface metric; adding it again answers 'already exists'; "
      "on an interface that is not there 'not found'; DeleteIpv4Route removes it");
  zelvora::Win32HostNetwork network;
  zelvora::Ipv4Route uplink;
  ASSERT_TRUE(zelvora::FindPhysicalUplink(network, &uplink));
  zelvora::Ipv4RouteToAdd route;
  route.destination = 0xC000024Du;  // 192.0.2.77
  route.prefix_length = 32;
  route.next_hop = uplink.next_hop;
  route.if_index = uplink.if_index;
  route.metric = 1;
  ASSERT_EQ(network.AddIpv4Route(route), 0u);
  EXPECT_EQ(network.AddIpv4Route(route), zelvora::kErrorObjectAlreadyExists);
  zelvora::Ipv4RouteToAdd nowhere = route;
  nowhere.if_index = 0x7FFFFFF0u;
  EXPECT_EQ(network.AddIpv4Route(nowhere), 1168u);  // ERROR_NOT_FOUND
  std::vector<zelvora::Ipv4Route> routes;
  ASSERT_EQ(network.ReadIpv4Routes(&routes), zelvora::ReadStatus::kOk);
  zelvora::InterfaceMetric metric;
  ASSERT_TRUE(network.GetInterfaceMetric(uplink.if_index, &metric));
  auto added = std::find_if(routes.begin(), routes.end(), [](const zelvora::Ipv4Route& r) {
    return r.destination == 0xC000024Du && r.mask == 0xFFFFFFFFu;
  });
  ASSERT_NE(added, routes.end());
  EXPECT_EQ(added->if_index, uplink.if_index);
  EXPECT_EQ(added->metric, 1 + metric.metric);
  EXPECT_TRUE(network.DeleteIpv4Route(*added));
}

TEST(HostSeamsContract, InterfaceMetricIsWrittenAndPutBack) {
  SKIP_UNLESS_WRITES(
      "SetInterfaceMetric on the uplink's interface is read back, and the original metric and "
      "automatic flag are restored");
  zelvora::Win32HostNetwork network;
  const std::string fingerprint = zelvora::GetPhysicalUplinkFingerprint(network);
  ASSERT_FALSE(fingerprint.empty());
  const uint32_t if_index = std::stoul(fingerprint.substr(fingerprint.find('|') + 1));
  zelvora::InterfaceMetric original;
  ASSERT_TRUE(network.GetInterfaceMetric(if_index, &original));
  ASSERT_TRUE(network.SetInterfaceMetric(if_index, {original.metric + 7, false}));
  zelvora::InterfaceMetric changed;
  ASSERT_TRUE(network.GetInterfaceMetric(if_index, &changed));
  EXPECT_EQ(changed.metric, original.metric + 7);
  EXPECT_FALSE(changed.automatic);
  EXPECT_TRUE(network.SetInterfaceMetric(if_index, original));
}

TEST(HostSeamsContract, AdapterDnsServersAreWrittenAndPutBack) {
  SKIP_UNLESS_WRITES(
      "SetAdapterDnsServers on the uplink's adapter lists IPv6 servers 2001:db8::53 and "
      "2001:db8::54 in that order as hand-set ones, and an empty list returns IPv6 to automatic "
      "servers (not hand-set); skipped where the uplink has hand-set IPv6 servers");
  zelvora::Win32HostNetwork network;
  const std::string fingerprint = zelvora::GetPhysicalUplinkFingerprint(network);
  ASSERT_FALSE(fingerprint.empty());
  const uint32_t if_index = std::stoul(fingerprint.substr(fingerprint.find('|') + 1));
  const auto uplink = [&]() {
    std::vector<zelvora::AdapterInfo> adapters;
    EXPECT_EQ(network.ListAdapters(zelvora::AdapterListing::kAllFamilies, &adapters),
              zelvora::ReadStatus::kOk);
    for (const zelvora::AdapterInfo& adapter : adapters) {
      if (adapter.if_index == if_index) return adapter;
    }
    ADD_FAILURE() << "no uplink adapter";
    return zelvora::AdapterInfo();
  };
  const zelvora::AdapterInfo before = uplink();
  if (before.dns_v6_static) GTEST_SKIP() << "the uplink has hand-set IPv6 servers";
  const std::vector<std::string> servers = {"2001:db8::53", "2001:db8::54"};
  const zelvora::SystemCallResult set = network.SetAdapterDnsServers(before.luid, true, servers);
  if (set == zelvora::SystemCallResult::kMissing) GTEST_SKIP() << "Windows before build 19041";
  ASSERT_EQ(set, zelvora::SystemCallResult::kDone);
  const zelvora::AdapterInfo changed = uplink();
  std::vector<std::string> listed;
  for (const zelvora::DnsServerEntry& entry : changed.dns_servers) {
    if (!entry.ipv4) listed.push_back(entry.text);
  }
  EXPECT_TRUE(changed.dns_v6_static);
  EXPECT_EQ(listed, servers);
  EXPECT_EQ(network.SetAdapterDnsServers(before.luid, true, {}), zelvora::SystemCallResult::kDone);
  EXPECT_FALSE(uplink().dns_v6_static);
}

TEST(HostSeamsContract, FirewallRuleOfTheSameNameIsAddedTwiceAndDeletedAtOnce) {
  SKIP_UNLESS_WRITES(
      "two 'netsh advfirewall firewall add rule name=\"Zelvora Contract\"' leave two rules and "
      "one 'delete rule' removes both; a second delete fails");
  zelvora::Win32CommandRunner commands;
  const std::string add =
      "netsh advfirewall firewall add rule name=\"Zelvora Contract\" dir=in action=allow "
      "protocol=TCP localport=47123 profile=private,domain remoteip=LocalSubnet";
  ASSERT_TRUE(commands.Run(add, 15000, true));
  ASSERT_TRUE(commands.Run(add, 15000, true));
  EXPECT_TRUE(commands.Run("netsh advfirewall firewall delete rule name=\"Zelvora Contract\"",
                           15000, true));
  EXPECT_FALSE(commands.Run("netsh advfirewall firewall delete rule name=\"Zelvora Contract\"",
                            15000, false));
}

}  // namespace
