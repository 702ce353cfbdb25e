// The in-process engine on the simulated home machine, the core and tun2socks stand-ins running
// as real child processes, a local HTTP server as the probe target. The probe through the tunnel
// succeeds only when the host's route lookup sends it into an adapter a tunnel process holds.
#include "vpn_engine/session/vpn_service.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/text_encoding.h"
#include "core_standin/outbound_server.h"
#include "core_standin/standin_paths.h"
#include "core_standin/tun_adapter_marker.h"
#include "machine_files.h"
#include "probes/data_path_probe.h"
#include "probes/loopback_ports.h"
#include "simulated_host/home_machine.h"
#include "simulated_host/name_query.h"
#include "simulated_host/sim_text.h"
#include "simulated_host/simulated_host.h"
#include "simulated_host/standin_adapters.h"
#include "support/host_compare.h"
#include "support/local_http_server.h"
#include "support/log_since.h"
#include "support/planted_files.h"
#include "support/process_census.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/dns_protection/dns_guard.h"
#include "vpn_engine/dns_protection/dns_leak_protection.h"
#include "vpn_engine/dns_protection/name_resolution_policy.h"

namespace {

using simhost::HostState;
using namespace std::chrono_literals;
using process_census::KillAll;
using process_census::TunnelChildren;

// Component location looks in "xray" under the current folder: the stand-in's folder.
const core_standin::UseAsCurrentFolder kStandinFolder;

// The user's temporary folder has letters and blanks as users' folders do.
const wchar_t kUserTemp[] = L"C:\\Users\\Zo\u00eb M\u00fcller\\AppData\\Local\\Temp\\";

constexpr uint32_t kXrayTunIndex = 44;
const wchar_t kXrayTunInstance[] = L"SWD\\Wintun\\{C0FFEE00-1234-4321-ABCD-0123456789AB}";
constexpr uint32_t kPublicAddress = (8u << 24) | (8u << 16) | (4u << 8) | 4u;  // 8.8.4.4

enum class Mode { kTun2socks, kXrayTun };
enum class Point {
  kNone,
  kCommand,     // an outside program starts (detail: its command line)
  kRouteAdd,    // a route is added (detail: "destination/prefix")
  kAddressAdd,  // an address is added
  kAdapterList,
  kDnsWrite,  // an adapter's DNS servers are written
  kSocksProbe,
  kDirectProbe,
  kReady
};
enum class Action { kNone, kStop, kKillXray, kKillTun2socks };
struct Trigger {
  Point point = Point::kNone;
  std::string prefix;  // of the command or route it strikes at
  int nth = 1;         // strikes at the nth time the point is reached
  Action action = Action::kNone;
};

template <typename List, typename Predicate>
void EraseIf(List& list, Predicate predicate) {
  list.erase(std::remove_if(list.begin(), list.end(), predicate), list.end());
}

// Bounds that only catch a hang: each wait ends in well under a second when things work.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 30s) {
  for (const auto end = std::chrono::steady_clock::now() + limit; !condition();) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// The home machine, plus Xray's own TUN adapter while the core stand-in holds it, plus a hook
// called at the points where the fault matrix strikes.
class ScenarioHost : public simhost::SimulatedHost {
 public:
  ScenarioHost() : SimulatedHost(simhost::HomeMachine()) {
    SetHostAddresses("panel.zelvora-demo.net", {"198.51.100.20"});
    SetHostAddresses("bank.example.de", {"203.0.113.45", "203.0.113.46"});
    Filtering().AddProgram(core_standin::XrayExe());
  }

  std::function<void(Point, const std::string&)> hook;

  bool Run(const std::string& command, uint32_t timeout_ms, bool log_failure) override {
    if (hook) hook(Point::kCommand, command);
    return SimulatedHost::Run(command, timeout_ms, log_failure);
  }
  zelvora::SystemCallResult SetAdapterDnsServers(uint64_t luid, bool ipv6,
                                                 const std::vector<std::string>& servers) override {
    if (hook) hook(Point::kDnsWrite, "");
    return SimulatedHost::SetAdapterDnsServers(luid, ipv6, servers);
  }
  uint32_t AddIpv4Route(const zelvora::Ipv4RouteToAdd& route) override {
    if (hook) {
      hook(Point::kRouteAdd,
           simhost::Dotted(route.destination) + "/" + std::to_string(route.prefix_length));
    }
    return SimulatedHost::AddIpv4Route(route);
  }
  uint32_t AddUnicastAddress(uint64_t luid, uint32_t if_index, zelvora::Ipv4Address address,
                             uint8_t prefix_length) override {
    if (hook) hook(Point::kAddressAdd, simhost::Dotted(address));
    return SimulatedHost::AddUnicastAddress(luid, if_index, address, prefix_length);
  }
  zelvora::ReadStatus ListAdapters(zelvora::AdapterListing listing,
                                   std::vector<zelvora::AdapterInfo>* adapters) override {
    if (hook) hook(Point::kAdapterList, "");
    SyncTunnelAdapters();
    return SimulatedHost::ListAdapters(listing, adapters);
  }

