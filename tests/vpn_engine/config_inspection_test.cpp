#include "config_text/config_inspection.h"

#include <gtest/gtest.h>

#include "config_text/json_text.h"
#include "config_text/xray_core_contract.h"
#include "vpn_engine/injection/core_dns_hosts.h"

namespace {

TEST(SocksPort, TaggedInboundAfterAnotherKindWinsForEveryUser) {
  const std::string config = R"({"inbounds":[{"tag":"http","port":8080,"protocol":"http"},)"
                             R"({"tag":"socks-in","port":1080,"protocol":"socks"}]})";
  EXPECT_EQ(ExtractSocksPort(config), 1080);
  EXPECT_EQ(FindSocksInboundPort(config), 1080);
  const SocksPortDetection detection = DetectEngineSocksPort(config);
  EXPECT_EQ(detection.pattern, SocksPattern::kTagged);
  EXPECT_EQ(detection.port, 1080);
}

TEST(SocksPort, BadTaggedPortIsTreatedDifferentlyByEachUser) {
  const std::string config =
      R"({"inbounds":[{"tag":"socks","port":0},{"protocol":"socks","port":2080}]})";
  EXPECT_EQ(ExtractSocksPort(config), 10807);
  EXPECT_EQ(FindSocksInboundPort(config), 2080);
  EXPECT_EQ(DetectEngineSocksPort(config).port, 10807);

  const auto tagged = [](const std::string& port) {
    return R"({"inbounds":[{"tag":"socks","port":)" + port + "}]}";
  };
  EXPECT_EQ(ExtractSocksPort(tagged("99999999999999999999")), 10807);
  EXPECT_EQ(ExtractSocksPort(tagged("0080")), 80);
  EXPECT_EQ(ExtractSocksPort(tagged("0000000080")), 80);
  EXPECT_EQ(FindSocksInboundPort(tagged("0000000080")), 10807);
}

TEST(SocksPort, OnlyAnInboundsOwnPortCounts) {
  // A socks outbound or a port inside the inbound's settings is not the inbound's port; nothing
  // outside "inbounds" is an inbound. A port written as a string of digits is one (the core
  // takes it); a range or anything else in a string is not.
  const std::string outbound_only =
      R"({"inbounds":[{"tag":"http","port":8080,"protocol":"http"}],"outbounds":[)"
      R"({"tag":"socks","protocol":"socks","settings":{"servers":[{"address":"10.0.0.2","port":1080}]}}]})";
  EXPECT_EQ(FindSocksPortText(outbound_only, SocksPattern::kTagged), std::nullopt);
  EXPECT_EQ(FindSocksPortText(outbound_only, SocksPattern::kProtocol), std::nullopt);
  EXPECT_EQ(ExtractSocksPort(outbound_only), 10807);

  const std::string port_first =
      R"({"inbounds":[{"port":4000,"listen":"127.0.0.1","protocol":"socks"},)"
      R"({"port":4001,"protocol":"http"}],"outbounds":[{"port":443}]})";
  EXPECT_EQ(FindSocksPortText(port_first, SocksPattern::kProtocol), "4000");
  EXPECT_EQ(DetectEngineSocksPort(port_first).pattern, SocksPattern::kProtocol);
  EXPECT_EQ(ExtractSocksPort(R"({"inbounds":[{"tag":"socks","port":"1080"}]})"), 1080);
  EXPECT_EQ(FindSocksInboundPort(R"({"inbounds":[{"tag":"socks","port":"1080-1090"}]})"), 10807);
  // Escaped quotes and backslashes inside strings do not end them early.
  EXPECT_EQ(ExtractSocksPort(R"({"log":{"access":"C:\\Users\\\"x\"\\"},"inbounds":[)"
                             R"({"tag":"http","settings":{"a":"}]\\\\"},"port":1},)"
                             R"({"tag":"socks","port":2}]})"),
            2);
  EXPECT_EQ(ExtractSocksPort("{}"), 10807);
  EXPECT_FALSE(DetectEngineSocksPort("{}").pattern.has_value());
}

TEST(ParsePortText, AcceptsOneToFiveDigitsInRange) {
  uint16_t port = 7;
  EXPECT_TRUE(ParsePortText("65535", &port));
  EXPECT_EQ(port, 65535);
  EXPECT_TRUE(ParsePortText("00080", &port));
  EXPECT_EQ(port, 80);
  for (const char* bad : {"", "0", "65536", "000080", "12a", "-1", "99999"}) {
    port = 7;
    EXPECT_FALSE(ParsePortText(bad, &port)) << bad;
    EXPECT_EQ(port, 7) << bad;
  }
}

