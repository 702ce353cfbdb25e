// The text functions on configurations as users send them (support/config_samples.h): every
// answer must come from the object it belongs to. (The native build hands every amended text to
// a strict JSON parser and a real core: real_core/.)
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "proxy_mode/proxy_config_text.h"
#include "support/captured_log.h"
#include "support/config_samples.h"
#include "vpn_engine/injection/config_injection.h"

namespace {

using config_samples::UserConfig;

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

TEST(UserConfigs, EveryReaderTakesTheValueFromItsOwnObject) {
  for (const UserConfig& config : config_samples::UserConfigs()) {
    SCOPED_TRACE(config.name);
    EXPECT_EQ(ExtractSocksPort(config.text), 10808);
    EXPECT_EQ(FindSocksInboundPort(config.text), 10808);
    EXPECT_EQ(DetectEngineSocksPort(config.text).port, 10808);
    EXPECT_EQ(zelvora::ProxySocksPort(config.text), 10808);
    EXPECT_EQ(ExtractServerAddress(config.text), config.server);
    EXPECT_EQ(ExtractDnsServers(config.text), config.dns);

    std::vector<std::string> dns;
    const std::string injected = EngineText(config.text, &dns);
    EXPECT_EQ(dns, config.dns);
    // After the injection the API inbound stands first; the SOCKS port is still the same, and
    // the DNS member has the configuration's own servers, or the public resolvers.
    EXPECT_EQ(ExtractSocksPort(injected), 10808);
    const std::vector<std::string> public_resolvers = {"9.9.9.9", "149.112.112.112"};
    EXPECT_EQ(ExtractDnsServers(injected), config.dns.empty() ? public_resolvers : config.dns);
  }
}

TEST(UserConfigs, RemapMovesOnlyTheSocksAndApiInboundsOwnPorts) {
  // A local DNS proxy holds 53, a local web server 443, another client 10808 and 10086.
  const std::set<uint16_t> busy = {53, 443, 10808, 10086};
  for (const UserConfig& config : config_samples::UserConfigs()) {
    SCOPED_TRACE(config.name);
    const std::string injected = EngineText(config.text);
    uint16_t next_free = 30001;
    const LoopbackPortProbe ports{[&busy](uint16_t port) { return busy.count(port) == 0; },
                                  [&next_free]() { return next_free++; }};
    const std::string remapped = RemapBusyPorts(injected, ports);
    EXPECT_EQ(FindSocksInboundPort(remapped), 30001);
    const auto api = FindApiInboundPort(remapped);
    EXPECT_EQ(api ? api->digits : "", "30002");
    // Every other port number of the text is where it was.
    for (const char* other : {R"("port"\s*:\s*443\b)", R"("port"\s*:\s*53\b)",
                              R"("port"\s*:\s*10809\b)", R"("port"\s*:\s*10900\b)"}) {
      EXPECT_EQ(CountMatches(remapped, other), CountMatches(injected, other)) << other;
    }
    EXPECT_EQ(remapped.size(), injected.size());
  }
}

TEST(UserConfigs, MetadataListsKeepEveryEntryAfterAnEmptyOne) {
  std::string config = config_samples::UserConfigs()[6].text;  // lists with empty entries
  const ConfigMeta meta = ExtractConfigMeta(config);
  EXPECT_EQ(meta.directDomains,
            (std::vector<std::string>{"intranet.example.org", "git.example.org"}));
  EXPECT_EQ(meta.bypassSubnets, (std::vector<std::string>{"192.168.0.0/16", "10.1.0.0/16"}));
  std::string apps =
      R"({"__zelvora_blocked_apps": ["", "C:\\Games\\game.exe", "", "x.exe"], "a": 1})";
  EXPECT_EQ(ExtractConfigMeta(apps).blockedApps,
            (std::vector<std::string>{"C:\\\\Games\\\\game.exe", "x.exe"}));
}

}  // namespace