  // Xray's adapter exists while the core stand-in runs a configuration with a "tun" inbound.
  void SyncTunnelAdapters() {
    standin_adapters::SyncTun2socksAdapter(*this);
    const bool up = core_standin::TunAdapterMarkerExists();
    Edit([&](HostState& state) {
      const bool present =
          std::any_of(state.adapters.begin(), state.adapters.end(),
                      [](const auto& a) { return a.instance_id == kXrayTunInstance; });
      if (up && !present) {
        simhost::Adapter tun;
        tun.name = L"Zelvora";
        tun.description = L"Xray Tunnel";
        tun.instance_id = kXrayTunInstance;
        tun.luid = 0x0035000009000000ull;
        tun.if_index = tun.ipv6_if_index = kXrayTunIndex;
        tun.interface_metric = 5;
        tun.session_open = true;
        tun.addresses.push_back({"172.19.0.1", 30});
        state.adapters.push_back(tun);
        state.devices.push_back({L"Zelvora", tun.description, tun.instance_id});
      } else if (!up && present) {
        EraseIf(state.adapters, [](const auto& a) { return a.instance_id == kXrayTunInstance; });
        EraseIf(state.routes, [](const auto& r) { return r.if_index == kXrayTunIndex; });
        EraseIf(state.devices, [](const auto& d) { return d.instance_id == kXrayTunInstance; });
      }
    });
  }

  uint32_t BestInterfaceFor(uint32_t destination) {
    simhost::RouteChoice choice;
    return LookupRoute(destination, &choice) ? choice.if_index : 0;
  }

