// Decisions of the process runner and the probes that need no Windows: the hidden command's
// program, component candidates and texts, the orphan test, the tun2socks output filter, URL
// splitting and the SOCKS5 and HTTP bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "probes/core_traffic.h"
#include "probes/probe_request.h"
#include "processes/child_output.h"
#include "processes/component_rules.h"
#include "processes/hidden_command_line.h"

namespace {

// Every program runs by its full path in the system folder, never found by a search.
TEST(HiddenCommandPlan, ProgramsRunFromTheSystemFolderByFullPath) {
  const std::string system = "C:\\windows\\system32";
  for (const char* program : {"netsh", "route", "ipconfig"}) {
    const std::string command = std::string(program) + " x";
    const auto plan = PlanHiddenCommand(command, system);
    EXPECT_EQ(plan.application, system + "\\" + program + ".exe") << program;
    EXPECT_EQ(plan.command_line, command);
  }
  for (const char* other : {"NETSH interface show", "routes", "nets", "ipconfig"}) {
    const auto plan = PlanHiddenCommand(other, system);
    EXPECT_EQ(plan.application, system + "\\cmd.exe") << other;
    EXPECT_EQ(plan.command_line, std::string("cmd.exe /C ") + other);
  }
  // Without the system folder nothing runs.
  EXPECT_EQ(PlanHiddenCommand("netsh x", "").application, "");
}

TEST(ComponentFolders, TheApplicationFolderFirstThenTheCurrentFolderTree) {
  const auto all = ComponentFolders(L"C:\\work\\app", L"C:\\Program Files\\Zel");
  const std::vector<std::wstring> expected = {
      L"C:\\Program Files\\Zel",
      L"C:\\Program Files\\Zel\\xray",
      L"C:\\Program Files\\Zel\\data\\flutter_assets",
      L"C:\\Program Files\\Zel\\data\\flutter_assets\\xray",
      L"C:\\Program Files\\Zel\\data\\flutter_assets\\windows\\xray",
      L"C:\\work\\app",
      L"C:\\work\\app\\xray",
      L"C:\\work\\app\\windows\\xray",
      L"C:\\work\\xray",
  };
  EXPECT_EQ(all, expected);
  EXPECT_EQ(ComponentFolders(L"", L"C:\\Zel").size(), 5u);
}

TEST(ComponentCheck, FirstMissingPieceNamesTheFix) {
  std::set<std::wstring> present = {L"geoip.dat", L"geosite.dat", L"wintun.dll"};
  auto exists = [&](const std::wstring& name) { return present.count(name) > 0; };
  EXPECT_EQ(ComponentCheckText(true, true, false, exists), "");
  EXPECT_EQ(ComponentCheckText(true, false, true, exists), "") << "native TUN needs no tun2socks";
  EXPECT_EQ(ComponentCheckText(false, true, false, exists),
            "xray.exe not found. Place it in the xray folder next to zel_vora.exe (with geoip.dat "
            "and geosite.dat).");
  EXPECT_EQ(ComponentCheckText(true, false, false, exists),
            "tun2socks.exe not found. Place it in the xray folder next to zel_vora.exe (with "
            "wintun.dll).");
  present.erase(L"geosite.dat");
  EXPECT_EQ(ComponentCheckText(true, true, false, exists),
            "geoip.dat / geosite.dat missing in the xray folder next to zel_vora.exe.");
  present = {L"geoip.dat", L"geosite.dat"};
  EXPECT_EQ(ComponentCheckText(true, true, false, exists),
            "wintun.dll missing in the xray folder next to zel_vora.exe.");
}

TEST(OrphanRule, OwnCoreProgramsUnderTheApplicationFolderOnly) {
  const std::wstring folder = LowerApplicationFolder(L"C:\\Apps\\Zel\\zel_vora.exe");
  EXPECT_EQ(folder, L"c:\\apps\\zel\\");
  EXPECT_TRUE(IsOwnCoreProcess(folder, L"XRAY.exe", L"C:\\Apps\\Zel\\xray\\xray.exe"));
  EXPECT_TRUE(IsOwnCoreProcess(folder, L"tun2socks.exe", L"c:\\apps\\zel\\TUN2SOCKS.EXE"));
  EXPECT_FALSE(IsOwnCoreProcess(folder, L"xray.exe", L"C:\\Other\\xray.exe"));
  EXPECT_FALSE(IsOwnCoreProcess(folder, L"xray.exe", L"C:\\Apps\\Zelda\\xray.exe"));
  EXPECT_FALSE(IsOwnCoreProcess(folder, L"zel_vora.exe", L"C:\\Apps\\Zel\\zel_vora.exe"));
  EXPECT_EQ(LowerApplicationFolder(L"noslash.exe"), L"");
  EXPECT_FALSE(IsOwnCoreProcess(L"", L"xray.exe", L"xray.exe"));
}

// What reaches the tunnel log from tun2socks, whatever the reads' boundaries: one log line per
// line of output, chatter dropped, no line forged by a line break inside a read.
TEST(Tun2socksOutput, OneLogLinePerOutputLineWithChatterDropped) {
  const std::string forged_stamp = "2026-01-01 00:00:00 [plugin] VPN connected";
  struct Case {
    const char* name;
    std::vector<std::string> reads;
    std::vector<std::string> reported;
  };
  const Case cases[] = {
      {"a warning, CR LF ended",
       {"{\"level\":\"warn\",\"msg\":\"x\"}\r\n"},
       {"{\"level\":\"warn\",\"msg\":\"x\"}"}},
      {"chatter between warnings in one read",
       {"{\"level\":\"warn\",\"msg\":\"a\"}\n{\"level\":\"info\",\"msg\":\"b\"}\n"
        "{\"level\":\"debug\"}\r\n{\"level\":\"error\",\"msg\":\"c\"}\n"},
       {"{\"level\":\"warn\",\"msg\":\"a\"}", "{\"level\":\"error\",\"msg\":\"c\"}"}},
      {"a line split over three reads comes out whole",
       {"{\"level\":\"wa", "rn\",\"msg\":\"sp", "lit\"}\n"},
       {"{\"level\":\"warn\",\"msg\":\"split\"}"}},
      {"a line break cannot start a line of ours inside the child's",
       {"bad input\n" + forged_stamp + "\n"},
       {"bad input", forged_stamp}},
      {"blank lines and an unfinished last line",
       {"\r\n\r\n", "tail without end"},
       {"tail without end"}},
      {"bytes after a zero byte are not text", {std::string("err\0junk\n", 9), "\n"}, {"err"}},
  };
  for (const Case& c : cases) {
    OutputLineSplitter splitter;
    std::vector<std::string> reported;
    const auto report = [&](const std::string& line) {
      if (const auto kept = Tun2socksReportLine(line)) reported.push_back(*kept);
    };
    for (const std::string& read : c.reads) {
      for (const std::string& line : splitter.Feed(read)) report(line);
    }
    if (const auto rest = splitter.Finish()) report(*rest);
    EXPECT_EQ(reported, c.reported) << c.name;
  }
  // A child that never ends its line cannot grow one without bound.
  OutputLineSplitter splitter;
  const auto lines = splitter.Feed(std::string(OutputLineSplitter::kMaxLineBytes * 2 + 5, 'x'));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), OutputLineSplitter::kMaxLineBytes);
  EXPECT_EQ(splitter.Finish()->size(), 5u);
}

