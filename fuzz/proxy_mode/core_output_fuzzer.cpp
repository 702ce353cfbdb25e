// What comes back from outside programs and the app into proxy mode and the probes: the
// core's statistics output, tun2socks log blocks, SOCKS replies, probe URLs, the
// configuration text proxy mode amends and the proxy settings backup file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "probes/core_traffic.h"
#include "probes/probe_request.h"
#include "processes/child_output.h"
#include "proxy_mode/proxy_config_text.h"
#include "proxy_mode/proxy_settings_backup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  ReadCoreTraffic(text);
  Tun2socksReportLine(text);
  OutputLineSplitter lines;
  for (size_t at = 0; at < size; at += 97) lines.Feed(text.substr(at, 97));
  lines.Finish();
  HasHttpStatusLine(text);
  // The proxy backup file as a crash (or anyone) may have left it.
  if (const auto backup = zelvora::ParseProxySettingsBackup(std::string(text))) {
    zelvora::FormatProxySettingsBackup(*backup);
  }

  if (size >= 5) {
    SocksGreetingAccepted(data);
    SocksConnectReplyLength(data);
  }
  if (const auto target = SplitProbeUrl(text)) {
    ProbeHttpRequest("GET", *target);
    SocksConnectRequest(target->host, target->port);
  }

  if (zelvora::ProxyConfigLooksBalanced(text)) {
    std::string config(text);
    zelvora::ProxySocksPort(config);
    const LoopbackPortProbe ports{[](uint16_t port) { return port % 3 != 0; },
                                  [] { return uint16_t{20000}; }};
    zelvora::SweepLoopbackPorts(&config, size % 2 == 0, ports);
    zelvora::InsertStatsAndPolicy(&config);
    if (!zelvora::HasApiMember(config)) zelvora::InsertApiMember(&config, 10085);
    zelvora::ApiAddressInConfig(config);
  }
  return 0;
}
