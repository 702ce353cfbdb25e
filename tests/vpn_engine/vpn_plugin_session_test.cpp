// An in-process VPN session driven through the channel, as the app drives it in an elevated
// process without the tunnel service: the plug-in's own manager and engine run on the simulated
// home machine (installed as the active seams before the plug-in exists) with the core and
// tun2socks stand-ins, and probe a local server instead of the public endpoints.
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "common/elevation.h"
#include "core_standin/outbound_server.h"
#include "core_standin/standin_paths.h"
#include "machine_files.h"
#include "plugin/tunnel_service_choice.h"
#include "plugin/vpn_service_manager.h"
#include "plugin_fixture.h"
#include "probes/data_path_probe.h"
#include "probes/loopback_ports.h"
#include "simulated_host/home_machine.h"
#include "simulated_host/simulated_host.h"
#include "simulated_host/standin_adapters.h"
#include "support/host_compare.h"
#include "support/local_http_server.h"
#include "support/process_census.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/session/vpn_service_environment.h"

namespace zelvora::testing {
namespace {

using namespace std::chrono_literals;

const core_standin::UseAsCurrentFolder kUseStandin;

// The simulated machine, noting the threads that reach the adapter driver: loading Wintun,
// listing and removing devices, creating and closing adapters can wait for seconds on a real
// machine, so none of it may run on the app's platform thread.
class WatchedHost : public standin_adapters::StandinHost {
 public:
  WatchedHost() : StandinHost(simhost::HomeMachine()) {}
  bool DriverReachedFrom(DWORD thread) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(threads_.begin(), threads_.end(), thread) != threads_.end();
  }
  void ForgetThreads() {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.clear();
  }
  zelvora::WintunLoadResult LoadWintun(const std::wstring& path, uint32_t* error) override {
    Note();
    return StandinHost::LoadWintun(path, error);
  }
  void UnloadWintun() override {
    Note();
    StandinHost::UnloadWintun();
  }
  zelvora::WintunAdapter CreateAdapter(const std::wstring& name, const std::wstring& type,
                                       const std::wstring& guid, uint32_t* error) override {
    Note();
    return StandinHost::CreateAdapter(name, type, guid, error);
  }
  void CloseAdapter(zelvora::WintunAdapter adapter) override {
    Note();
    StandinHost::CloseAdapter(adapter);
  }
  bool ListNetDevices(std::vector<zelvora::NetDevice>* devices, uint32_t* error) override {
    Note();
    return StandinHost::ListNetDevices(devices, error);
  }

 private:
  void Note() {
    std::lock_guard<std::mutex> lock(mutex_);
    const DWORD thread = ::GetCurrentThreadId();
    if (std::find(threads_.begin(), threads_.end(), thread) == threads_.end()) {
      threads_.push_back(thread);
    }
  }
  std::mutex mutex_;
  std::vector<DWORD> threads_;
};

// The machine, the probe target and the VPN server, made before the plug-in and its engine.
struct SimulatedWorld {
  WatchedHost host;
  LocalHttpServer target{204};
  OutboundServerStandin server{(127u << 24) | 2u};
  // The plug-in's own holder always drives the real wintun.dll; the engine here gets one over
  // the simulated machine's driver.
  WintunHolder holder{host, [] { return core_standin::Root() + L"\\xray\\wintun.dll"; }, nullptr};
  SimulatedWorld() {
    host.SetHostAddresses("panel.zelvora-demo.net", {"198.51.100.20"});
    host.SetHostAddresses("127.0.0.2", {"127.0.0.2"});
    host.Filtering().AddProgram(core_standin::XrayExe());
    ActiveHost() = host.Seams();
    SetVpnEnvironmentAdjuster([this](VpnServiceEnvironment& environment) {
      const std::string url = "http://127.0.0.1:" + std::to_string(target.port());
      environment.probe_url_a = url + "/generate_204";
      environment.probe_url_b = url + "/b/generate_204";
      environment.holder = &holder;
      // The tunnel probe reaches the target when the machine sends it into the tunnel.
      environment.probe_direct = [this](const std::string& source, const std::string& target) {
        return standin_adapters::IntoTunnel(host, source) ? ProbeDirect("127.0.0.1", target) : -1;
      };
    });
  }
};
SimulatedWorld& World() {
  static SimulatedWorld* world = new SimulatedWorld();  // outlives the plug-in's threads
  return *world;
}
const bool kWorldReady = (World(), true);

std::string VpnConfig() {
  const auto port = [](uint16_t p) { return std::to_string(p); };
  // clang-format off
  return R"({"log": {"loglevel": "warning"}, "dns": {"servers": ["1.1.1.1", "8.8.8.8"]},
  "inbounds": [
    {"tag": "socks", "port": )" + port(FindFreeLoopbackPort()) + R"(, "listen": "127.0.0.1", "protocol": "socks", "settings": {"auth": "noauth", "udp": true}},
    {"tag": "http", "port": )" + port(FindFreeLoopbackPort()) + R"(, "listen": "127.0.0.1", "protocol": "http", "settings": {}}],
  "outbounds": [
    {"tag": "proxy", "protocol": "vless", "settings": {"vnext": [{"address": "127.0.0.2", "port": )" + port(World().server.port()) + R"(,
       "users": [{"id": "6f1c2a7e-3b4d-4e5f-8a9b-0c1d2e3f4a5b", "encryption": "none"}]}]},
     "streamSettings": {"network": "ws", "security": "tls", "tlsSettings": {"serverName": "edge.zelvora-demo.net"}}},
    {"tag": "direct", "protocol": "freedom", "settings": {}}],
  "routing": {"rules": [{"type": "field", "ip": ["geoip:private"], "outboundTag": "direct"}]},
  "zelvoraMeta": {"panelHost": "panel.zelvora-demo.net"}})";
  // clang-format on
}

