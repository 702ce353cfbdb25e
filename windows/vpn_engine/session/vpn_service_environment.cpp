#include "vpn_engine/session/vpn_service_environment.h"

#include <windows.h>

#include "common/elevation.h"
#include "probes/data_path_probe.h"
#include "probes/loopback_ports.h"
#include "proxy_mode/system_proxy_guard.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/dns_protection/dns_guard.h"
#include "vpn_engine/injection/store_app_listing.h"

namespace zelvora {

namespace {

std::function<void(VpnServiceEnvironment&)>& Adjuster() {
  static std::function<void(VpnServiceEnvironment&)> adjust;
  return adjust;
}

}  // namespace

void SetVpnEnvironmentAdjuster(std::function<void(VpnServiceEnvironment&)> adjust) {
  Adjuster() = std::move(adjust);
}

VpnServiceEnvironment ProductionVpnEnvironment() {
  VpnServiceEnvironment environment;
  environment.host = ActiveHost();
  // The guard works on whichever filtering engine the active seams give: the real one in the
  // shipped plug-in. Never destroyed: no filtering-engine call from a static destructor under
  // the loader lock; the system closes its dynamic session when the process ends.
  static DnsGuard* guard = new DnsGuard(*environment.host.filtering);
  environment.guard = guard;
  environment.holder = &WintunHolder::Instance();
  environment.ports = SystemLoopbackPorts();
  environment.exe_lister = ListExeFilesInFolder;
  environment.probe_through_socks = ProbeThroughSocks;
  environment.probe_direct = ProbeDirect;
  environment.repair_unfinished_session = IsProcessElevated();
  environment.recover_system_proxy = SystemProxyGuard::RecoverFromBackup;
  if (Adjuster()) Adjuster()(environment);
  return environment;
}

}  // namespace zelvora
