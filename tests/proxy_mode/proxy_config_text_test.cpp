// Proxy mode's configuration text rules: the balance check, the SOCKS port, the port sweep,
// the stats/policy/API insertions, the API address and the statistics output.
#include "proxy_mode/proxy_config_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

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
  // Inbounds written port-first, as the demo's proxy-only session sends them: the port is the
  // socks inbound's own, never the outbound server's 443 that follows it.
  EXPECT_EQ(
      ProxySocksPort(
          R"({"inbounds":[{"tag":"socks-in","port":10808,"listen":"127.0.0.1","protocol":"socks",)"
          R"("settings":{"udp":true}}],"outbounds":[{"tag":"proxy","protocol":"vless","settings":)"
          R"({"vnext":[{"address":"vpn.example.net","port":443}]}},{"tag":"direct","protocol":"freedom"}]})"),
      10808);
  EXPECT_EQ(ProxySocksPort(R"({"inbounds": [{"port": 2080, "tag": "in_proxy"}, {"port": 3080}]})"),
            2080);
  EXPECT_EQ(ProxySocksPort(R"({"outbounds": []})"), kProxyDefaultSocksPort);
  EXPECT_EQ(ProxySocksPort(""), kProxyDefaultSocksPort);
  // A number that is not a port falls back to the default rather than wrapping around.
  EXPECT_EQ(ProxySocksPort(R"({"inbounds": [{"tag": "in_proxy", "port": 70000}]})"),
            kProxyDefaultSocksPort);
}

LoopbackPortProbe Ports(std::set<uint16_t> busy, uint16_t* next_free) {
  return {[busy](uint16_t port) { return busy.count(port) == 0; },
          [next_free] { return (*next_free)++; }};
}

TEST(ProxyPortSweep, MovesOnlyBusyPortsUnlessForced) {
  const std::string config =
      R"({"inbounds": [{"port": 10807}, {"port": 2000}], "api": {"listen": "127.0.0.1:10085"},)"
      R"( "outbounds": [{"port": 443}]})";
  uint16_t next = 50000;
  std::string swept = config;
  EXPECT_TRUE(SweepLoopbackPorts(&swept, false, Ports({10807, 10085}, &next)));
  EXPECT_EQ(
      swept,
      R"({"inbounds": [{"port": 50000}, {"port": 2000}], "api": {"listen": "127.0.0.1:50001"},)"
      R"( "outbounds": [{"port": 443}]})");

  std::string untouched = config;
  EXPECT_FALSE(SweepLoopbackPorts(&untouched, false, Ports({}, &next)));
  EXPECT_EQ(untouched, config);

  next = 40000;
  std::string forced = config;
  EXPECT_TRUE(SweepLoopbackPorts(&forced, true, Ports({}, &next)));
  EXPECT_EQ(
      forced,
      R"({"inbounds": [{"port": 40000}, {"port": 40001}], "api": {"listen": "127.0.0.1:40003"},)"
      R"( "outbounds": [{"port": 40002}]})")
      << "every port moves, \"port\" members first, then the loopback addresses";
}

TEST(ProxyPortSweep, SkipsOutOfRangeNumbersAndKeepsPortsWhenNoneIsFree) {
  uint16_t zero = 0;
  std::string config = R"({"port": 0, "b": {"port": 99999}, "c": {"port": 80}})";
  const std::string before = config;
  EXPECT_FALSE(SweepLoopbackPorts(&config, true, Ports({}, &zero)));
  EXPECT_EQ(config, before);
}

TEST(ProxyInsertions, StatsAndPolicyOnlyWhenMissing) {
  std::string bare = "{\"log\": {}}";
  EXPECT_TRUE(InsertStatsAndPolicy(&bare));
  EXPECT_EQ(bare.find("{\n  \"policy\": {\n    \"system\": {\n      \"statsInboundUplink\": true,"),
            0u);
  EXPECT_NE(bare.find("\"statsOutboundDownlink\": true\n    }\n  },\n  \"stats\": {},\"log\""),
            std::string::npos)
      << bare;
  EXPECT_TRUE(ProxyConfigLooksBalanced(bare));

  std::string complete = R"({"stats": {}, "policy": {}})";
  EXPECT_FALSE(InsertStatsAndPolicy(&complete));
  EXPECT_EQ(complete, R"({"stats": {}, "policy": {}})");
}

