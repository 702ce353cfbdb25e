#include "vpn_engine/session/vpn_service_environment.h"

#include <windows.h>

#include "common/elevation.h"
#include "common/text_encoding.h"
#include "probes/data_path_probe.h"
#include "probes/loopback_ports.h"
#include "proxy_mode/system_proxy_guard.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/dns_protection/dns_guard.h"

namespace zelvora {

std::vector<std::string> ListExeFiles(const std::string& folder) {
  std::vector<std::string> names;
  if (folder.empty()) return names;
  std::wstring pattern = Utf8ToWide(folder);
  if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L"*.exe";
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    // Folders and reparse points (links planted under another name) are not programs of the app.
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
      continue;
    }
    names.push_back(WideToUtf8(found.cFileName));
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return names;
}

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
  environment.exe_lister = ListExeFiles;
  environment.probe_through_socks = ProbeThroughSocks;
  environment.probe_direct = ProbeDirect;
  environment.repair_unfinished_session = IsProcessElevated();
  environment.recover_system_proxy = SystemProxyGuard::RecoverFromBackup;
  if (Adjuster()) Adjuster()(environment);
  return environment;
}

}  // namespace zelvora
