// Proxy mode's configuration text rules: the balance check, the SOCKS port, the port sweep,
// the stats/policy/API insertions, the API address, the statistics output and the backup of the
// user's proxy settings.
#include "proxy_mode/proxy_config_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "proxy_mode/proxy_settings_backup.h"

namespace zelvora {
namespace {

TEST(ProxyConfigBalance, RefusesUnbalancedAndOpenTextsButNotBracketsInStrings) {
  EXPECT_TRUE(ProxyConfigLooksBalanced(""));
  EXPECT_TRUE(ProxyConfigLooksBalanced(R"({"a": [1, {"b": "}]{["}]})"));
  EXPECT_TRUE(ProxyConfigLooksBalanced(R"({"a": "quote \" and \\"})"));
  EXPECT_FALSE(ProxyConfigLooksBalanced(R"({"a": 1)"));
  EXPECT_FALSE(ProxyConfigLooksBalanced(R"({"a": 1}})"));
  EXPECT_FALSE(ProxyConfigLooksBalanced(R"(}{)"));  // below zero on the way, even if it ends at 0
  EXPECT_FALSE(ProxyConfigLooksBalanced(R"({"a": [1})"));
  EXPECT_FALSE(ProxyConfigLooksBalanced(R"({"a": "open})"));
}

TEST(ProxySocksPort, TriesTheTagThenTheProtocolThenTheInbounds) {
  EXPECT_EQ(ProxySocksPort(R"({"inbounds": [{"port": 1111, "protocol": "socks"},
      {"tag": "in_proxy", "port": 2222}]})"),
            2222);
  EXPECT_EQ(ProxySocksPort(R"({"inbounds": [{"port": 1111}, {"protocol" : "socks",
      "listen": "127.0.0.1", "port": 3333}]})"),
            3333);
  EXPECT_EQ(ProxySocksPort(R"({"log": {}, "inbounds": [{"protocol": "http", "port": 4444}]})"),
            4444);
  // Inbounds written port-first: the port is the socks inbound's own, never the outbound
  // server's 443 that follows it.
  EXPECT_EQ(ProxySocksPort(R"({"inbounds":[{"port":10808,"protocol":"socks"}],"outbounds":[)"
                           R"({"protocol":"vless","settings":{"vnext":[{"port":443}]}}]})"),
            10808);
  EXPECT_EQ(ProxySocksPort(R"({"inbounds": [{"port": 2080, "tag": "in_proxy"}, {"port": 3080}]})"),
            2080);
  EXPECT_EQ(ProxySocksPort(""), kProxyDefaultSocksPort);
  // A number that is not a port falls back to the default rather than wrapping around.
  EXPECT_EQ(ProxySocksPort(R"({"inbounds": [{"tag": "in_proxy", "port": 70000}]})"),
            kProxyDefaultSocksPort);
}

LoopbackPortProbe Ports(std::set<uint16_t> busy, uint16_t* next_free) {
  return {[busy](uint16_t port) { return busy.count(port) == 0; },
          [next_free] { return (*next_free)++; }};
}

// Only our own listeners move: each inbound's "port" (a number or a string of digits, as the
// core takes both) and the loopback listen addresses. The
// outbound server's port (443, busy here because a local program holds it), a DNS server's port
// and ports deeper inside an inbound's settings are never touched, forced or not.
TEST(ProxyPortSweep, MovesOnlyOurListenersNeverAServerPort) {
  const std::string config =
      R"({"dns": {"servers": [{"address": "77.88.8.8", "port": 53}]},)"
      R"( "inbounds": [{"tag": "in_proxy", "port": 10807, "protocol": "socks"},)"
      R"( {"tag": "fwd", "protocol": "dokodemo-door", "settings": {"port": 53}, "port": "2000"}],)"
      R"( "api": {"listen": "127.0.0.1:10085"},)"
      R"( "outbounds": [{"protocol": "vless", "settings": {"vnext": [{"port": 443}]}}]})";
  struct Case {
    const char* name;
    std::set<uint16_t> busy;
    bool force;
    uint16_t first_free;
    std::string expected;
  };
  const auto with = [&](const char* socks, const char* fwd, const char* api) {
    std::string text = config;
    text.replace(text.find("10807"), 5, socks);
    text.replace(text.find("2000"), 4, fwd);
    text.replace(text.find("10085"), 5, api);
    return text;
  };
  // clang-format off
  const Case cases[] = {
      {"busy listeners move, the server's stays", {10807, 10085, 443, 53}, false, 5000,
       with("5000", "2000", "5001")},
      {"nothing busy, nothing moves", {}, false, 5000, config},
      {"forced: every listener moves", {}, true, 40000, with("40000", "40001", "40002")},
      {"no free port to move to: the text stays", {10807}, false, 0, config},
  };
  // clang-format on
  for (const Case& c : cases) {
    uint16_t next = c.first_free;
    std::string swept = config;
    const bool changed = SweepLoopbackPorts(&swept, c.force, Ports(c.busy, &next));
    EXPECT_EQ(changed, swept != config) << c.name;
    EXPECT_EQ(swept, c.expected) << c.name;
  }
  // Out-of-range numbers are no ports at all.
  uint16_t next = 7000;
  std::string odd = R"({"inbounds": [{"port": 0}, {"port": 99999}, {"port": "1080-1090"}]})";
  const std::string before = odd;
  EXPECT_FALSE(SweepLoopbackPorts(&odd, true, Ports({}, &next)));
  EXPECT_EQ(odd, before);
}

