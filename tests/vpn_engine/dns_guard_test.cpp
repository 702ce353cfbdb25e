// The DNS guard over the simulated filtering engine. Leak-freedom is asserted as behaviour: the
// simulation answers whether a packet from a given program on a given interface would get out.
#include "vpn_engine/dns_protection/dns_guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulated_host/simulated_filtering_engine.h"
#include "support/captured_log.h"

namespace {

// Interface LUIDs as Windows builds them: interface type in the top 16 bits, index below.
constexpr uint64_t kEthernetLuid = 0x0006000001000000ull;  // IF_TYPE_ETHERNET_CSMACD
constexpr uint64_t kWifiLuid = 0x0047000002000000ull;      // IF_TYPE_IEEE80211
constexpr uint64_t kTunnelLuid = 0x0035000008000000ull;    // IF_TYPE_PROP_VIRTUAL (Wintun)
constexpr uint64_t kLoopbackLuid = 0x0018000000000000ull;  // IF_TYPE_SOFTWARE_LOOPBACK

const std::string kXrayPath =
    "C:\\Users\\Zo\xC3\xAB M\xC3\xBCller\\AppData\\Local\\Zelvora VPN\\xray\\xray.exe";
const std::wstring kXrayWide =
    L"C:\\Users\\Zo\u00EB M\u00FCller\\AppData\\Local\\Zelvora VPN\\xray\\xray.exe";
const std::string kBrowser = "C:\\Program Files\\Mozilla Firefox\\firefox.exe";
const std::string kSvchost = "C:\\Windows\\System32\\svchost.exe";

class DnsGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCapturedLog();
    wfp_.AddProgram(kXrayWide);
  }

  bool Allowed(const std::string& program, bool tcp, const std::string& remote, uint16_t port,
               uint64_t luid) const {
    return wfp_.WouldAllow({program, tcp, remote, port, luid});
  }

  // The guard leaves nothing behind in the engine.
  void ExpectNothingInstalled() const {
    EXPECT_TRUE(wfp_.CommittedFilters().empty());
    EXPECT_FALSE(wfp_.SublayerPresent(kDnsGuardSublayerKey));
    EXPECT_FALSE(wfp_.ProviderPresent(kDnsGuardProviderKey));
  }

  SimulatedFilteringEngine wfp_;
};

