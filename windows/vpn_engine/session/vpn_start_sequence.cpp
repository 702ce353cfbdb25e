// The engine's start sequence on its worker thread, in both TUN modes, with the data-path probe
// attempts and the wait for the tunnel adapter. Every step that can take long watches `running`,
// so a stop ends the sequence at its next look.
#include <chrono>
#include <thread>

#include "common/console_line.h"
#include "common/text_encoding.h"
#include "config_text/config_inspection.h"
#include "config_text/vpn_config_file.h"
#include "processes/child_launch.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/adapter_routes/proxy_sharing_firewall.h"
#include "vpn_engine/adapter_routes/tunnel_adapter.h"
#include "vpn_engine/adapter_routes/tunnel_routes.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/injection/config_injection.h"
#include "vpn_engine/injection/core_dns_hosts.h"
#include "vpn_engine/injection/server_name_pin.h"
#include "vpn_engine/session/vpn_service.h"

namespace zelvora {
namespace {

constexpr uint32_t kXrayStartWaitMs = 200;
constexpr uint32_t kSocksListenTimeoutMs = 8000;
constexpr uint32_t kAdapterTimeoutTunMs = 20000;
constexpr uint32_t kAdapterTimeoutXrayTunMs = 25000;
// One look is one adapter listing; looking often keeps the time between the adapter coming up
// and the connect going on short.
constexpr uint32_t kAdapterPollMs = 50;
// The adapter is up when the engine finds it (an up link implies it is enabled); a short
// settling time before its address and routes are set.
constexpr uint32_t kAfterAdapterUpTunMs = 400;
constexpr uint32_t kAfterAdapterUpXrayTunMs = 600;
constexpr int kSocksProbeAttempts = 4;
constexpr uint32_t kSocksProbeGapMs = 800;
constexpr int kTunProbeAttempts = 5;
constexpr uint32_t kTunProbeGapMs = 600;
constexpr uint32_t kBeforeDnsGuardMs = 200;

// The configuration path as the core's command line carries it: UTF-8, launched wide, so a user
// folder with letters outside the ANSI code page still reaches the core intact.
std::string CorePathText(const std::wstring& path) { return WideToUtf8(path); }

}  // namespace

// The adapter appears when tun2socks (or Xray) has created it and opened its session: only
// then is its link up. Found, it is known by its LUID from then on.
bool VpnService::WaitForTunnelAdapter(uint32_t timeout_ms) {
  HostNetwork& network = *env_.host.network;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  TunnelAdapter tunnel;
  for (;;) {
    if (std::chrono::steady_clock::now() >= deadline) {
      const std::shared_ptr<ChildProcess> tun2socks = core_.tun2socks.Get();
      if (!FindCarryingAdapter(network, &tunnel) || !tun2socks || !tun2socks->IsRunning()) {
        return false;
      }
      net_.tunnel_luid = tunnel.luid;
      return true;
    }
    if (!net_.running) return false;
    if (ChildDead(core_.xray)) {
      ConsoleLine("VPN Service: Xray exited before Zelvora adapter appeared");
      return false;
    }
    if (ChildDead(core_.tun2socks)) {
      ConsoleLine("VPN Service: Tun2Socks exited before Zelvora adapter appeared");
      return false;
    }
    if (FindCarryingAdapter(network, &tunnel)) {
      net_.tunnel_luid = tunnel.luid;
      return true;
    }
    WaitWhileRunning(kAdapterPollMs);
  }
}

bool VpnService::SocksProbeAttempts(uint16_t port, Mode mode) {
  if (port == 0 || !env_.probe_through_socks) return false;
  for (int attempt = 1; attempt <= kSocksProbeAttempts; ++attempt) {
    if (!net_.running) return false;
    if (attempt > 1 && !WaitWhileRunning(kSocksProbeGapMs)) return false;
    for (const std::string* url : {&env_.probe_url_a, &env_.probe_url_b}) {
      if (!net_.running) break;
      const int32_t result = env_.probe_through_socks(port, *url);
      const std::string n = std::to_string(attempt);
      if (result >= 0) {
        TunnelLogWrite("pre-ready SOCKS probe OK (" + std::to_string(result) + "ms) url=" + *url +
                       " attempt=" + n);
        return true;
      }
      if (mode == Mode::kTun2socks) {
        TunnelLogWrite("pre-ready SOCKS probe FAILED socks=" + std::to_string(port) +
                       " url=" + *url + " attempt=" + n);
      } else {
        TunnelLogWrite("pre-ready SOCKS probe FAILED url=" + *url + " attempt=" + n);
      }
    }
  }
  return false;
}

bool VpnService::ConfirmTunPath(Mode mode) {
  const int tun_probe = TunPathProbeAttempts(mode);
  if (tun_probe < 0) {
    TeardownConnection();
    return false;
  }
  if (tun_probe == 0) {
    TunnelLogWrite("ERROR: TUN data path not healthy \xE2\x80\x94 aborting connect");
    FailWithDiagnostics();
    return false;
  }
  LogConnectDiagnostics(*env_.host.network, net_.physical_gateway, first_server_address_,
                        net_.tunnel_luid);
  env_.holder->RenameNetworkProfile();
  return true;
}

int VpnService::TunPathProbeAttempts(Mode mode) {
  const ChildSlot& watched = mode == Mode::kTun2socks ? core_.tun2socks : core_.xray;
  for (int attempt = 1; attempt <= kTunProbeAttempts; ++attempt) {
    if (!net_.running) return -1;
    if (ChildDead(watched)) {
      TunnelLogWrite(mode == Mode::kTun2socks ? "ERROR: tun2socks exited before TUN path probe"
                                              : "ERROR: Xray exited before TUN path probe");
      return 0;
    }
    if (attempt > 1 && !WaitWhileRunning(kTunProbeGapMs)) return -1;
    // Sent from the tunnel's own address, so it can leave only through the tunnel (the strong
    // host model): the app's own traffic is sent direct by the core's process rules, and a
    // probe from any address would succeed over the physical link with no tunnel at all.
    TunnelAdapter tunnel;
    const std::string source =
        ReadTunnelAdapter(*env_.host.network, net_.tunnel_luid, &tunnel) ? tunnel.address : "";
    for (const std::string* url : {&env_.probe_url_a, &env_.probe_url_b}) {
      const int32_t result =
          env_.probe_direct && !source.empty() ? env_.probe_direct(source, *url) : -1;
      const std::string n = std::to_string(attempt);
      if (result >= 0) {
        TunnelLogWrite("pre-ready TUN path probe OK (" + std::to_string(result) +
                       "ms) url=" + *url + " attempt=" + n);
        return 1;
      }
      TunnelLogWrite("pre-ready TUN path probe FAILED url=" + *url + " attempt=" + n);
    }
  }
  return 0;
}

void VpnService::RunStartSequence() {
  // tun2socks and Xray's TUN inbound each create their own adapter named "Zelvora": the
  // holder's adapter would only compete with it for the name (Wintun renames one of the two).
  env_.holder->ReleaseForTunnelProcess();
  net_.tunnel_luid = 0;

  VpnInjectionInputs inputs;
  inputs.panelHost = net_.panel_host;
  inputs.directDomains = net_.direct_domains;
  inputs.blockedApps = blocked_apps_;
  config_ = RemapBusyPorts(InjectVpnConfig(inputs, &net_.dns_servers, config_, env_.exe_lister),
                           env_.ports);
  // The statistics query must reach the API inbound where it now listens: the remap moves it
  // off 127.0.0.1:10086 when another program holds that port.
  if (const auto api = FindApiInboundPort(config_)) api_server_ = "127.0.0.1:" + api->digits;
  net_.core_dns_hosts = CoreDnsPort53Hosts(config_);
  // Resolved now, before the tunnel carries every name query through the proxy.
  {
    std::vector<std::string> unused;
    const std::string server = ExtractServerAddress(config_, &unused);
    if (!server.empty()) {
      config_ = PinServerName(config_, server, env_.host.network->ResolveIpv4(server));
    }
  }

  if (!WriteVpnConfig(config_, &config_path_)) {
    ConsoleLine("Failed to write Xray config for VPN");
    TunnelLogWrite("ERROR: failed to write Xray config for VPN");
    return End();
  }
  // No separate "run -test" start of the core: it checks the file itself as it starts, and a
  // file it cannot load ends it with its configuration-error code before it listens.
  if (!LaunchXray(core_, CorePathText(config_path_))) {
    ConsoleLine("Failed to start Xray for VPN");
    TunnelLogWrite("ERROR: failed to start Xray process (port conflict or bad config?)");
    return End();
  }
  ConsoleLine("VPN Service: Xray started successfully");
  if (!WaitWhileRunning(kXrayStartWaitMs) || !net_.running) return TeardownConnection();

  ConsoleLine("VPN Service: Analyzing config to find SOCKS port...");
  const SocksPortDetection detection = DetectEngineSocksPort(config_);
  const uint16_t port = detection.port;
  if (!detection.pattern) {
    ConsoleLine(
        "VPN Service: WARNING - Could not find SOCKS inbound in config, using default port " +
        std::to_string(kDefaultSocksPort));
  } else if (*detection.pattern == SocksPattern::kTagged) {
    ConsoleLine("VPN Service: Found tagged SOCKS inbound on port " + std::to_string(port));
  } else {
    ConsoleLine("VPN Service: Found SOCKS protocol on port " + std::to_string(port));
  }
  ConsoleLine("VPN Service: Xray SOCKS port detected as " + std::to_string(port));
  socks_port_ = port;

  if (!WaitForSocksListen(core_, port, kSocksListenTimeoutMs)) {
    if (CoreRejectedConfiguration(core_)) {
      ConsoleLine("Injected Xray config failed validation");
      TunnelLogWrite("Injected Xray config failed validation");
      return Fail();
    }
    TunnelLogWrite("ERROR: Xray SOCKS not ready on 127.0.0.1:" + std::to_string(port) +
                   " \xE2\x80\x94 port may be in use by another VPN client");
    return Fail();
  }

  if (native_tun_) return RunXrayTunSequence(port);

  if (!LaunchTun2socks(core_, port)) {
    ConsoleLine("Failed to start Tun2Socks");
    return Fail();
  }
  if (!net_.running) return TeardownConnection();

  ConsoleLine("VPN Service: Waiting for Zelvora adapter...");
  if (!WaitForTunnelAdapter(kAdapterTimeoutTunMs)) {
    ConsoleLine("VPN Service: Zelvora adapter did not appear in time");
    TunnelLogWrite("Zelvora adapter did not appear within 20s");
    return Fail();
  }
  if (!net_.running || !WaitWhileRunning(kAfterAdapterUpTunMs)) return TeardownConnection();

  if (!ConfigureTunnelAddress(net_)) return Fail();
  const std::string adapter_name = net_.tunnel_adapter_name;

  const std::string server_host = ExtractServerAddress(config_);
  const std::vector<std::string> addresses = server_host.empty()
                                                 ? std::vector<std::string>()
                                                 : env_.host.network->ResolveIpv4(server_host);
  first_server_address_ = addresses.empty() ? std::string() : addresses.front();
  AddServerBypassRoutes(net_, server_host, addresses, /*announce=*/true);
  if (server_host.empty() || first_server_address_.empty() || net_.physical_gateway.empty()) {
    TunnelLogWrite("ERROR: server bypass incomplete \xE2\x80\x94 aborting connect");
    return FailWithDiagnostics();
  }

  if (net_.panel_host.empty()) {
    TunnelLogWrite(
        "WARNING: panelHost missing from zelvoraMeta \xE2\x80\x94 panel may loop via TUN");
  } else {
    AddHostBypassRoutes(net_, net_.panel_host);
  }
  for (const std::string& domain : net_.direct_domains) {
    if (!net_.running) break;
    AddHostBypassRoutes(net_, domain);
  }
  AddLanBypassRoutes(net_);
  if (!net_.running) return TeardownConnection();

  if (HasIpv6DefaultRoute(*env_.host.network)) {
    TunnelLogWrite(
        "diag: IPv6 default present \xE2\x80\x94 WFP will block non-tunnel IPv6 outbound at "
        "DNS-guard install");
  }
  if (!SocksProbeAttempts(socks_port_, Mode::kTun2socks)) {
    TunnelLogWrite(
        "ERROR: SOCKS data path not healthy \xE2\x80\x94 aborting connect (another tunnel or "
        "network conflict may be interfering; retry)");
    return FailWithDiagnostics();
  }
  if (!AddTunnelDefaultRoute(net_, kTunnelGateway)) return Fail();
  if (!ConfirmTunPath(Mode::kTun2socks)) return;
  if (!WaitWhileRunning(kBeforeDnsGuardMs) || !net_.running) return TeardownConnection();

  DnsProtectionContext dns = DnsContext();
  if (!ApplyDnsLeakProtection(dns, adapter_name)) {
    TunnelLogWrite("ERROR: DNS leak protection failed \xE2\x80\x94 aborting connect");
    return Fail();
  }
  // Opened once the DNS backup exists: a session that dies with the rule open leaves that
  // backup, and the next start's repair removes the rule with the rest.
  OpenProxySharingFirewall(net_);
  if (!net_.running) return TeardownConnection();

  env_.holder->RenameNetworkProfile();
  tunnel_ready_ = true;
  TunnelLogWrite("Zelvora tunnel ready (SOCKS + TUN path + DNS guard)");
  ConsoleLine("VPN Service: TUN interface configured and default route added");
  StartStatsThread();
  RunConnectionMonitor(Mode::kTun2socks);
}

void VpnService::RunXrayTunSequence(uint16_t port) {
  TunnelLogWrite("split-tunnel: using Xray native TUN (per-process bypass, no tun2socks)");
  ConsoleLine("VPN Service: Waiting for Zelvora adapter (Xray TUN)...");
  if (!WaitForTunnelAdapter(kAdapterTimeoutXrayTunMs)) {
    TunnelLogWrite("ERROR: Zelvora adapter did not appear within 25s (Xray TUN)");
    return Fail();
  }
  if (!WaitWhileRunning(kAfterAdapterUpXrayTunMs)) return TeardownConnection();

  TunnelAdapter tunnel;
  if (!ReadTunnelAdapter(*env_.host.network, net_.tunnel_luid, &tunnel)) {
    TunnelLogWrite("ERROR: Zelvora adapter did not appear within 25s (Xray TUN)");
    return Fail();
  }
  const std::string adapter_name = tunnel.name;
  net_.tunnel_adapter_name = adapter_name;

  const std::string server_host = ExtractServerAddress(config_);
  const std::vector<std::string> addresses = server_host.empty()
                                                 ? std::vector<std::string>()
                                                 : env_.host.network->ResolveIpv4(server_host);
  first_server_address_ = addresses.empty() ? std::string() : addresses.front();
  AddServerBypassRoutes(net_, server_host, addresses, /*announce=*/false);

  if (!net_.panel_host.empty()) AddHostBypassRoutes(net_, net_.panel_host);
  for (const std::string& domain : net_.direct_domains) {
    if (!net_.running) break;
    AddHostBypassRoutes(net_, domain);
  }
  AddLanBypassRoutes(net_);
  if (!net_.running) return TeardownConnection();

  if (!SocksProbeAttempts(port, Mode::kXrayTun)) {
    TunnelLogWrite("ERROR: SOCKS data path not healthy \xE2\x80\x94 aborting connect");
    return Fail();
  }
  // The core may set up no default route of its own: then everything would still go direct.
  // As in the tun2socks mode, the default route through the tunnel must exist and win.
  if (!IsTunnelDefaultRouteWinning(*env_.host.network, net_.tunnel_luid) &&
      !AddTunnelDefaultRoute(net_, kOnLink)) {
    if (!net_.running) return TeardownConnection();
    return Fail();
  }
  if (!ConfirmTunPath(Mode::kXrayTun)) return;
  DnsProtectionContext dns = DnsContext();
  if (!ApplyDnsLeakProtection(dns, adapter_name)) {
    TunnelLogWrite("ERROR: DNS leak protection failed \xE2\x80\x94 aborting connect");
    return Fail();
  }
  // Opened once the DNS backup exists: a session that dies with the rule open leaves that
  // backup, and the next start's repair removes the rule with the rest.
  OpenProxySharingFirewall(net_);
  tunnel_ready_ = true;
  TunnelLogWrite("Zelvora tunnel ready (Xray TUN + process split tunnel)");
  StartStatsThread();
  RunConnectionMonitor(Mode::kXrayTun);
}

}  // namespace zelvora