TEST(NormalizeServerHost, StripsSchemePathBracketsAndPort) {
  EXPECT_EQ(NormalizeServerHost(" \thttps://Srv.Example.com/path/x \t"), "Srv.Example.com");
  EXPECT_EQ(NormalizeServerHost("HTTP://host:8080"), "host");
  EXPECT_EQ(NormalizeServerHost("[2001:db8::1]:443"), "2001:db8::1");
  EXPECT_EQ(NormalizeServerHost("2001:db8::1"), "2001:db8::1");
  EXPECT_EQ(NormalizeServerHost("host:"), "host:");
  EXPECT_EQ(NormalizeServerHost(":443"), ":443");
  EXPECT_EQ(NormalizeServerHost("host:44a"), "host:44a");
  EXPECT_EQ(NormalizeServerHost("https:///x"), "");
  EXPECT_EQ(NormalizeServerHost("  "), "");
}

TEST(ExtractServerAddress, ReadsTheProxyOutboundsServer) {
  const auto outbounds = [](const std::string& items, const std::string& after = "") {
    return R"({"outbounds":[)" + items + "]" + after + "}";
  };
  struct Case {
    const char* name;
    std::string config;
    std::string host;
  };
  const Case cases[] = {
      {"settings before protocol",
       outbounds(R"({"tag":"proxy","settings":{"vnext":[{"address":"first.example.com"}]},)"
                 R"("protocol":"vless"},{"settings":{"vnext":[{"address":"second.example.com"}]},)"
                 R"("protocol":"vless"}])"),
       "first.example.com"},
      {"the outbound tagged proxy before an earlier one",
       outbounds(
           R"({"tag":"old","protocol":"trojan","settings":{"servers":[{"address":"old.example.net"}]}},)"
           R"({"tag":"proxy","protocol":"vmess","settings":{"vnext":[{"address":"new.example.net"}]}})"),
       "new.example.net"},
      {"a local relay, then the DNS section",
       outbounds(R"({"protocol":"vless","settings":{"vnext":[{"address":"127.0.0.1"}]}})",
                 R"(,"dns":{"servers":[{"address":"8.8.8.8"}]})"),
       ""},
      {"WireGuard peer endpoint",
       outbounds(
           R"({"protocol":"wireguard","settings":{"peers":[{"endpoint":"wg.example:51820"}]}})"),
       "wg.example"},
      {"flat address",
       outbounds(
           R"({"protocol":"hysteria","settings":{"version":2,"address":"[2001:db8::7]:443"}})"),
       "2001:db8::7"},
      {"socks relay after a freedom outbound",
       outbounds(
           R"({"protocol":"freedom","settings":{"redirect":"1.2.3.4:1"}},)"
           R"({"protocol":"socks","settings":{"servers":[{"address":"relay.example.net"}]}})"),
       "relay.example.net"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines;
    EXPECT_EQ(ExtractServerAddress(c.config, &lines), c.host) << c.name;
  }

  // Each candidate is reported; a rejected one lets the next be tried.
  std::vector<std::string> lines;
  EXPECT_EQ(ExtractServerAddress(
                outbounds(R"({"protocol":"vless","settings":{"vnext":[{"address":"127.0.0.1"},)"
                          R"({"address":"Edge.Example.net:443"}]}})"),
                &lines),
            "Edge.Example.net");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "VPN Service: Skipping non-server address candidate: 127.0.0.1",
                       "VPN Service: Extracted server address: Edge.Example.net"}));
  lines.clear();
  const std::string nothing(600, 'z');
  EXPECT_EQ(ExtractServerAddress(nothing, &lines), "");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "VPN Service: Could not extract server address. Dumping first 500 chars of config:");
  EXPECT_EQ(lines[1], std::string(500, 'z'));
}