TEST(ProxyInsertions, ApiGoesAfterTheLogObjectOrFirst) {
  std::string with_log =
      "{\"log\": {\"loglevel\": \"warning\", \"x\": {\"y\": \"}\"}}\n  , \"outbounds\": []}";
  EXPECT_FALSE(HasApiMember(with_log));
  InsertApiMember(&with_log, 10085);
  EXPECT_EQ(with_log,
            "{\"log\": {\"loglevel\": \"warning\", \"x\": {\"y\": \"}\"}}\n  ,\n  \"api\": {\n"
            "    \"tag\": \"api\",\n    \"listen\": \"127.0.0.1:10085\",\n    \"services\": "
            "[\"HandlerService\", \"StatsService\", \"LoggerService\"]\n  }, \"outbounds\": []}");
  EXPECT_TRUE(HasApiMember(with_log));
  EXPECT_EQ(ApiAddressInConfig(with_log), "127.0.0.1:10085");

  std::string without_log = R"({"outbounds": []})";
  InsertApiMember(&without_log, 20001);
  EXPECT_EQ(without_log.rfind("{\n  \"api\": {\n    \"tag\": \"api\",", 0), 0u);
  EXPECT_NE(without_log.find("\n  },\"outbounds\""), std::string::npos) << without_log;
  EXPECT_TRUE(ProxyConfigLooksBalanced(without_log));

  // A "log" object that never closes does not swallow the member.
  std::string broken = R"({"log": {"a": 1, "outbounds": [])";
  InsertApiMember(&broken, 1234);
  EXPECT_EQ(broken.rfind("{\n  \"api\"", 0), 0u);
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

TEST(ProxyStats, SumsOutboundCountersOnceEach) {
  const std::string output = R"({"stat": [
    {"name": "inbound>>>in_proxy>>>traffic>>>uplink", "value": 100},
    {"name": "outbound>>>proxy>>>traffic>>>uplink", "value": "100"},
    {"name": "outbound>>>proxy>>>traffic>>>downlink", "value": 900},
    {"name": "outbound>>>direct>>>traffic>>>downlink"},
    {"name": "outbound>>>direct>>>traffic>>>uplink", "value": 5}
  ]})";
  const auto stats = ParseProxyStats(output);
  ASSERT_EQ(stats.size(), 5u);
  EXPECT_EQ(stats[2].second, 900);
  EXPECT_EQ(stats[3].second, 0) << "a counter without a value must not take the next one's";
  EXPECT_EQ(stats[4].second, 5);
  uint64_t up = 0;
  uint64_t down = 0;
  SumProxyTraffic(stats, &up, &down);
  EXPECT_EQ(up, 105u) << "inbound counters repeat the outbound traffic";
  EXPECT_EQ(down, 900u);

  SumProxyTraffic(ParseProxyStats(R"({"stat": []})"), &up, &down);
  EXPECT_EQ(up, 0u);
  EXPECT_EQ(down, 0u);
}

TEST(ProxyTextRules, LongTextsAreHandledWithoutDeepRecursion) {
  std::string big = "{\"inbounds\": [{\"tag\": \"in_proxy\", \"domains\": [";
  for (int i = 0; i < 200000; ++i) big += "\"d" + std::to_string(i) + ".example\",";
  big += "\"end\"], \"port\": 12345}]}";
  EXPECT_TRUE(ProxyConfigLooksBalanced(big));
  EXPECT_EQ(ProxySocksPort(big), 12345);
  EXPECT_EQ(ApiAddressInConfig(big), std::nullopt);
}

}  // namespace
}  // namespace zelvora