// The machine as it is once the process has ended: without the adapters the engine's process
// created (the persistent adapter is not brought back at the plug-in's end: it would go with
// the process a moment later).
simhost::HostState AfterExit(simhost::HostState state) {
  auto& adapters = state.adapters;
  adapters.erase(std::remove_if(adapters.begin(), adapters.end(),
                                [](const auto& a) { return a.owner == simhost::kAppProcess; }),
                 adapters.end());
  auto& devices = state.devices;
  devices.erase(std::remove_if(devices.begin(), devices.end(),
                               [](const auto& d) {
                                 return d.instance_id.find(simhost::home::kOwnGuid) !=
                                        std::wstring::npos;
                               }),
                devices.end());
  return host_compare::Comparable(state);
}

// The status lists that arrive until `state` does (or the limit passes); empty when it never came.
std::vector<EncodableList> EventsUntil(ChannelHost& host, const std::string& state,
                                       std::chrono::seconds limit) {
  std::vector<EncodableList> seen;
  for (const auto end = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < end;) {
    const auto event = host.WaitForEvent("tidewire/status", std::chrono::milliseconds(500));
    if (!event || !std::holds_alternative<EncodableList>(event->value)) continue;
    seen.push_back(std::get<EncodableList>(event->value));
    if (seen.back().size() == 6 && seen.back()[5] == EncodableValue(state)) return seen;
  }
  return {};
}

uint64_t Number(const EncodableValue& value) { return std::stoull(std::get<std::string>(value)); }

// Standard output that holds the first write containing `text` until `hold` returns; every
// other write passes straight through. The plug-in logs "Xray started successfully" (to standard
// output, among others) after a start returned and before the status thread takes over.
class HoldingOutput : public std::streambuf {
 public:
  HoldingOutput(std::string text, std::function<void()> hold)
      : text_(std::move(text)), hold_(std::move(hold)), next_(std::cout.rdbuf(this)) {}
  ~HoldingOutput() override { std::cout.rdbuf(next_); }
  bool Held() const { return held_; }

 protected:
  int overflow(int c) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return next_->sputc(static_cast<char>(c));
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (!held_ && std::string(s, static_cast<size_t>(n)).find(text_) != std::string::npos) {
      held_ = true;
      hold_();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return next_->sputn(s, n);
  }

 private:
  std::string text_;
  std::function<void()> hold_;
  std::atomic<bool> held_{false};
  std::mutex mutex_;
  std::streambuf* next_;
};

class VpnPluginTest : public PluginTest {
 protected:
  void SetUp() override {
    if (ShouldUseTunnelService() || !IsProcessElevated()) {
      GTEST_SKIP() << "needs an elevated process without the tunnel service";
    }
    machine::ClearSessionBackups();
    ASSERT_EQ(host_->Listen("tidewire/status").kind, ReplyKind::kSuccess);
    before_ = World().host.Snapshot();
    World().host.ForgetThreads();
  }
  void TearDown() override {
    // The plug-in and its channels live on this thread, as on the app's platform thread, and
    // the plug-in's end runs here too.
    host_.reset();
    EXPECT_FALSE(World().host.DriverReachedFrom(::GetCurrentThreadId()))
        << "adapter driver work ran on the platform thread";
  }
  MethodReply Start() {
    return Call("startVless", Map({{"remark", EncodableValue("Frankfurt \u2014 VLESS")},
                                   {"config", EncodableValue(VpnConfig())}}));
  }
  simhost::HostState before_;
};