// What the core needs for statistics and its API goes in once, as whole members: the text
// stays valid and the API answers where the insertion says, after the "log" object or first.
TEST(ProxyInsertions, StatsPolicyAndApiGoInOnceAndStayValid) {
  std::string bare = "{\"log\": {}}";
  EXPECT_TRUE(InsertStatsAndPolicy(&bare));
  EXPECT_TRUE(ProxyConfigLooksBalanced(bare));
  for (const char* counter :
       {"statsInboundUplink", "statsOutboundUplink", "statsOutboundDownlink"}) {
    EXPECT_NE(bare.find(std::string("\"") + counter + "\": true"), std::string::npos) << bare;
  }
  EXPECT_FALSE(InsertStatsAndPolicy(&bare));
  std::string complete = R"({"stats": {}, "policy": {}})";
  EXPECT_FALSE(InsertStatsAndPolicy(&complete));
  EXPECT_EQ(complete, R"({"stats": {}, "policy": {}})");

  const struct {
    std::string text;
    uint16_t port;
    const char* before_api;  // what precedes the member
  } cases[] = {
      {"{\"log\": {\"loglevel\": \"warning\", \"x\": {\"y\": \"}\"}}\n  , \"outbounds\": []}",
       10085, "{\"log\": {\"loglevel\": \"warning\", \"x\": {\"y\": \"}\"}}\n  ,"},
      {R"({"outbounds": []})", 20001, "{"},
      // A "log" object that never closes does not swallow the member.
      {R"({"log": {"a": 1, "outbounds": [])", 1234, "{"},
  };
  for (auto c : cases) {
    EXPECT_FALSE(HasApiMember(c.text));
    const bool balanced = ProxyConfigLooksBalanced(c.text);
    InsertApiMember(&c.text, c.port);
    EXPECT_TRUE(HasApiMember(c.text)) << c.text;
    EXPECT_EQ(ProxyConfigLooksBalanced(c.text), balanced) << c.text;
    EXPECT_EQ(c.text.rfind(std::string(c.before_api) + "\n  \"api\": {", 0), 0u) << c.text;
    if (balanced) {
      EXPECT_EQ(ApiAddressInConfig(c.text), "127.0.0.1:" + std::to_string(c.port)) << c.text;
    }
  }
}

TEST(ProxyApiAddress, ListenAddressOrHostAndPort) {
  EXPECT_EQ(ApiAddressInConfig(R"({"API" : {"tag": "api", "listen": "127.0.0.1:9000"}})"),
            "127.0.0.1:9000");
  EXPECT_EQ(ApiAddressInConfig(R"({"api": {"address": "127.0.0.2", "port": 9100}})"),
            "127.0.0.2:9100");
  EXPECT_EQ(ApiAddressInConfig(R"({"api": {"port": 9200}})"), "127.0.0.1:9200");
  EXPECT_EQ(ApiAddressInConfig(R"({"api": {"tag": "api"}})"), std::nullopt);
  EXPECT_EQ(ApiAddressInConfig(R"({"api": "x", "outbounds": []})"), std::nullopt);
}

TEST(ProxyTextRules, LongTextsAreHandledWithoutDeepRecursion) {
  std::string big = "{\"inbounds\": [{\"tag\": \"in_proxy\", \"domains\": [";
  for (int i = 0; i < 200000; ++i) big += "\"d" + std::to_string(i) + ".example\",";
  big += "\"end\"], \"port\": 12345}]}";
  EXPECT_TRUE(ProxyConfigLooksBalanced(big));
  EXPECT_EQ(ProxySocksPort(big), 12345);
  EXPECT_EQ(ApiAddressInConfig(big), std::nullopt);
}

// The backup must give back exactly what the user had, whatever their texts hold, and a file a
// crash cut short must never be taken for one.
TEST(ProxySettingsBackup, RoundTripsExactlyAndRefusesDamagedFiles) {
  const ProxySettingsBackup backups[] = {
      {{0x1, "", "", ""}, "socks=localhost:10807"},
      {{0x3, "http=corp-proxy.example:3128;https=corp-proxy.example:3128",
        "<local>;*.corp.example;10.*", ""},
       "socks=localhost:50123"},
      {{0x5, "", "", "http://wpad.corp.example/proxy.pac?user=J%C3%BCrgen&x=%0A"},
       "socks=localhost:1"},
      {{0x3, "odd\nline\r%25", "", ""}, "socks=localhost:2"},
  };
  for (const ProxySettingsBackup& backup : backups) {
    const std::string text = FormatProxySettingsBackup(backup);
    const auto parsed = ParseProxySettingsBackup(text);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(parsed->previous, backup.previous) << text;
    EXPECT_EQ(parsed->ours, backup.ours);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 7) << "one value per line";
    for (size_t cut = 0; cut < text.size() - 1; cut += 7) {
      EXPECT_FALSE(ParseProxySettingsBackup(text.substr(0, cut))) << cut;
    }
  }
  EXPECT_FALSE(ParseProxySettingsBackup("zelvora-proxy-backup v1\nflags=99999999999\n"));

  const std::string ours = "socks=localhost:50123";
  EXPECT_TRUE(StillPointsAtOurProxy({0x2, ours, "", ""}, ours));
  EXPECT_FALSE(StillPointsAtOurProxy({0x1, ours, "", ""}, ours)) << "proxy bit off: user's";
  EXPECT_FALSE(StillPointsAtOurProxy({0x3, "http=other:8080", "", ""}, ours));
  EXPECT_FALSE(StillPointsAtOurProxy({0x3, "", "", ""}, ""));
}

}  // namespace
}  // namespace zelvora