  // A probe from `source` to a public address reaches the local target only when the host sends
  // it into an adapter a tunnel process has a session on.
  int32_t ProbeFrom(const std::string& source, const std::string& url) {
    SyncTunnelAdapters();
    return standin_adapters::IntoTunnel(*this, source) ? ProbeDirect("127.0.0.1", url) : -1;
  }
};

// The engine's environment on `host`, probing the local target.
zelvora::VpnServiceEnvironment SimulatedEnvironment(ScenarioHost& host, DnsGuard& guard,
                                                    zelvora::WintunHolder& holder,
                                                    uint16_t target_port) {
  zelvora::VpnServiceEnvironment environment;
  environment.host = host.Seams();
  environment.guard = &guard;
  environment.holder = &holder;
  environment.ports = SystemLoopbackPorts();
  const std::string target = "http://127.0.0.1:" + std::to_string(target_port);
  environment.probe_url_a = target + "/generate_204";
  environment.probe_url_b = target + "/b/generate_204";
  environment.probe_through_socks = ProbeThroughSocks;
  environment.probe_direct = [&host](const std::string& from, const std::string& url) {
    return host.ProbeFrom(from, url);
  };
  return environment;
}

std::wstring StandinWintun() { return core_standin::Root() + L"\\xray\\wintun.dll"; }

struct SessionConfig {
  uint16_t socks_port = 0;
  uint16_t http_port = 0;
  std::string server = "127.0.0.2";
  uint16_t server_port = 443;
  bool blocked_apps = false;  // per-application bypass: Xray TUN mode
  bool lan_subnet = false;
  int lan_entries = 0;       // a long LAN list: 10.100.0.0/24, 10.100.1.0/24, ...
  bool share_ports = false;  // the local proxy shared with the LAN
  std::string markers;       // core stand-in switches
};

// A configuration as the app sends it: VLESS over WebSocket/TLS, SOCKS and HTTP inbounds,
// routing rules, a DNS section and the app's metadata; $NAME marks what a case sets.
std::string ConfigText(const SessionConfig& c) {
  // clang-format off
  std::string text = R"({$APPS
  "log": {"loglevel": "warning", "access": "none", "marker": "$MARKERS"},
  "dns": {"servers": ["1.1.1.1", "8.8.8.8", {"address": "77.88.8.8", "port": 53, "domains": ["geosite:category-ru"]}], "queryStrategy": "UseIPv4"},
  "inbounds": [
    {"tag": "socks", "port": $SOCKS, "listen": "127.0.0.1", "protocol": "socks", "settings": {"auth": "noauth", "udp": true},
     "sniffing": {"enabled": true, "destOverride": ["http", "tls"]}},
    {"tag": "http", "port": $HTTP, "listen": "127.0.0.1", "protocol": "http", "settings": {}}
  ],
  "outbounds": [
    {"tag": "proxy", "protocol": "vless", "settings": {"vnext": [{"address": "$SERVER", "port": $PORT,
       "users": [{"id": "6f1c2a7e-3b4d-4e5f-8a9b-0c1d2e3f4a5b", "encryption": "none", "flow": ""}]}]},
     "streamSettings": {"network": "ws", "security": "tls",
       "tlsSettings": {"serverName": "edge.zelvora-demo.net", "allowInsecure": false, "fingerprint": "chrome"},
       "wsSettings": {"path": "/vless-ws", "headers": {"Host": "edge.zelvora-demo.net"}}}},
    {"tag": "direct", "protocol": "freedom", "settings": {}},
    {"tag": "block", "protocol": "blackhole", "settings": {}}
  ],
  "routing": {"domainStrategy": "IPIfNonMatch", "rules": [
    {"type": "field", "domain": ["geosite:category-ads-all"], "outboundTag": "block"},
    {"type": "field", "ip": ["geoip:private"], "outboundTag": "direct"},
    {"type": "field", "domain": ["domain:bank.example.de"], "outboundTag": "direct"}
  ]},
  "zelvoraMeta": {"panelHost": "panel.zelvora-demo.net", "directDomains": ["bank.example.de"]$LAN$SHARE}
}
)";
  const std::string apps = R"(
  "__zelvora_blocked_apps": ["C:\\Program Files\\Mozilla Firefox\\firefox.exe", "C:\\Users\\Zo\u00eb M\u00fcller\\AppData\\Local\\Discord\\app-1.0.9\\Discord.exe"],)";
  // The user's own LAN (on-link already) is listed too, as users list it.
  std::string lan = R"(, "bypassSubnets": ["192.168.178.0/24", "10.20.0.0/16")";
  for (int i = 0; i < c.lan_entries; ++i) lan += ", \"10." + std::to_string(100 + i / 256) + "." + std::to_string(i % 256) + ".0/24\"";
  const std::pair<std::string, std::string> values[] = {
      {"$APPS", c.blocked_apps ? apps : ""}, {"$MARKERS", c.markers}, {"$SERVER", c.server},
      {"$SOCKS", std::to_string(c.socks_port)}, {"$HTTP", std::to_string(c.http_port)}, {"$PORT", std::to_string(c.server_port)},
      {"$LAN", c.lan_subnet || c.lan_entries > 0 ? lan + "]" : ""},
      {"$SHARE", c.share_ports ? ", \"shareProxyPorts\": [" + std::to_string(c.http_port) + "]" : ""}};
  // clang-format on
  for (const auto& [key, value] : values) text.replace(text.find(key), key.size(), value);
  return text;
}

class VpnServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine::ClearSessionBackups();
    ::SetEnvironmentVariableW(L"TEMP", kUserTemp);
    ::SetEnvironmentVariableW(L"TMP", kUserTemp);
    std::filesystem::create_directories(kUserTemp);
    host_.hook = [this](Point point, const std::string& detail) { Strike(point, detail); };
    zelvora::VpnServiceEnvironment environment =
        SimulatedEnvironment(host_, guard_, holder_, target_.port());
    environment.exe_lister = [](const std::string&) { return std::vector<std::string>(); };
    environment.probe_through_socks = [this](uint16_t port, const std::string& url) {
      Strike(Point::kSocksProbe, url);
      return ProbeThroughSocks(port, url);
    };
    environment.probe_direct = [this](const std::string& source, const std::string& url) {
      Strike(Point::kDirectProbe, url);
      return host_.ProbeFrom(source, url);
    };
    engine_ = std::make_unique<zelvora::VpnService>(std::move(environment));
    engine_->SetExitCallback([this] { ++exits_; });
    engine_->WaitPrepared();
    before_ = host_.Snapshot();
  }

  void TearDown() override {
    host_.hook = nullptr;
    // A stop the matrix started must end before the engine is destroyed (which stops again).
    if (stopper_.joinable()) stopper_.join();
    engine_.reset();
    KillAll(L"xray.exe");
    KillAll(L"tun2socks.exe");
  }

  SessionConfig Config(Mode mode) {
    SessionConfig c;
    c.socks_port = FindFreeLoopbackPort();
    c.http_port = FindFreeLoopbackPort();
    c.blocked_apps = mode == Mode::kXrayTun;
    c.server_port = server_.port();
    return c;
  }

  // The fault matrix's strike: once, at the chosen point.
  void Strike(Point point, const std::string& detail) {
    if (point != trigger_.point || struck_) return;
    // Only the engine's worker counts: the stop that Start runs first on the caller's thread
    // is not part of the sequence under test.
    if (point != Point::kReady && std::this_thread::get_id() == test_thread_) return;
    if (!trigger_.prefix.empty() && detail.rfind(trigger_.prefix, 0) != 0) return;
    if (++seen_ < trigger_.nth) return;
    struck_ = true;
    if (trigger_.action == Action::kStop) {
      stopper_ = std::thread([this] { engine_->Stop(true); });
      // The stop's first steps (children, flags) come before the step goes on.
      WaitFor([this] { return !engine_->IsRunning(); });
    } else if (trigger_.action != Action::kNone) {
      KillAll(trigger_.action == Action::kKillXray ? L"xray.exe" : L"tun2socks.exe");
    }
  }

  // Ready; the ready line is written right after the flag goes up.
  bool WaitReady() {
    const bool ready = WaitFor([this] { return engine_->IsTunnelReady(); });
    std::this_thread::sleep_for(50ms);
    return ready;
  }
  // Started and ready, with the log so far for a failure message.
  void StartReady(const SessionConfig& config, const TunnelLogWatch& log) {
    ASSERT_EQ(engine_->Start(ConfigText(config)), "");
    ASSERT_TRUE(WaitReady()) << log.NewText();
  }
  // The machine after a stop, Xray's own adapter gone with the core.
  HostState AfterStop() {
    host_.SyncTunnelAdapters();
    return host_.Snapshot();
  }

  // Wine records no file owners; the engine's own backups count as the administrators'.
  planted::OwnerStandIn owners_;
  ScenarioHost host_;
  DnsGuard guard_{host_.Filtering()};
  zelvora::WintunHolder holder_{host_, StandinWintun, nullptr};
  LocalHttpServer target_{204};
  // The VPN server the outbound names: a loopback address that is not 127.0.0.1, so the
  // configuration treats it as a remote server (bypass route and all).
  OutboundServerStandin server_{(127u << 24) | 2u};
  std::unique_ptr<zelvora::VpnService> engine_;
  std::atomic<int> exits_{0};
  HostState before_;

  Trigger trigger_;
  std::atomic<bool> struck_{false};
  int seen_ = 0;
  std::thread stopper_;
  const std::thread::id test_thread_ = std::this_thread::get_id();
};

// A whole session, the server given by name. While connected no name query leaves a physical
// adapter: an app's query (sent by Windows' DNS client) and DNS over HTTPS to the tunnel's DNS
// address travel through the proxy, and the core reaches its server without a lookup through
// the tunnel. The host answers where each leaves.
TEST_F(VpnServiceTest, WholeTun2socksSessionConnectsLeaksNoQueryCountsAndGivesTheMachineBack) {
  SessionConfig config = Config(Mode::kTun2socks);
  config.server = "vpn.zelvora-demo.net";
  host_.SetHostAddresses("vpn.zelvora-demo.net", {"127.0.0.2"});
  config.lan_subnet = true;
  config.markers = "standin_flaky_stats";  // every second statistics query fails
  TunnelLogWatch log;
  StartReady(config, log);

  // Public traffic leads into tun2socks' adapter; the user's LAN, the server and the chosen
  // hosts go around it.
  const uint32_t tunnel = host_.BestInterfaceFor(kPublicAddress);
  for (const simhost::Adapter& a : host_.Snapshot().adapters) {
    if (a.if_index == tunnel) EXPECT_EQ(a.owner, standin_adapters::kTun2socksProcess);
  }
  for (const uint32_t around :
       {(192u << 24) | (168u << 16) | (178u << 8) | 40u,
        (198u << 24) | (51u << 16) | (100u << 8) | 20u, (203u << 24) | (113u << 8) | 46u}) {
    EXPECT_EQ(host_.BestInterfaceFor(around), simhost::home::kEthernetIndex) << around;
  }
  EXPECT_EQ(log.NewText().find("ERROR"), std::string::npos) << log.NewText();

  const auto running =
      machine::ReadBytes(std::wstring(kUserTemp) + L"tidewire_vpn\\vpn_config_active.json");
  ASSERT_TRUE(running);
  const simhost::CoreView core{*running, WideToUtf8(core_standin::XrayExe())};
  const simhost::Path query = simhost::AppNameQuery(host_, core);
  EXPECT_EQ(query.sent_on, L"Zelvora");
  EXPECT_EQ(query.exit, simhost::Exit::kThroughProxy) << WideToUtf8(query.leaves_on);
  const simhost::Path doh = simhost::Connection(
      host_, core, "C:\\Program Files\\Mozilla Firefox\\firefox.exe", true, query.server, 443);
  EXPECT_EQ(doh.exit, simhost::Exit::kThroughProxy) << WideToUtf8(doh.leaves_on);
  bool lookup_needed = true;
  simhost::CoreServerLookup(host_, core, &lookup_needed);
  EXPECT_FALSE(lookup_needed);
  EXPECT_EQ(
      simhost::Connection(host_, core, "C:\\Windows\\System32\\svchost.exe", false, "127.0.0.1", 53)
          .exit,
      simhost::Exit::kLocal);

  // The counters come from the core's statistics, grow with traffic and never go down, though
  // every second query fails.
  uint64_t up = 0, down = 0, highest = 0;
  bool dropped = false;
  const auto sample = [&] {
    engine_->GetTrafficTotals(&up, &down);
    dropped |= down < highest;
    highest = std::max(highest, down);
  };
  ASSERT_TRUE(WaitFor([&] { return sample(), up > 0 && down > 0; }));
  EXPECT_GT(engine_->MeasureConnectedDelay("http://127.0.0.1:" + std::to_string(target_.port()) +
                                           "/generate_204"),
            0);
  const uint64_t first_down = down;
  EXPECT_TRUE(WaitFor([&] { return sample(), down > first_down; }));
  for (int i = 0; i < 30; ++i, std::this_thread::sleep_for(100ms)) sample();
  EXPECT_FALSE(dropped);

  engine_->Stop(true);
  EXPECT_EQ(exits_, 1);
  EXPECT_EQ(engine_->MeasureConnectedDelay("http://127.0.0.1:1/"), -1);
  EXPECT_EQ(TunnelChildren(), 0);
  EXPECT_FALSE(guard_.installed());
  EXPECT_SAME_HOST(before_, host_.Snapshot());
}

