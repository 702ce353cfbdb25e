#include "config_text/config_inspection.h"

#include <gtest/gtest.h>

#include "config_text/json_text.h"
#include "vpn_engine/injection/core_dns_hosts.h"

namespace {

// The three SOCKS port readers: the probes' (a bad port gives the default), the remap's (a bad
// port lets the next pattern try) and the start sequence's report. Only an inbound's own port
// counts: not a socks outbound's, not one inside the inbound's settings; a port written as a
// string of digits is one (the core takes it), a range is not.
TEST(SocksPort, EachReaderTakesTheInboundsOwnPort) {
  const auto tagged = [](const std::string& port) {
    return R"({"inbounds":[{"tag":"socks","port":)" + port + "}]}";
  };
  const auto kTagged = SocksPattern::kTagged;
  const auto kProtocol = SocksPattern::kProtocol;
  const struct {
    std::string config;
    uint16_t extract, find, detect;
    std::optional<SocksPattern> pattern;
  } cases[] = {
      {R"({"inbounds":[{"tag":"http","port":8080,"protocol":"http"},)"
       R"({"tag":"socks-in","port":1080,"protocol":"socks"}]})",
       1080, 1080, 1080, kTagged},
      {R"({"inbounds":[{"tag":"socks","port":0},{"protocol":"socks","port":2080}]})", 10807, 2080,
       10807, kTagged},
      {tagged("99999999999999999999"), 10807, 10807, 10807, kTagged},
      {tagged("0080"), 80, 80, 80, kTagged},
      {tagged("0000000080"), 80, 10807, 10807, kTagged},
      {tagged("\"1080-1090\""), 10807, 10807, 10807, std::nullopt},
      {R"({"inbounds":[{"tag":"http","port":8080,"protocol":"http"}],"outbounds":[)"
       R"({"tag":"socks","protocol":"socks","settings":{"servers":[{"address":"10.0.0.2","port":1080}]}}]})",
       10807, 10807, 10807, std::nullopt},
      {R"({"inbounds":[{"port":4000,"listen":"127.0.0.1","protocol":"socks"},)"
       R"({"port":4001,"protocol":"http"}],"outbounds":[{"port":443}]})",
       4000, 4000, 4000, kProtocol},
      // Escaped quotes and backslashes inside strings do not end them early.
      {R"({"log":{"access":"C:\\Users\\\"x\"\\"},"inbounds":[)"
       R"({"tag":"http","settings":{"a":"}]\\\\"},"port":1},{"tag":"socks","port":2}]})",
       2, 2, 2, kTagged},
      {"{}", 10807, 10807, 10807, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    EXPECT_EQ(ExtractSocksPort(c.config), c.extract);
    EXPECT_EQ(FindSocksInboundPort(c.config), c.find);
    EXPECT_EQ(DetectEngineSocksPort(c.config).port, c.detect);
    EXPECT_EQ(DetectEngineSocksPort(c.config).pattern, c.pattern);
  }
}

TEST(ParsePortText, AcceptsOneToFiveDigitsInRange) {
  uint16_t port = 7;
  EXPECT_TRUE(ParsePortText("65535", &port) && port == 65535);
  EXPECT_TRUE(ParsePortText("00080", &port) && port == 80);
  for (const char* bad : {"", "0", "65536", "000080", "12a", "-1", "99999"}) {
    port = 7;
    EXPECT_FALSE(ParsePortText(bad, &port)) << bad;
    EXPECT_EQ(port, 7) << bad;
  }
}

TEST(NormalizeServerHost, StripsSchemePathBracketsAndPort) {
  const std::pair<const char*, const char*> cases[] = {
      {" \thttps://Srv.Example.com/path/x \t", "Srv.Example.com"},
      {"HTTP://host:8080", "host"},
      {"[2001:db8::1]:443", "2001:db8::1"},
      {"2001:db8::1", "2001:db8::1"},
      {"host:", "host:"},
      {":443", ":443"},
      {"host:44a", "host:44a"},
      {"https:///x", ""},
      {"  ", ""},
  };
  for (const auto& [candidate, host] : cases) EXPECT_EQ(NormalizeServerHost(candidate), host);
}