TEST_F(DnsGuardTest, BlocksEveryLeakButTheCoresOwnQueriesToItsServers) {
  const struct {
    std::vector<std::string> servers;
    std::vector<std::string> permitted;
    std::vector<std::string> refused;
  } cases[] = {
      // clang-format off
      {{"1.1.1.1"}, {"1.1.1.1"}, {"8.8.8.8"}},
      {{"9.9.9.9", "149.112.112.112"}, {"9.9.9.9", "149.112.112.112"}, {"1.1.1.1"}},
      {{"8.8.8.8", "dns.google", "8.8.8.8", "1.1.1.1", "9.9.9.9", "", "208.67.222.222", "94.140.14.14"},
       {"8.8.8.8", "1.1.1.1", "9.9.9.9", "208.67.222.222", "94.140.14.14"}, {"8.8.4.4"}},
      // As many as the guard can let the core reach.
      {{"1.1.1.1", "1.0.0.1", "8.8.8.8", "8.8.4.4", "9.9.9.9", "149.112.112.112", "94.140.14.14", "94.140.15.15"},
       {"1.1.1.1", "1.0.0.1", "8.8.8.8", "8.8.4.4", "9.9.9.9", "149.112.112.112", "94.140.14.14", "94.140.15.15"},
       {"208.67.222.222"}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.servers.size());
    ClearCapturedLog();
    DnsGuard guard(wfp_);
    ASSERT_TRUE(guard.Install(kTunnelLuid, kXrayPath, c.servers));
    for (const bool tcp : {false, true}) {
      for (const auto& host : c.permitted) {
        EXPECT_TRUE(Allowed(kXrayPath, tcp, host, 53, kEthernetLuid)) << host;
        EXPECT_FALSE(Allowed(kBrowser, tcp, host, 53, kEthernetLuid)) << host;
        EXPECT_FALSE(Allowed(kSvchost, tcp, host, 53, kWifiLuid)) << host;
      }
      for (const auto& host : c.refused) {
        EXPECT_FALSE(Allowed(kXrayPath, tcp, host, 53, kEthernetLuid)) << host;
      }
      // DNS through the tunnel, and ordinary traffic outside it, go on as before.
      EXPECT_TRUE(Allowed(kSvchost, tcp, "8.8.8.8", 53, kTunnelLuid));
      EXPECT_TRUE(Allowed(kBrowser, tcp, "2001:4860:4860::8888", 53, kTunnelLuid));
      EXPECT_TRUE(Allowed(kBrowser, tcp, "142.250.185.78", 443, kEthernetLuid));
      // IPv6 leaves only through the tunnel, whatever the port.
      EXPECT_FALSE(Allowed(kBrowser, tcp, "2001:4860:4860::8888", 53, kWifiLuid));
      EXPECT_FALSE(Allowed(kXrayPath, tcp, "2a00:1450:4001:82b::200e", 443, kEthernetLuid));
    }
    // The machine's own traffic: loopback services (a local DNS forwarder included), DHCP and
    // DHCPv6 renewals, neighbour discovery (ICMPv6 type 135; an echo request, 128, is ordinary
    // IPv6 traffic).
    // clang-format off
    const std::pair<SimPacket, bool> own[] = {
        // program, tcp, remote, port, interface, protocol, local port or ICMP type, loopback
        {{kBrowser, false, "127.0.0.1", 53, kLoopbackLuid, 0, 0, true}, true},
        {{kBrowser, true, "127.0.0.1", 53, kLoopbackLuid, 0, 0, true}, true},
        {{kBrowser, true, "::1", 8080, kLoopbackLuid, 0, 0, true}, true},
        {{kSvchost, false, "192.168.178.1", 67, kEthernetLuid, 0, 68}, true},
        {{kSvchost, false, "ff02::1:2", 547, kEthernetLuid, 0, 546}, true},
        {{"System", false, "ff02::1:ff12:3456", 0, kEthernetLuid, 58, 135}, true},
        {{"System", false, "ff02::1:ff12:3456", 0, kEthernetLuid, 58, 128}, false},
    };
    // clang-format on
    for (const auto& [packet, allowed] : own) {
      EXPECT_EQ(wfp_.WouldAllow(packet), allowed) << packet.remote << " " << packet.localPort;
    }
    guard.Remove();
    ExpectNothingInstalled();
    EXPECT_TRUE(Allowed(kBrowser, false, "8.8.8.8", 53, kEthernetLuid));
  }
}