struct FaultCase {
  const char* name;
  Mode mode;
  std::function<void(ScenarioHost&, SessionConfig&)> fault;  // a step fails (may be empty)
  Trigger trigger;                 // where a stop or a child's death strikes
  std::vector<std::string> lines;  // logged, in this order
  const char* never = nullptr;     // a step that must not be reached (logged)
};

void NoAdapter(ScenarioHost& host, SessionConfig&) {
  // The persistent adapter is gone and cannot come back (driver refuses).
  host.InjectFault(simhost::Op::kOpenAdapter, 1000, zelvora::ReadStatus::kSizingFailed, 1);
  host.InjectFault(simhost::Op::kCreateAdapter, 1000, zelvora::ReadStatus::kSizingFailed, 1);
  host.Edit([](HostState& state) {
    EraseIf(state.adapters, [](const auto& a) { return a.name == L"Zelvora"; });
    EraseIf(state.devices, [](const auto& d) { return d.friendly_name == L"Zelvora"; });
  });
}

std::vector<FaultCase> FaultCases() {
  const auto marker = [](const char* words) {
    return [words](ScenarioHost&, SessionConfig& c) { c.markers = words; };
  };
  const auto address_refused = [](ScenarioHost& h, SessionConfig&) {
    h.InjectFault(simhost::Op::kAddAddress, 2);
  };
  // The user pinned Ethernet's metric to 1: its default route beats the tunnel's.
  const auto ethernet_pinned = [](ScenarioHost& h, SessionConfig&) {
    h.Edit([](HostState& state) {
      for (simhost::Adapter& a : state.adapters) {
        if (a.if_index == simhost::home::kEthernetIndex) a.interface_metric = 1;
      }
    });
  };
  const auto wfp_commit_fails = [](ScenarioHost& h, SessionConfig&) {
    h.Filtering().SetFailures({0, 0, 0, 0, 0x80320001u});  // the commit
  };
  const auto unknown_server = [](ScenarioHost&, SessionConfig& c) {
    c.server = "edge.gone.zelvora-demo.net";
  };
  // 10,000 LAN entries: a stop must not wait for the rest of the list.
  const auto long_lan_list = [](ScenarioHost&, SessionConfig& c) { c.lan_entries = 10000; };
  const Mode T = Mode::kTun2socks, X = Mode::kXrayTun;
  const std::string aborting = " \xE2\x80\x94 aborting connect";  // an em dash
  const std::string socks_unhealthy = "ERROR: SOCKS data path not healthy" + aborting;
  const std::string tun_unhealthy = "ERROR: TUN data path not healthy" + aborting;
  const std::string dns_failed = "ERROR: DNS leak protection failed" + aborting;
  const std::string diagnostics = "=== connect diagnostics begin ===";
  // clang-format off
  return {
    // name                                              mode fault                 where                 command or route prefix                 nth action
    {"core rejects the configuration",                   T, marker("standin_invalid"), {Point::kNone, "", 1, Action::kNone}, {"Injected Xray config failed validation"}, "pre-ready"},
    {"xray dies before its SOCKS port listens",          T, marker("standin_exit_after_ms:0"), {Point::kNone, "", 1, Action::kNone}, {"ERROR: Xray SOCKS not ready on 127.0.0.1:"}},
    {"tun2socks dies while the adapter is awaited",      T, NoAdapter, {Point::kAdapterList, "", 2, Action::kKillTun2socks}, {"Zelvora adapter did not appear within 20s"}},
    {"stop while the adapter is awaited",                T, NoAdapter, {Point::kAdapterList, "", 2, Action::kStop}, {"Zelvora adapter did not appear within 20s", "Stop completed in"}},
    {"tunnel address never appears",                     T, address_refused, {Point::kNone, "", 1, Action::kNone}, {"ERROR: Zelvora adapter missing 10.0.85.2 after set address"}},
    {"stop while the tunnel address is set",             T, nullptr, {Point::kAddressAdd, "10.0.85.2", 1, Action::kStop}, {"Stop completed in"}},
    {"server name resolves to nothing",                  T, unknown_server, {Point::kNone, "", 1, Action::kNone}, {"ERROR: server bypass incomplete" + aborting, diagnostics}},
    {"stop while bypass routes are added",               T, nullptr, {Point::kRouteAdd, "198.51.100.20/32", 1, Action::kStop}, {"Stop completed in"}},
    {"stop during a 10000-entry LAN list",               T, long_lan_list, {Point::kRouteAdd, "10.100.3.0/24", 1, Action::kStop}, {"Stop completed in"}},
    {"SOCKS relay refuses every connection",             T, marker("standin_refuse_connect"), {Point::kNone, "", 1, Action::kNone}, {"pre-ready SOCKS probe FAILED socks=", "attempt=4", socks_unhealthy + " (another tunnel or network conflict may be interfering; retry)", diagnostics}},
    {"stop during the SOCKS probe",                      T, nullptr, {Point::kSocksProbe, "", 1, Action::kStop}, {socks_unhealthy, diagnostics}},
    {"xray dies during the SOCKS probe",                 T, nullptr, {Point::kSocksProbe, "", 1, Action::kKillXray}, {socks_unhealthy, diagnostics}},
    {"tunnel default route never wins",                  T, ethernet_pinned, {Point::kNone, "", 1, Action::kNone}, {"ERROR: IPv4 default via Zelvora not winning" + aborting}, "pre-ready TUN path probe"},
    {"tun2socks dies as the default route is added",     T, nullptr, {Point::kRouteAdd, "0.0.0.0/0", 1, Action::kKillTun2socks}, {"ERROR: IPv4 default via Zelvora not winning" + aborting, diagnostics}},
    {"tun2socks dies during the TUN path probe",          T, nullptr, {Point::kDirectProbe, "", 1, Action::kKillTun2socks}, {"ERROR: tun2socks exited before TUN path probe", tun_unhealthy, diagnostics}},
    {"stop during the TUN path probe",                   T, nullptr, {Point::kDirectProbe, "", 1, Action::kStop}, {"Stop completed in"}},
    {"DNS guard cannot be installed",                    T, wfp_commit_fails, {Point::kNone, "", 1, Action::kNone}, {dns_failed}},
    {"stop while DNS is being protected",                T, nullptr, {Point::kDnsWrite, "", 1, Action::kStop}, {"dns-leak: aborted mid-apply", dns_failed, "Stop completed in"}},
    {"tun2socks dies while connected",                   T, nullptr, {Point::kReady, "", 1, Action::kKillTun2socks}, {"Tun2Socks process exited unexpectedly"}},
    {"xray dies while connected",                        T, nullptr, {Point::kReady, "", 1, Action::kKillXray}, {"Xray process exited unexpectedly"}},
    {"xray dies while its adapter is awaited",           X, nullptr, {Point::kAdapterList, "", 1, Action::kKillXray}, {"ERROR: Zelvora adapter did not appear within 25s (Xray TUN)"}},
    {"SOCKS relay refuses every connection (Xray TUN)",  X, marker("standin_refuse_connect"), {Point::kNone, "", 1, Action::kNone}, {"pre-ready SOCKS probe FAILED url=", socks_unhealthy + "\r\n"}},
    {"xray dies before the TUN path probe (Xray TUN)",   X, nullptr, {Point::kDirectProbe, "", 1, Action::kKillXray}, {"ERROR: Xray exited before TUN path probe", tun_unhealthy, diagnostics}},
    {"stop while DNS is being protected (Xray TUN)",     X, nullptr, {Point::kDnsWrite, "", 1, Action::kStop}, {"dns-leak: aborted mid-apply", dns_failed, "Stop completed in"}},
    {"xray dies while connected (Xray TUN)",             X, nullptr, {Point::kReady, "", 1, Action::kKillXray}, {"Xray process exited unexpectedly"}},
  };
  // clang-format on
}

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class FaultMatrix : public VpnServiceTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrix, EndsAsTheTableSaysAndLeavesTheMachineAsItWas) {
  const FaultCase& c = GetParam();
  SessionConfig config = Config(c.mode);
  if (c.fault) c.fault(host_, config);
  before_ = host_.Snapshot();
  const Point point = c.trigger.point;
  if (point != Point::kReady) trigger_ = c.trigger;
  TunnelLogWatch log;
  if (point == Point::kReady) {
    StartReady(config, log);
    // Connected in Xray TUN mode, Xray's adapter replaced the persistent one and carries other
    // programs' traffic; tun2socks is not used.
    if (c.mode == Mode::kXrayTun) {
      EXPECT_EQ(host_.BestInterfaceFor(kPublicAddress), kXrayTunIndex);
      EXPECT_EQ(process_census::Count(L"tun2socks.exe"), 0);
      uint64_t up = 0, down = 0;
      EXPECT_TRUE(WaitFor([&] { return engine_->GetTrafficTotals(&up, &down), up > 0; }));
    }
    trigger_ = c.trigger;
    Strike(Point::kReady, "");
  } else {
    ASSERT_EQ(engine_->Start(ConfigText(config)), "");
  }
  ASSERT_TRUE(WaitFor([this] { return exits_ > 0 && !engine_->IsRunning(); }, 60s))
      << log.NewText();
  if (stopper_.joinable()) stopper_.join();
  EXPECT_TRUE(struck_ || point == Point::kNone) << "the fault never struck";

  const std::string text = log.NewText();
  EXPECT_TRUE(InOrder(text, c.lines)) << text;
  EXPECT_EQ(text.find("Zelvora tunnel ready") != std::string::npos, point == Point::kReady);
  if (c.lines == std::vector<std::string>{"Stop completed in"}) {
    EXPECT_EQ(text.find("ERROR: "), std::string::npos) << "a stop is no error:\n" << text;
  }
  if (c.never) EXPECT_EQ(text.find(c.never), std::string::npos) << text;
  EXPECT_FALSE(engine_->IsTunnelReady());
  EXPECT_TRUE(WaitFor([] { return TunnelChildren() == 0; }));
  EXPECT_FALSE(guard_.installed());
  // The persistent adapter, released for tun2socks' or Xray's own, returns with the stop.
  engine_->Stop(true);
  EXPECT_SAME_HOST(before_, AfterStop());
  EXPECT_EQ(exits_, 1);
  EXPECT_EQ(PendingDnsRestores(), 0);
}