TEST(ExtractServerAddress, ReadsTheProxyOutboundsServer) {
  const auto outbounds = [](const std::string& items, const std::string& after = "") {
    return R"({"outbounds":[)" + items + "]" + after + "}";
  };
  const std::pair<std::string, std::string> cases[] = {
      // The outbound tagged "proxy" before an earlier one.
      {outbounds(
           R"({"tag":"old","protocol":"trojan","settings":{"servers":[{"address":"old.example.net"}]}},)"
           R"({"tag":"proxy","protocol":"vmess","settings":{"vnext":[{"address":"new.example.net"}]}})"),
       "new.example.net"},
      // A local relay is no server, nor is a DNS server after the outbounds.
      {outbounds(R"({"protocol":"vless","settings":{"vnext":[{"address":"127.0.0.1"}]}})",
                 R"(,"dns":{"servers":[{"address":"8.8.8.8"}]})"),
       ""},
      {outbounds(
           R"({"protocol":"wireguard","settings":{"peers":[{"endpoint":"wg.example:51820"}]}})"),
       "wg.example"},
      {outbounds(
           R"({"protocol":"hysteria","settings":{"version":2,"address":"[2001:db8::7]:443"}})"),
       "2001:db8::7"},
      {outbounds(
           R"({"protocol":"freedom","settings":{"redirect":"1.2.3.4:1"}},)"
           R"({"protocol":"socks","settings":{"servers":[{"address":"relay.example.net"}]}})"),
       "relay.example.net"},
  };
  for (const auto& [config, host] : cases) EXPECT_EQ(ExtractServerAddress(config), host) << config;

  // A rejected candidate lets the next be tried.
  EXPECT_EQ(ExtractServerAddress(
                outbounds(R"({"protocol":"vless","settings":{"vnext":[{"address":"127.0.0.1"},)"
                          R"({"address":"Edge.Example.net:443"}]}})")),
            "Edge.Example.net");
}

TEST(ExtractDnsServers, KeepsFourDistinctQuotedAddressesOfTheTopLevelSection) {
  using List = std::vector<std::string>;
  const std::pair<std::string, List> cases[] = {
      {R"({"dns":{"servers":["1.1.1.1","1.1.1.1",{"address":"8.8.8.8"},"8.8.4.4","9.9.9.9","1.0.0.1"]}})",
       {"1.1.1.1", "8.8.8.8", "8.8.4.4", "9.9.9.9"}},
      {R"({"dns":{"servers":["x]y","2.2.2.2"]},"z":["3.3.3.3"]})", {"2.2.2.2"}},
      {R"({"dns":{"servers":["https://dns.google/dns-query"]}})", {}},
      {R"({"dns":{"servers":["1.1.1.1")", {}},
      {R"({"x":{"dns":{"servers":["1.1.1.1"]}}})", {}},
      {R"({"dns":{"x":")" + std::string(2000, 'a') + R"(","servers":["1.1.1.1"]}})", {"1.1.1.1"}},
  };
  for (const auto& [config, servers] : cases) EXPECT_EQ(ExtractDnsServers(config), servers);
  EXPECT_EQ(GetTunnelDnsServers({}), (List{"9.9.9.9", "149.112.112.112"}));
  EXPECT_EQ(GetTunnelDnsServers({"1", "2", "3", "4", "5"}), (List{"1", "2", "3", "4"}));
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

// Every scanner steps over strings this one way: an escaped quote does not close a string, and
// an escaped backslash does not escape the quote after it.
TEST(JsonStringEnd, ClosesAtTheFirstUnescapedQuote) {
  const std::pair<const char*, size_t> cases[] = {
      {R"("")", 2},
      {R"("abc", "d")", 5},
      {R"("a\"b")", 6},
      {R"("a\\")", 5},
      {R"("a\\\"b")", 8},
      {R"("]}{[" ])", 6},
      {R"("open)", config_text::kNone},
      {R"("open\")", config_text::kNone},
  };
  for (const auto& [text, end] : cases) EXPECT_EQ(config_text::JsonStringEnd(text, 0), end) << text;
}

}  // namespace