TEST_F(VpnPluginTest, ConnectsInProcessWithLiveStatusAndDisconnectsCleanly) {
  ExpectSuccess(Start(), EncodableValue(false));
  const auto connecting = EventsUntil(*host_, "CONNECTED", 20s);
  ASSERT_FALSE(connecting.empty()) << NewLog();
  EXPECT_TRUE(std::any_of(connecting.begin(), connecting.end() - 1, [](const EncodableList& e) {
    return e[5] == EncodableValue("CONNECTING");
  })) << "CONNECTED came without CONNECTING first";

  // Live counters from the core's statistics; the delay through the tunnel's SOCKS port.
  const std::string url = "http://127.0.0.1:" + std::to_string(World().target.port()) + "/d";
  const MethodReply delay = Call("getConnectedServerDelay", Map({{"url", EncodableValue(url)}}));
  ASSERT_EQ(delay.kind, ReplyKind::kSuccess);
  EXPECT_GE(std::get<int32_t>(delay.result), 1);
  bool counted = false;
  for (int i = 0; i < 10 && !counted; ++i) {
    const auto next = EventsUntil(*host_, "CONNECTED", 3s);
    counted = !next.empty() && Number(next.back()[4]) > 0;
  }
  EXPECT_TRUE(counted) << "downlink total never grew";

  ExpectSuccess(Call("stopVless"), EncodableValue(false));
  EXPECT_FALSE(EventsUntil(*host_, "DISCONNECTED", 10s).empty());
  EXPECT_EQ(process_census::TunnelChildren(), 0);
  EXPECT_SAME_HOST(before_, World().host.Snapshot());
}

// The app closes (the registrar destroys the plug-in) while a start is under way, and while a
// session is up: the engine stops and the machine is given back.
TEST_F(VpnPluginTest, DestroyingThePluginStopsTheEngineAndRestoresTheMachine) {
  for (const bool wait_for_ready : {false, true}) {
    SCOPED_TRACE(wait_for_ready ? "connected" : "starting");
    ExpectSuccess(Start(), EncodableValue(false));
    if (wait_for_ready) {
      ASSERT_FALSE(EventsUntil(*host_, "CONNECTED", 20s).empty()) << NewLog();
    }
    host_.reset();
    EXPECT_EQ(process_census::TunnelChildren(), 0);
    EXPECT_TRUE(AfterExit(World().host.Snapshot()) == AfterExit(before_))
        << host_compare::Difference(AfterExit(before_), AfterExit(World().host.Snapshot()));
    host_ = std::make_unique<ChannelHost>(ChannelHost::ViewMode::kWithView);
    TidewirePluginRegisterWithRegistrar(host_->registrar());
    ASSERT_EQ(host_->Listen("tidewire/status").kind, ReplyKind::kSuccess);
  }
}

// The core refuses the configuration, so the session ends on its own just after the start
// returned, before the status thread has taken over: the app still hears DISCONNECTED, and the
// answer to the start stays a success (the engine's start had begun).
TEST_F(VpnPluginTest, ASessionThatEndsBeforeTheHandOverEndsInDisconnected) {
  std::string config = VpnConfig();
  config.insert(config.rfind('}'), ", \"standinFault\": \"standin_invalid\"");
  {
    HoldingOutput output("Xray started successfully", [] {
      const auto end = std::chrono::steady_clock::now() + 30s;
      while (VpnServiceManager::Instance().IsSessionAlive() &&
             std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
      }
      // The engine's end callback runs right after its flag drops; let it finish first.
      std::this_thread::sleep_for(300ms);
    });
    ExpectSuccess(Call("startVless", Map({{"remark", EncodableValue("Frankfurt")},
                                          {"config", EncodableValue(config)}})),
                  EncodableValue(false));
    ASSERT_TRUE(output.Held()) << NewLog();
  }
  ASSERT_FALSE(EventsUntil(*host_, "CONNECTING", 10s).empty()) << NewLog();
  EXPECT_FALSE(EventsUntil(*host_, "DISCONNECTED", 10s).empty()) << NewLog();
  EXPECT_EQ(process_census::TunnelChildren(), 0);
  // The engine's own adapter is brought back by the next start or stop, not by a failed start.
  EXPECT_TRUE(AfterExit(World().host.Snapshot()) == AfterExit(before_))
      << host_compare::Difference(AfterExit(before_), AfterExit(World().host.Snapshot()));
}

}  // namespace
}  // namespace zelvora::testing