INSTANTIATE_TEST_SUITE_P(Steps, FaultMatrix, ::testing::ValuesIn(FaultCases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) ch = std::isalnum(ch & 0xFF) ? ch : '_';
                           return name;
                         });

TEST_F(VpnServiceTest, StartOverARunningSessionStopsItFirst) {
  TunnelLogWatch log;
  StartReady(Config(Mode::kTun2socks), log);
  StartReady(Config(Mode::kTun2socks), log);
  EXPECT_TRUE(InOrder(log.NewText(),
                      {"Zelvora tunnel ready", "Stop completed in", "Zelvora tunnel ready"}));
  EXPECT_EQ(exits_, 1);  // the first worker ended; the second runs
  // One core left: the new session's (a statistics query may be running beside it briefly).
  EXPECT_TRUE(WaitFor([] { return process_census::Count(L"xray.exe") == 1; }));
  EXPECT_EQ(process_census::Count(L"tun2socks.exe"), 1);
  engine_->Stop(true);
  EXPECT_SAME_HOST(before_, host_.Snapshot());
}

// The app's folder as a user has it, holding some of the outside programs: what is missing
// decides whether a start is refused at once (with the text the user sees) or which mode runs.
TEST_F(VpnServiceTest, MissingProgramsRefuseTheStartOrChooseXrayTun) {
  const struct {
    bool xray, tun2socks, bypass_apps;
    const char* refusal;  // how the answer begins; null: accepted
  } cases[] = {{false, true, false, "xray.exe not found. Place it in the xray folder"},
               {true, false, false, "tun2socks.exe not found. Place it in the xray folder"},
               {true, false, true, nullptr}};
  const std::wstring app = L"C:\\Users\\Zo\u00eb M\u00fcller\\AppData\\Local\\Zelvora VPN";
  std::filesystem::create_directories(app + L"\\xray");
  // The DNS guard lets exactly this xray.exe reach the DNS servers.
  host_.Filtering().AddProgram(app + L"\\xray\\xray.exe");
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal ? c.refusal : "accepted");
    for (const std::wstring file :
         {L"xray.exe", L"tun2socks.exe", L"geoip.dat", L"geosite.dat", L"wintun.dll"}) {
      const std::wstring target = app + L"\\xray\\" + file;
      ::DeleteFileW(target.c_str());
      if ((file == L"xray.exe" && !c.xray) || (file == L"tun2socks.exe" && !c.tun2socks)) continue;
      ASSERT_TRUE(
          ::CopyFileW((core_standin::Root() + L"\\xray\\" + file).c_str(), target.c_str(), FALSE));
    }
    ::SetCurrentDirectoryW(app.c_str());
    const std::string answer =
        engine_->Start(ConfigText(Config(c.bypass_apps ? Mode::kXrayTun : Mode::kTun2socks)));
    EXPECT_EQ(answer.rfind(c.refusal ? c.refusal : "", 0), 0u) << answer;
    if (!c.refusal) EXPECT_TRUE(answer.empty() && WaitReady()) << answer;
    EXPECT_EQ(engine_->IsRunning(), !c.refusal);
    engine_->Stop(true);
    ::SetCurrentDirectoryW(previous);
  }
  EXPECT_EQ(exits_, 1);  // refused starts run no worker
  EXPECT_SAME_HOST(before_, AfterStop());
}