TEST_F(DnsGuardTest, AnyFailedCallLeavesNoFilterAndSaysWhy) {
  const std::vector<std::string> servers = {"9.9.9.9", "149.112.112.112"};
  struct Case {
    const char* what;
    SimWfpFailures failures;
    uint64_t luid;
    std::string xray;
    std::vector<std::string> servers;
    std::string line;
  };
  auto failing = [](auto setter) {
    SimWfpFailures f;
    setter(f);
    return f;
  };
  const std::string x = kXrayPath;
  const uint64_t t = kTunnelLuid;
  const std::string e = " failed 2147942405";  // what a failed filter add reports
  // clang-format off
  const std::vector<Case> cases = {
      {"no tunnel", {}, 0, x, servers, "dns-guard: missing Zelvora LUID"},
      {"open", failing([](auto& f) { f.open = 1764; }), t, x, servers, "dns-guard: FwpmEngineOpen failed 1764"},
      {"begin", failing([](auto& f) { f.begin = 5; }), t, x, servers, "dns-guard: TransactionBegin failed 5"},
      {"sublayer", failing([](auto& f) { f.sublayerAdd = 0x80320001u; }), t, x, servers, "dns-guard: SubLayerAdd failed 2150760449"},
      {"app id", failing([](auto& f) { f.appId = 2; }), t, x, servers, "dns-guard: FwpmGetAppIdFromFileName failed 2"},
      {"core missing", {}, t, "C:\\Program Files\\Zelvora\\xray\\xray.exe", servers, "dns-guard: missing xray AppID — refusing permit-any DNS hosts"},
      {"empty core path", {}, t, "", servers, "dns-guard: missing xray AppID — refusing permit-any DNS hosts"},
      {"no host", {}, t, x, {"dns.quad9.net", ""}, "dns-guard: no valid DNS permit hosts"},
      {"first permit", failing([](auto& f) { f.filterAddNumber = 1; }), t, x, servers, "dns-guard: permit filter" + e},
      {"v4 tcp block", failing([](auto& f) { f.filterAddNumber = 6; }), t, x, servers, "dns-guard: FwpmFilterAdd" + e + " v4 tcp"},
      {"v6 udp block", failing([](auto& f) { f.filterAddNumber = 7; }), t, x, servers, "dns-guard: FwpmFilterAdd" + e + " v6 udp"},
      {"local permit", failing([](auto& f) { f.filterAddNumber = 9; }), t, x, servers, "dns-guard: local traffic permit" + e},
      {"ipv6 block", failing([](auto& f) { f.filterAddNumber = 18; }), t, x, servers, "dns-guard: IPv6 outbound block" + e},
      {"more servers than it can permit", {}, t, x,
       {"1.1.1.1", "1.0.0.1", "8.8.8.8", "8.8.4.4", "9.9.9.9", "149.112.112.112", "94.140.14.14", "94.140.15.15", "208.67.222.222"},
       "dns-guard: the configuration names 9 DNS servers, more than the 8 the guard can let the core reach — refusing"},
      {"commit", failing([](auto& f) { f.commit = 0x80320017u; }), t, x, servers, "dns-guard: commit failed 2150760471"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearCapturedLog();
    wfp_.SetFailures(c.failures);
    DnsGuard guard(wfp_);
    EXPECT_FALSE(guard.Install(c.luid, c.xray, c.servers));
    EXPECT_TRUE(CapturedLogContains(c.line));
    EXPECT_FALSE(guard.installed());
    ExpectNothingInstalled();
    wfp_.SetFailures({});
    // The same guard installs cleanly afterwards.
    ASSERT_TRUE(guard.Install(kTunnelLuid, kXrayPath, servers));
    EXPECT_FALSE(Allowed(kBrowser, false, "8.8.8.8", 53, kEthernetLuid));
    guard.Remove();
    ExpectNothingInstalled();
    EXPECT_EQ(wfp_.OpenSessionCount(), 0);
  }
}

// The guard owns what it adds and removes only that: its provider is referred to by its
// sublayer and filters, and a sublayer of its key that another session holds is neither used
// nor removed.
TEST_F(DnsGuardTest, OwnsWhatItAddsAndRemovesNothingElse) {
  DnsGuard guard(wfp_);
  ASSERT_TRUE(guard.Install(kTunnelLuid, kXrayPath, {"1.1.1.1"}));
  EXPECT_EQ(wfp_.SublayerProvider(kDnsGuardSublayerKey), kDnsGuardProviderKey);
  for (const auto& filter : wfp_.CommittedFilters()) {
    EXPECT_EQ(filter.spec.provider, kDnsGuardProviderKey) << filter.spec.displayName;
  }
  guard.Remove();
  ExpectNothingInstalled();

  // Another session (a second instance of the program) holds the guard's sublayer.
  DnsGuard other(wfp_);
  ASSERT_TRUE(other.Install(kTunnelLuid + 1, kXrayPath, {"9.9.9.9"}));
  const size_t others = wfp_.CommittedFilters().size();
  ClearCapturedLog();
  EXPECT_FALSE(guard.Install(kTunnelLuid, kXrayPath, {"1.1.1.1"}));
  EXPECT_TRUE(CapturedLogContains("dns-guard: SubLayerAdd failed 2150760457"));
  guard.Remove();
  EXPECT_TRUE(wfp_.SublayerPresent(kDnsGuardSublayerKey));
  EXPECT_TRUE(wfp_.ProviderPresent(kDnsGuardProviderKey));
  EXPECT_EQ(wfp_.CommittedFilters().size(), others);
  other.Remove();
  ExpectNothingInstalled();
}

// A second install replaces the first in the same session; the guard's end takes it away.
TEST_F(DnsGuardTest, ReinstallReplacesAndTheGuardsEndClearsIt) {
  {
    DnsGuard guard(wfp_);
    ASSERT_TRUE(guard.Install(kTunnelLuid, kXrayPath, {"1.1.1.1"}));
    ASSERT_TRUE(guard.Install(kTunnelLuid, kXrayPath, {"9.9.9.9", "149.112.112.112"}));
    EXPECT_FALSE(Allowed(kXrayPath, false, "1.1.1.1", 53, kEthernetLuid));
    EXPECT_TRUE(Allowed(kXrayPath, false, "9.9.9.9", 53, kEthernetLuid));
    EXPECT_EQ(wfp_.OpenSessionCount(), 1);
  }
  ExpectNothingInstalled();
  EXPECT_EQ(wfp_.OpenSessionCount(), 0);
}

}  // namespace