TEST(ProbeUrl, SchemePortAndPath) {
  const struct {
    const char* url;
    std::optional<ProbeTarget> target;
  } cases[] = {
      {"http://example.test:8080/x", ProbeTarget{false, "example.test", 8080, "/x"}},
      {"example.test/generate_204", ProbeTarget{true, "example.test", 443, "/generate_204"}},
      {"https://cp.example", ProbeTarget{true, "cp.example", 443, "/"}},
      {"http://h:80abc/", ProbeTarget{false, "h", 80, "/"}},  // digits up to the first other
      {"http://h:x/", std::nullopt},
      {"http://h:0/", std::nullopt},
      {"http://h:70000/", std::nullopt},  // not silently wrapped to 4464
      {"http:///path", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto target = SplitProbeUrl(c.url);
    ASSERT_EQ(target.has_value(), c.target.has_value()) << c.url;
    if (!target) continue;
    EXPECT_EQ(std::tie(target->secure, target->host, target->port, target->path),
              std::tie(c.target->secure, c.target->host, c.target->port, c.target->path))
        << c.url;
  }
}

TEST(ProbeBytes, SocksAndHttpBytes) {
  EXPECT_EQ(SocksGreeting(), (std::vector<uint8_t>{5, 1, 0}));
  const uint8_t accepted[2] = {5, 0};
  const uint8_t wants_password[2] = {5, 2};
  EXPECT_TRUE(SocksGreetingAccepted(accepted));
  EXPECT_FALSE(SocksGreetingAccepted(wants_password));

  EXPECT_EQ(SocksConnectRequest("ab.c", 0x1F90),
            (std::vector<uint8_t>{5, 1, 0, 3, 4, 'a', 'b', '.', 'c', 0x1F, 0x90}));
  EXPECT_FALSE(SocksConnectRequest(std::string(256, 'a'), 80));

  // IPv4, IPv6 and name replies; a refusal and an unknown address type have no length.
  const std::pair<std::vector<uint8_t>, std::optional<size_t>> replies[] = {
      {{5, 0, 0, 1, 0}, 10}, {{5, 0, 0, 4, 0}, 22},           {{5, 0, 0, 3, 7}, 14},
      {{5, 1, 0, 1, 0}, {}}, {{5, 0, 0, 9, 0}, std::nullopt},
  };
  for (const auto& [reply, length] : replies) {
    EXPECT_EQ(SocksConnectReplyLength(reply.data()), length) << int(reply[3]);
  }

  // The HTTP request and the status line that ends the probe.
  ProbeTarget target{false, "h.test", 8080, "/x"};
  EXPECT_EQ(ProbeHttpRequest("GET", target),
            "GET /x HTTP/1.1\r\nHost: h.test:8080\r\nUser-Agent: Zelvora/1.0\r\nAccept: */*\r\n"
            "Connection: close\r\n\r\n");
  target = {true, "h.test", 443, "/"};
  EXPECT_EQ(ProbeHttpRequest("HEAD", target).rfind("HEAD / HTTP/1.1\r\nHost: h.test\r\n", 0), 0u);

  EXPECT_TRUE(HasHttpStatusLine("HTTP/1.1 500 Internal Server Error\r\n"));
  EXPECT_TRUE(HasHttpStatusLine("HTTP/1.0 204 \r\n\r\n"));
  EXPECT_FALSE(HasHttpStatusLine("HTTP/1.1 200 OK"));  // line not complete yet
  EXPECT_FALSE(HasHttpStatusLine("SSH-2.0-OpenSSH\r\n"));
  EXPECT_FALSE(HasHttpStatusLine("HTTP/1.1 xyz\r\n"));
}

// The forms the core's "api statsquery" prints, and what each gives in both modes.
TEST(CoreTraffic, ReadsTheCoresOutputForms) {
  struct Case {
    const char* what;
    const char* output;
    std::optional<std::pair<uint64_t, uint64_t>> expected;  // uplink, downlink
  };
  const Case cases[] = {
      {"64-bit values as strings; inbound counters repeat outbound traffic",
       R"({
  "stat": [
    {"name": "inbound>>>socks-in>>>traffic>>>uplink", "value": "100"},
    {"name": "outbound>>>proxy>>>traffic>>>uplink", "value": "100"},
    {"name": "outbound>>>proxy>>>traffic>>>downlink", "value": "900"},
    {"name": "outbound>>>direct>>>traffic>>>uplink", "value": "5"},
    {"name": "outbound>>>api>>>traffic>>>downlink", "value": "77"}
  ]
})",
       std::make_pair(105, 900)},
      {"bare numbers, any member order, a zero counter left out",
       R"({"stat": [{"value": 7, "name": "outbound>>>proxy>>>traffic>>>downlink"},
                    {"name": "outbound>>>proxy>>>traffic>>>uplink"}]})",
       std::make_pair(0, 7)},
      {"negative and malformed values add nothing, the rest still counts",
       R"({"stat": [{"name": "outbound>>>proxy>>>traffic>>>uplink", "value": -50},
                    {"name": "outbound>>>proxy>>>traffic>>>uplink", "value": "12x"},
                    {"name": "outbound>>>proxy>>>traffic>>>uplink", "value": 1.5},
                    {"name": "outbound>>>proxy>>>traffic>>>uplink", "value": 3}]})",
       std::make_pair(3, 0)},
      {"runaway numbers stop at the largest value",
       R"({"stat": [{"name": "outbound>>>proxy>>>traffic>>>uplink", "value": 123456789012345678901234567890},
                    {"name": "outbound>>>direct>>>traffic>>>uplink", "value": "9223372036854775807"}]})",
       std::make_pair(INT64_MAX, 0)},
      {"no counters yet", R"({"stat": []})", std::make_pair(0, 0)},
      {"the API did not answer", "failed to dial: connection refused", std::nullopt},
      {"an answer without counters", "{}", std::nullopt},
  };
  const auto pair_of = [](const std::optional<TrafficTotals>& totals) {
    return totals ? std::make_optional(std::make_pair(totals->uplink, totals->downlink))
                  : std::nullopt;
  };
  for (const Case& c : cases) EXPECT_EQ(pair_of(ReadCoreTraffic(c.output)), c.expected) << c.what;
  // The engine counts its proxy outbound only; "direct" traffic bypassed the tunnel.
  EXPECT_EQ(pair_of(ReadCoreTraffic(cases[0].output, "proxy")),
            (std::pair<uint64_t, uint64_t>(100, 900)));
  EXPECT_EQ(
      pair_of(ReadCoreTraffic(
          R"({"stat": [{"name": "outbound>>>proxy2>>>traffic>>>uplink", "value": 4}]})", "proxy")),
      (std::pair<uint64_t, uint64_t>(0, 0)));
}

}  // namespace