// The app dies while connected and the machine is restarted: only the persistent store is left
// (no route or address of the session), and the next start of the elevated app repairs DNS,
// metrics, policy and the LAN-sharing rule from the backups before anything else, without a
// connect.
TEST_F(VpnServiceTest, CrashWhileConnectedIsRepairedAtTheNextStartEvenAfterARestart) {
  using machine::kParallel;
  using machine::kSmart;
  const auto policy = [] {
    return std::make_pair(machine::ReadPolicy(kSmart), machine::ReadPolicy(kParallel));
  };
  const auto policy_before = policy();
  TunnelLogWatch log;
  SessionConfig config = Config(Mode::kTun2socks);
  config.share_ports = true;
  StartReady(config, log);

  // The process dies while connected: the machine keeps its changes and the backup files stay,
  // the children go with the process's job, the dynamic WFP session closes. Here the first
  // engine is stopped against the old machine and the files are put back as the crash left them.
  const HostState crashed = host_.Snapshot();
  ASSERT_EQ(crashed.firewall_rules.size(), 1u) << "the shared proxy has no firewall rule";
  std::vector<std::pair<std::wstring, std::optional<std::string>>> files;
  for (const wchar_t* name :
       {L"dns_restore.v1", L"smhnr_restore.v1", L"smhnr_session_owned.flag"}) {
    const std::wstring path = machine::ZelvoraFile(name);
    files.emplace_back(path, machine::ReadBytes(path));
  }
  ASSERT_TRUE(files[0].second.has_value()) << "no DNS backup on disk while connected";
  const auto policy_connected = policy();
  engine_->Stop(true);
  for (const auto& [path, bytes] : files) {
    if (bytes) ASSERT_TRUE(machine::WriteBytes(path, *bytes));
    if (!bytes) ::DeleteFileW(path.c_str());
  }
  machine::SetPolicy(kSmart, policy_connected.first);
  machine::SetPolicy(kParallel, policy_connected.second);
  ForgetNameResolutionPolicyMemory();

  // The next run of the app, after a restart (which keeps no route or address of the session):
  // a fresh engine on the crashed machine repairs DNS, metrics and policy before any connect.
  ScenarioHost machine;
  machine.Edit([&](HostState& state) { state = crashed; });
  machine.EndProcess(simhost::kAppProcess);
  machine.Reboot();
  DnsGuard guard(machine.Filtering());
  zelvora::WintunHolder holder(machine, StandinWintun, nullptr);
  zelvora::VpnServiceEnvironment environment =
      SimulatedEnvironment(machine, guard, holder, target_.port());
  environment.repair_unfinished_session = true;
  const auto expect_repaired = [&](const char* when) {
    EXPECT_SAME_HOST(before_, machine.Snapshot()) << when;
    EXPECT_EQ(policy(), policy_before) << when;
    EXPECT_FALSE(machine::ReadBytes(files[0].first).has_value()) << when;
  };
  {
    zelvora::VpnService next(std::move(environment));
    next.WaitPrepared();
    expect_repaired("at start");
    ASSERT_EQ(next.Start(ConfigText(Config(Mode::kTun2socks))), "");
    ASSERT_TRUE(WaitFor([&] { return next.IsTunnelReady(); })) << log.NewText();
    next.Stop(true);
  }
  expect_repaired("after the next session");
}

}  // namespace
