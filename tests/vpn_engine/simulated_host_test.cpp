// The simulated host is only worth what its strictness is worth: a command line of any form the
// engine must not emit fails the test, and names with non-ASCII letters reach the right adapter.
#include "simulated_host/simulated_host.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "simulated_host/home_machine.h"
#include "simulated_host/sim_text.h"

namespace {

TEST(SimulatedHost, RejectsEveryCommandLineOfNoKnownForm) {
  const char* const malformed[] = {
      // An unsafe adapter name pasted into quotes breaks the quoting and reaches the shell.
      "netsh interface ipv4 set dns name=\"Lab \"VM\" & Test %PATH%\" static 1.1.1.1 primary "
      "validate=no",
      "netsh interface ipv4 set dns name=\"Ethernet\nroute DELETE 0.0.0.0\" dhcp",
      "netsh interface ipv4 set dns name=Ethernet static 1.1.1.1 primary validate=no",
      "netsh interface ipv4 set dns name=\"Ethernet\" static 1.1.1.300 primary validate=no",
      "netsh interface ipv4 set dns name=\"\" dhcp",
      "route ADD 203.0.113.10 MASK 255.255.255.255 192.168.178.1  METRIC 1",
      "route add 203.0.113.10 mask 255.255.255.255 192.168.178.1 metric 1",
      "route ADD 203.0.113.10 MASK 255.255.255.255 192.168.178.1",
      "netsh interface ip set address name=\"Zelvora\" source=static addr=10.0.85.2 "
      "mask=255.255.255.0",
      "netsh advfirewall firewall add rule name=\"Zelvora Proxy Sharing\" dir=in action=allow "
      "protocol=TCP localport=1080, profile=private,domain remoteip=LocalSubnet",
      "ipconfig /flushdns ",
  };
  for (const char* line : malformed) {
    SCOPED_TRACE(line);
    simhost::SimulatedHost host(simhost::HomeMachine());
    const simhost::HostState before = host.Snapshot();
    bool ok = true;
    EXPECT_NONFATAL_FAILURE(ok = host.Run(line, 1500, false), "simulated host");
    EXPECT_FALSE(ok) << line;
    EXPECT_TRUE(host.Snapshot() == before) << line;
  }
}

TEST(SimulatedHost, FindsAdaptersByTheirUtf8NameAndReportsDnsAsWindowsDoes) {
  simhost::SimulatedHost host(simhost::HomeMachine());
  const std::string wifi =
      "WLAN K\xC3\xBC"
      "che";
  EXPECT_TRUE(host.Run("netsh interface ipv4 delete dns name=\"" + wifi + "\" all", 1500, false));
  EXPECT_TRUE(host.Run(
      "netsh interface ipv4 set dns name=\"" + wifi + "\" static 127.0.0.1 primary validate=no",
      1500, false));
  EXPECT_TRUE(
      host.Run("netsh interface ipv4 add dns name=\"" + wifi + "\" 9.9.9.9 index=2 validate=no",
               1500, false));
  std::vector<zelvora::AdapterInfo> adapters;
  ASSERT_EQ(host.ListAdapters(zelvora::AdapterListing::kAllFamilies, &adapters),
            zelvora::ReadStatus::kOk);
  std::vector<std::string> wifi_dns;
  for (const zelvora::AdapterInfo& adapter : adapters) {
    if (adapter.if_index != simhost::home::kWifiIndex) continue;
    EXPECT_TRUE(adapter.dhcpv4_enabled);  // the address's flag, not the DNS setting
    for (const zelvora::DnsServerEntry& server : adapter.dns_servers) {
      if (server.ipv4) wifi_dns.push_back(server.text);
    }
  }
  EXPECT_EQ(wifi_dns, (std::vector<std::string>{"127.0.0.1", "9.9.9.9"}));
  // Back to DHCP: the lease's server shows, the user's static servers are gone.
  EXPECT_TRUE(host.Run("netsh interface ipv4 set dns name=\"" + wifi + "\" dhcp", 1500, false));
  EXPECT_EQ(host.Snapshot().adapters[2].ReportedDnsV4(), std::vector<std::string>{"192.168.1.1"});
  // A name that is not there fails like netsh, without failing the test.
  EXPECT_FALSE(host.Run("netsh interface ipv4 set dns name=\"WLAN Kuche\" dhcp", 1500, false));
}

}  // namespace

namespace {

uint32_t LeavesThrough(const simhost::SimulatedHost& host, const char* destination,
                       const char* source = nullptr) {
  simhost::RouteChoice choice;
  if (!host.LookupRoute(simhost::Ip(destination), &choice, source ? simhost::Ip(source) : 0)) {
    return 0;
  }
  return choice.if_index;
}

// The tunnel's settings as the engine makes them, each once for the session only and once in
// the persistent store; a restart and the end of the adapter's process show which is which.
TEST(SimulatedHost, ARestartKeepsThePersistentStoreAndAProcessTakesItsAdaptersAlong) {
  using simhost::home::kEthernetIndex;
  simhost::SimulatedHost host(simhost::HomeMachine());
  const simhost::HostState home = host.Snapshot();
  // tun2socks' own adapter: Wintun renames the one that had the name, the link is up.
  const uint64_t luid = host.CreateAdapterFor(7, L"Zelvora", L"WireGuard", L"", true);
  host.CreateAdapterFor(8, L"Zelvora", L"Zelvora", L"5A656C76-0000-0000-0000-000000000001", false);
  uint32_t tunnel = 0;
  for (const simhost::Adapter& a : host.Snapshot().adapters) {
    if (a.luid == luid) {
      tunnel = a.if_index;
      EXPECT_EQ(a.name, L"Zelvora 1");
      EXPECT_EQ(a.description, L"WireGuard Tunnel");
    }
  }
  ASSERT_TRUE(
      host.Run("netsh interface ip set address name=\"Zelvora 1\" source=static "
               "addr=10.0.85.2 mask=255.255.255.0 gateway=none store=active",
               1500, true));
  ASSERT_TRUE(host.Run(
      "netsh interface ip add route 0.0.0.0/0 \"Zelvora 1\" 10.0.85.1 metric=1 store=active", 1500,
      true));
  ASSERT_TRUE(
      host.Run("route ADD 198.51.100.20 MASK 255.255.255.255 192.168.178.1 METRIC 1", 1500, true));
  ASSERT_TRUE(host.Run("netsh interface ipv4 set interface interface=\"Ethernet\" metric=4000",
                       1500, true));
  // Out through the tunnel, except a socket bound to the Ethernet address (strong host model).
  EXPECT_EQ(LeavesThrough(host, "8.8.4.4"), tunnel);
  EXPECT_EQ(LeavesThrough(host, "8.8.4.4", "192.168.178.23"), kEthernetIndex);
  EXPECT_EQ(LeavesThrough(host, "198.51.100.20"), kEthernetIndex);

  host.EndProcess(7);
  EXPECT_EQ(LeavesThrough(host, "8.8.4.4"), simhost::home::kWifiIndex);  // Ethernet's metric
  host.Reboot();
  const simhost::HostState after = host.Snapshot();
  // Gone: both Wintun adapters and the session's route. Kept: the persistent metric.
  EXPECT_EQ(after.adapters.size(), home.adapters.size());
  EXPECT_EQ(after.routes, home.routes);
  for (const simhost::Adapter& a : after.adapters) {
    if (a.if_index == kEthernetIndex) EXPECT_EQ(a.interface_metric, 4000u);
  }
  EXPECT_TRUE(after.stored_interfaces.empty());
}

}  // namespace
