#include "vpn_engine/injection/config_injection.h"

#include <gtest/gtest.h>

#include <set>

#include "config_text/config_inspection.h"

namespace {

const ExeFolderLister kNoStoreApps = [](const std::string&) { return std::vector<std::string>{}; };

const char kBareConfig[] =
    R"({"inbounds":[{"tag":"socks","port":10808,"protocol":"socks"}],)"
    R"("outbounds":[{"tag":"proxy","protocol":"vless","settings":{"vnext":[{"address":"203.0.113.7","port":443}]}},)"
    R"({"tag":"direct","protocol":"freedom"}]})";

std::string Inject(const std::string& config, const VpnInjectionInputs& inputs,
                   std::vector<std::string>* dns = nullptr) {
  std::vector<std::string> servers;
  return InjectVpnConfig(inputs, dns ? dns : &servers, config, kNoStoreApps);
}

TEST(InjectVpnConfig, BareConfigGainsEveryBlockInOrderRightAfterTheBrace) {
  const std::string text = Inject(kBareConfig, {});
  const std::string expected_head =
      "{\n\"routing\": {\n  \"domainStrategy\": \"IPIfNonMatch\",\n  \"rules\": [\n"
      "    {\n      \"type\": \"field\",\n      \"inboundTag\": [\"api\"],\n      \"outboundTag\": "
      "\"api\"\n    },\n"
      "    {\n      \"type\": \"field\",\n      \"ip\": [\"203.0.113.7\"],\n      \"outboundTag\": "
      "\"direct\"\n    },\n"
      "    {\n      \"type\": \"field\",\n      \"network\": \"tcp,udp\",\n      \"outboundTag\": "
      "\"proxy\"\n    }\n  ]\n},"
      "\n\"dns\":{\"servers\":[\"9.9.9.9\",\"149.112.112.112\"],\"queryStrategy\":\"UseIPv4\"},"
      "\n\"api\": { \"tag\": \"api\", \"services\": [\"StatsService\"] },"
      "\n\"policy\": { \"system\": { \"statsOutboundUplink\": true, \"statsOutboundDownlink\": "
      "true } },"
      "\n\"stats\": {},"
      "\"inbounds\":[\n    {\n      \"tag\": \"api\",\n      \"port\": 10086,\n      \"listen\": "
      "\"127.0.0.1\",\n"
      "      \"protocol\": \"dokodemo-door\",\n      \"settings\": { \"address\": \"127.0.0.1\" "
      "}\n    },"
      "{\"tag\":\"socks\"";
  EXPECT_EQ(text.substr(0, expected_head.size()), expected_head);
}

TEST(InjectVpnConfig, BlocksThatExistStayAndASecondRunAddsOnlyRules) {
  const std::string once = Inject(kBareConfig, {});
  const std::string twice = Inject(once, {});
  EXPECT_EQ(twice.find("\"stats\"", twice.find("\"stats\"") + 1), std::string::npos);
  EXPECT_EQ(twice.find("dokodemo-door", twice.find("dokodemo-door") + 1), std::string::npos);
  EXPECT_NE(twice.find("\"inboundTag\"", twice.find("\"inboundTag\"") + 1), std::string::npos);

  // The configuration's own DNS servers and API stay; an IPv6 loopback listener moves to IPv4.
  std::vector<std::string> dns;
  const std::string config =
      R"({"api":{"tag":"api"},"inbounds":[{"tag":"api","protocol":"dokodemo-door","port":1}],)"
      R"("dns":{"servers":["https://dns.example/q"]},"listen" : "[::1]"})";
  const std::string text = Inject(config, {}, &dns);
  EXPECT_TRUE(dns.empty());
  EXPECT_EQ(text.find("\n\"api\""), std::string::npos);
  EXPECT_EQ(text.find("\"port\": 10086"), std::string::npos);
  EXPECT_EQ(text.find("\"dns\":{\"servers\":[\"9"), std::string::npos);
  EXPECT_NE(text.find("\"listen\": \"127.0.0.1\"}"), std::string::npos);
}

TEST(InjectVpnConfig, EmptyOrMissingDnsServersAreFilledInTheOneDnsMember) {
  const struct {
    const char* dns;
    const char* amended;
  } cases[] = {
      {R"({"servers":[ ]})",
       R"({"queryStrategy":"UseIPv4","servers":["9.9.9.9","149.112.112.112"]})"},
      {R"({"hosts":{"a.example":"10.0.0.1"}, "queryStrategy":"UseIP"})",
       R"({"servers":["9.9.9.9","149.112.112.112"],"hosts":{"a.example":"10.0.0.1"}, "queryStrategy":"UseIP"})"},
      {"{ }", R"({"servers":["9.9.9.9","149.112.112.112"],"queryStrategy":"UseIPv4" })"},
      {"null", R"({"servers":["9.9.9.9","149.112.112.112"],"queryStrategy":"UseIPv4"})"},
  };
  for (const auto& c : cases) {
    const std::string text =
        Inject(std::string(R"({"dns":)") + c.dns + R"(,"x":{"address":"h.example"}})", {});
    EXPECT_NE(text.find(std::string(R"("dns":)") + c.amended + R"(,"x")"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("\"dns\""), text.rfind("\"dns\"")) << text;
  }
}

TEST(InjectVpnConfig, BypassedAppsGetProcessRulesAndOneTunInbound) {
  VpnInjectionInputs inputs;
  inputs.panelHost = "panel.example.org";
  inputs.directDomains = {"10.1.2.3"};
  inputs.blockedApps = {"C:\\\\Chrome\\\\Chrome.exe", "D:\\\\other\\\\chrome.exe", "tool.exe"};
  std::vector<std::string> dns;
  const std::string config =
      std::string(kBareConfig).insert(1, R"("dns":{"servers":["1.1.1.1"]},)");
  const std::string text = Inject(config, inputs, &dns);
  EXPECT_EQ(dns, (std::vector<std::string>{"1.1.1.1"}));
  for (const char* name :
       {"chrome.exe", "chrome_proxy.exe", "chrome_pwa_launcher.exe", "tool.exe"}) {
    const std::string rule = std::string("\"process\": [\"") + name + "\"]";
    const size_t first = text.find(rule);
    EXPECT_NE(first, std::string::npos) << name;
    EXPECT_EQ(text.find(rule, first + 1), std::string::npos) << name;
  }
  EXPECT_NE(
      text.find("\"process\": [\"self/\", \"xray/\", \"zel_vora/\", \"zelvora_tunnel_service/\"]"),
      std::string::npos);
  EXPECT_NE(text.find("\"domain\": [\"panel.example.org\"]"), std::string::npos);
  EXPECT_NE(text.find("\"ip\": [\"10.1.2.3\"]"), std::string::npos);
  // API inbound first, then the TUN inbound, then the configuration's own.
  const size_t api = text.find("\"tag\": \"api\",\n      \"port\": 10086");
  const size_t tun = text.find("\"tag\": \"tun-in\"");
  EXPECT_LT(api, tun);
  EXPECT_LT(tun, text.find("{\"tag\":\"socks\""));
  EXPECT_NE(text.find("\"dns\": [\"1.1.1.1\"]"), std::string::npos);

  // Only where no TUN inbound exists, and never with a comma before the array's end.
  for (const std::string own :
       {R"({"inbounds":[{"protocol": "tun"}]})", R"({"inbounds":[{"protocol" : "tun"}]})"}) {
    EXPECT_EQ(Inject(own, inputs).find("tun-in"), std::string::npos) << own;
  }
  const std::string added = Inject(R"({"inbounds":[]})", inputs);
  EXPECT_NE(added.find("\"tag\": \"tun-in\""), std::string::npos);
  EXPECT_NE(added.find("\n    }]"), std::string::npos) << added;
}

TEST(InjectRoutingRules, PlacesRulesAheadOfExistingOnesAndRespectsEmptyArrays) {
  std::string with_rules = R"({"routing":{"rules":[{"type":"field","outboundTag":"block"}]}})";
  ASSERT_TRUE(InjectRoutingRules(with_rules, "h.example", {}, {}, kNoStoreApps));
  EXPECT_NE(
      with_rules.find(
          "\"outboundTag\": \"proxy\"\n    },\n{\"type\":\"field\",\"outboundTag\":\"block\"}"),
      std::string::npos);

  std::string empty_rules = R"({"routing":{"rules":[]}})";
  ASSERT_TRUE(InjectRoutingRules(empty_rules, "h.example", {}, {}, kNoStoreApps));
  EXPECT_NE(empty_rules.find("\"outboundTag\": \"proxy\"\n    }\n]"), std::string::npos);

  std::string no_rules = R"({"routing":{"domainStrategy":"AsIs"}})";
  ASSERT_TRUE(InjectRoutingRules(no_rules, "h.example", {}, {}, kNoStoreApps));
  EXPECT_EQ(no_rules.find("{\"routing\":{\n  \"rules\": [\n"), 0u);
  EXPECT_NE(no_rules.find("    }\n  ],\"domainStrategy\":\"AsIs\""), std::string::npos);

  std::string untouched = R"({"routing":{"rules":"x"}})";
  EXPECT_FALSE(InjectRoutingRules(untouched, "h", {}, {}, kNoStoreApps));
  EXPECT_FALSE(InjectRoutingRules(untouched, "", {}, {}, kNoStoreApps));
  EXPECT_EQ(untouched, R"({"routing":{"rules":"x"}})");
}

// A Store application's folder adds its other executables, never uninstallers, setups,
// updaters or crash handlers.
TEST(BuildProcessBypassRules, StoreFolderAddsItsOtherExecutablesButNoHelpers) {
  std::string listed;
  const ExeFolderLister lister = [&listed](const std::string& folder) {
    listed = folder;
    return std::vector<std::string>{
        "App.exe",         "Helper.exe",           "unins000.exe",
        "setup.exe",       "MyUninstaller.exe",    "update.exe",
        "AutoUpdater.exe", "crashpad_handler.exe", "notification_helper.exe"};
  };
  const auto rule = [](const std::string& name) {
    return "    {\n      \"type\": \"field\",\n      \"process\": [\"" + name +
           "\"],\n      \"outboundTag\": \"direct\"\n    },\n";
  };
  EXPECT_EQ(BuildProcessBypassRules({"C:\\Program Files\\WindowsApps\\Pkg_1.0\\App.exe"}, lister),
            rule("app.exe") + rule("helper.exe"));
  EXPECT_EQ(listed, "C:\\Program Files\\WindowsApps\\Pkg_1.0");
}

struct FakePorts {
  std::set<uint16_t> busy;
  std::vector<uint16_t> offers;
  LoopbackPortProbe Probe() {
    return {[this](uint16_t port) { return busy.count(port) == 0; },
            [this]() -> uint16_t {
              if (offers.empty()) return 0;
              const uint16_t port = offers.front();
              offers.erase(offers.begin());
              return port;
            }};
  }
};

TEST(RemapBusyPorts, MovesBusySocksAndApiPortsOrLeavesTheTextWhenNoneIsFree) {
  const struct {
    FakePorts ports;
    std::string config, remapped;
  } cases[] = {
      {{{1080, 10086}, {50001, 50002}},
       R"({"inbounds":[{"tag":"api","port": 10086},{"tag":"x","port": 10800},{"tag":"socks","port": 1080}]})",
       R"({"inbounds":[{"tag":"api","port": 50002},{"tag":"x","port": 10800},{"tag":"socks","port": 50001}]})"},
      {{{1080, 10086}, {}},
       R"({"inbounds":[{"tag":"socks","port":1080},{"tag":"api","port":10086}]})",
       R"({"inbounds":[{"tag":"socks","port":1080},{"tag":"api","port":10086}]})"},
  };
  for (auto c : cases) EXPECT_EQ(RemapBusyPorts(c.config, c.ports.Probe()), c.remapped);
}

TEST(StripAllowInsecure, RemovesTheMemberFirstMiddleOrLastWithWholeValuesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"allowInsecure": true, "a":1})", R"({ "a":1})"},
      {R"({"a":1, "AllowInsecure" : FALSE ,"b":2})", R"({"a":1 ,"b":2})"},
      {"{\"a\":1,\n    \"allowInsecure\":0}", R"({"a":1})"},
      {R"({"allowInsecure":1})", "{}"},
      {R"({"allowInsecure":"true"})", R"({"allowInsecure":"true"})"},
      {R"({"allowInsecure": 10, "a":1})", R"({"allowInsecure": 10, "a":1})"},
  };
  for (const auto& [config, stripped] : cases) EXPECT_EQ(StripAllowInsecure(config), stripped);
}

}  // namespace
