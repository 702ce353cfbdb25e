// The text functions on configurations as users send them (user_configs.h): every answer must
// come from the object it belongs to, and every amended text must still be what the core reads
// the way we meant it.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "proxy_mode/proxy_config_text.h"
#include "support/captured_log.h"
#include "user_configs.h"
#include "vpn_engine/injection/config_injection.h"

namespace {

using user_configs::UserConfig;

const ExeFolderLister kNoStoreApps = [](const std::string&) { return std::vector<std::string>{}; };

// What the engine runs for a user's text: metadata cut out, then the injection.
std::string EngineText(std::string config, std::vector<std::string>* dns = nullptr) {
  const ConfigMeta meta = ExtractConfigMeta(config);
  std::vector<std::string> servers;
  return InjectVpnConfig({meta.panelHost, meta.directDomains, meta.blockedApps},
                         dns ? dns : &servers, config, kNoStoreApps);
}

size_t CountMatches(const std::string& text, const std::string& pattern) {
  const std::regex expression(pattern);
  return static_cast<size_t>(
      std::distance(std::sregex_iterator(text.begin(), text.end(), expression), {}));
}

TEST(UserConfigs, EverySocksPortReaderTakesTheInboundsOwnPort) {
  for (const UserConfig& config : user_configs::All()) {
    SCOPED_TRACE(config.name);
    EXPECT_EQ(ExtractSocksPort(config.text), 10808);
    EXPECT_EQ(FindSocksInboundPort(config.text), 10808);
    EXPECT_EQ(DetectEngineSocksPort(config.text).port, 10808);
    EXPECT_EQ(zelvora::ProxySocksPort(config.text), 10808);
    // After the injection the API inbound stands first; the SOCKS port is still the same.
    EXPECT_EQ(ExtractSocksPort(EngineText(config.text)), 10808);
  }
}

TEST(UserConfigs, RemapMovesOnlyTheSocksAndApiInboundsOwnPorts) {
  // A local DNS proxy holds 53, a local web server 443, another client 10808 and 10086.
  const std::set<uint16_t> busy = {53, 443, 10808, 10086};
  for (const UserConfig& config : user_configs::All()) {
    SCOPED_TRACE(config.name);
    const std::string injected = EngineText(config.text);
    uint16_t next_free = 30001;
    const LoopbackPortProbe ports{[&busy](uint16_t port) { return busy.count(port) == 0; },
                                  [&next_free]() { return next_free++; }};
    const std::string remapped = RemapBusyPorts(injected, ports);
    EXPECT_EQ(FindSocksInboundPort(remapped), 30001);
    const auto api = FindApiInboundPort(remapped);
    ASSERT_TRUE(api.has_value());
    EXPECT_EQ(api->digits, "30002");
    // Every other port number of the text is where it was.
    for (const char* other : {R"("port"\s*:\s*443\b)", R"("port"\s*:\s*53\b)",
                              R"("port"\s*:\s*10809\b)", R"("port"\s*:\s*10900\b)"}) {
      EXPECT_EQ(CountMatches(remapped, other), CountMatches(injected, other)) << other;
    }
    EXPECT_EQ(remapped.size(), injected.size());
  }
}

TEST(UserConfigs, DnsServersComeFromTheDnsSectionAndEndUpInItsOnlyMember) {
  const std::map<std::string, std::vector<std::string>> expected = {
      {"inbounds written port-first", {"1.1.1.1", "8.8.8.8"}},
      {"local DNS proxy on port 53 and no api section", {"127.0.0.1", "1.1.1.1"}},
      {"dns outbound ahead of the DNS section", {"9.9.9.9", "1.0.0.1"}},
      {"empty routing object", {"1.1.1.1"}},
      {"routing object without rules", {}},
      {"empty DNS server list", {}},
      {"local relay first in the server list", {"1.1.1.1"}},
      {"metadata lists with empty entries", {"1.1.1.1", "8.8.8.8"}},
      {"outbound settings before protocol, quoted ports, a DNS server object",
       {"8.8.8.8", "1.1.1.1"}},
      {"minimal object", {}},
  };
  for (const UserConfig& config : user_configs::All()) {
    SCOPED_TRACE(config.name);
    ASSERT_EQ(expected.count(config.name), 1u);
    EXPECT_EQ(ExtractDnsServers(config.text), expected.at(config.name));
    std::vector<std::string> dns;
    const std::string injected = EngineText(config.text, &dns);
    EXPECT_EQ(dns, expected.at(config.name));
    // The core keeps the last member of a name: there must be exactly one "dns" member, and
    // it must carry the tunnel's servers.
    EXPECT_EQ(CountMatches(injected, R"("dns"\s*:)"), 1u);
    EXPECT_EQ(ExtractDnsServers(injected), GetTunnelDnsServers(expected.at(config.name)));
  }
}

TEST(UserConfigs, ServerHostIsTheProxyOutboundsServer) {
  const std::map<std::string, std::string> special = {
      {"local relay first in the server list", "edge.example.net"},
      {"dns outbound ahead of the DNS section", "203.0.113.7"},
      {"outbound settings before protocol, quoted ports, a DNS server object", "first.example.com"},
  };
  for (const UserConfig& config : user_configs::All()) {
    SCOPED_TRACE(config.name);
    std::vector<std::string> lines;
    const auto expected = special.find(config.name);
    EXPECT_EQ(ExtractServerAddress(config.text, &lines),
              expected == special.end() ? "vpn.example.net" : expected->second);
  }
}

TEST(UserConfigs, InjectedTextHasNoDanglingSeparators) {
  // A comma before a closer, or two members with nothing between them, is JSON the core
  // rejects. (The native build also hands every output to a real JSON parser and a real core.)
  for (const UserConfig& config : user_configs::All()) {
    SCOPED_TRACE(config.name);
    std::string text = config.text;
    ExtractConfigMeta(text);
    for (const VpnInjectionInputs& inputs :
         {VpnInjectionInputs{},
          VpnInjectionInputs{"panel.example.org", {"intranet.example.org"}, {}},
          VpnInjectionInputs{"", {}, {"C:\\\\Games\\\\Steam\\\\steam.exe"}}}) {
      std::vector<std::string> dns;
      const std::string injected = InjectVpnConfig(inputs, &dns, text, kNoStoreApps);
      EXPECT_EQ(CountMatches(injected, R"(,\s*[\]}])"), 0u) << injected;
      EXPECT_EQ(CountMatches(injected, R"([\]}"]\s*")"), 0u) << injected;
    }
  }
}

TEST(UserConfigs, MetadataListsKeepEveryEntryAfterAnEmptyOne) {
  std::string config = user_configs::All()[7].text;
  ASSERT_EQ(std::string(user_configs::All()[7].name), "metadata lists with empty entries");
  const ConfigMeta meta = ExtractConfigMeta(config);
  EXPECT_EQ(meta.directDomains,
            (std::vector<std::string>{"intranet.example.org", "git.example.org"}));
  EXPECT_EQ(meta.bypassSubnets, (std::vector<std::string>{"192.168.0.0/16", "10.1.0.0/16"}));
  EXPECT_EQ(config.find("zelvoraMeta"), std::string::npos);

  std::string apps =
      R"({"__zelvora_blocked_apps": ["", "C:\\Games\\game.exe", "", "x.exe"], "a": 1})";
  EXPECT_EQ(ExtractConfigMeta(apps).blockedApps,
            (std::vector<std::string>{"C:\\\\Games\\\\game.exe", "x.exe"}));
}

}  // namespace