TEST(ExtractDnsServers, KeepsFourDistinctQuotedAddressesInOrder) {
  const std::string config =
      R"({"dns":{"servers":["1.1.1.1","1.1.1.1",{"address":"8.8.8.8"},"8.8.4.4","9.9.9.9","1.0.0.1"]}})";
  EXPECT_EQ(ExtractDnsServers(config),
            (std::vector<std::string>{"1.1.1.1", "8.8.8.8", "8.8.4.4", "9.9.9.9"}));
  EXPECT_EQ(ExtractDnsServers(R"({"dns":{"servers":["x]y","2.2.2.2"]},"z":["3.3.3.3"]})"),
            (std::vector<std::string>{"2.2.2.2"}));
  EXPECT_TRUE(ExtractDnsServers(R"({"dns":{"servers":["https://dns.google/dns-query"]}})").empty());
  EXPECT_TRUE(ExtractDnsServers(R"({"dns":{"servers":["1.1.1.1")").empty());
  // Only the top-level section counts, wherever its "servers" stand inside it.
  EXPECT_TRUE(ExtractDnsServers(R"({"x":{"dns":{"servers":["1.1.1.1"]}}})").empty());
  const std::string far =
      R"({"dns":{"x":")" + std::string(2000, 'a') + R"(","servers":["1.1.1.1"]}})";
  EXPECT_EQ(ExtractDnsServers(far), (std::vector<std::string>{"1.1.1.1"}));
}

// Every server the core sends plain DNS to on port 53, whatever form names it; the guard must
// let the core reach all of them.
TEST(CoreDnsPort53Hosts, EveryFormThatReachesPort53) {
  const std::string config = R"({"dns":{"servers":[
      "udp://1.1.1.1", "tcp://8.8.8.8:53", "tcp+local://9.9.9.9", "1.1.1.1",
      {"address": "8.8.4.4", "port": 53, "domains": ["geosite:cn"], "expectIPs": ["6.6.6.6"]},
      {"address": "94.140.14.14"}, "208.67.222.222", "149.112.112.112:5353",
      {"address": "4.4.4.4", "port": 5353}, "https://1.0.0.1/dns-query", "quic+local://7.7.7.7",
      "localhost", "fakedns", "dns.google", "2606:4700:4700::1111"]},
    "routing":{"rules":[{"ip":["5.5.5.5"]}]}})";
  EXPECT_EQ(CoreDnsPort53Hosts(config),
            (std::vector<std::string>{"1.1.1.1", "8.8.8.8", "9.9.9.9", "8.8.4.4", "94.140.14.14",
                                      "208.67.222.222"}));
  EXPECT_TRUE(CoreDnsPort53Hosts(R"({"outbounds":[{"protocol":"dns"}]})").empty());
}

TEST(GetTunnelDnsServers, FallsBackToPublicResolvers) {
  EXPECT_EQ(GetTunnelDnsServers({}), (std::vector<std::string>{"9.9.9.9", "149.112.112.112"}));
  EXPECT_EQ(GetTunnelDnsServers({"1", "2", "3", "4", "5"}),
            (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST(CoreContract, CommandLinesAndVersion) {
  EXPECT_EQ(xray_core::RunCommandLine("C:\\x\\xray.exe", "C:\\t\\c.json"),
            "\"C:\\x\\xray.exe\" -config \"C:\\t\\c.json\"");
  EXPECT_EQ(xray_core::ApiCommandLine(
                "x.exe", xray_core::EngineStatsQueryArguments(xray_core::kEngineApiAddress)),
            "\"x.exe\" api statsquery -server=127.0.0.1:10086");
  EXPECT_EQ(xray_core::ParseCoreVersion("Xray 1.8.24 (Xray, Penetrates Everything.)"), "1.8.24");
  EXPECT_EQ(xray_core::ParseCoreVersion("Xray 1.8 beta"), "");
}

// Every scanner steps over strings this one way: an escaped quote does not close a string, and
// an escaped backslash does not escape the quote after it.
TEST(JsonStringEnd, ClosesAtTheFirstUnescapedQuote) {
  struct Case {
    const char* text;
    size_t end;
  };
  const Case cases[] = {
      {R"("")", 2},
      {R"("abc", "d")", 5},
      {R"("a\"b")", 6},
      {R"("a\\")", 5},
      {R"("a\\\"b")", 8},
      {R"("]}{[" ])", 6},
      {R"("open)", config_text::kNone},
      {R"("open\")", config_text::kNone},
  };
  for (const Case& c : cases) EXPECT_EQ(config_text::JsonStringEnd(c.text, 0), c.end) << c.text;
}

}  // namespace
