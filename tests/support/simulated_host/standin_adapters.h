// The adapter tun2socks creates on a real machine, shown on a simulated host while the
// tun2socks stand-in runs: Wintun's adapter of the name from `-device tun://NAME`, created with
// tunnel type "WireGuard" and no requested GUID (wireguard-go's CreateTUN), with a session open,
// gone when the stand-in ends however it ends. Call before every read of the adapters.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>

#include "common/text_encoding.h"
#include "core_standin/tun_adapter_marker.h"
#include "simulated_host/sim_text.h"
#include "simulated_host/simulated_host.h"

namespace standin_adapters {

inline constexpr simhost::ProcessId kTun2socksProcess = 2;

inline void SyncTun2socksAdapter(simhost::SimulatedHost& host) {
  const std::string name = core_standin::Tun2socksDeviceName();
  const simhost::HostState state = host.Snapshot();
  const bool present =
      std::any_of(state.adapters.begin(), state.adapters.end(),
                  [](const simhost::Adapter& a) { return a.owner == kTun2socksProcess; });
  if (!name.empty() && !present) {
    host.CreateAdapterFor(kTun2socksProcess, Utf8ToWide(name), L"WireGuard", L"", true);
  } else if (name.empty() && present) {
    host.EndProcess(kTun2socksProcess);
  }
}

// Would a packet from `source` (dotted) to a public address go into an adapter a tunnel process
// holds a session on? The host's route lookup answers (strong host model included).
inline bool IntoTunnel(const simhost::SimulatedHost& host, const std::string& source) {
  uint32_t from = 0;
  simhost::RouteChoice choice;
  if (!simhost::ParseDotted(source, &from) || !host.LookupRoute((1u << 24) | 1u, &choice, from)) {
    return false;
  }
  const simhost::HostState state = host.Snapshot();
  return std::any_of(state.adapters.begin(), state.adapters.end(), [&](const simhost::Adapter& a) {
    return a.if_index == choice.if_index && a.session_open;
  });
}

// A simulated host that shows tun2socks' adapter while the stand-in runs.
class StandinHost : public simhost::SimulatedHost {
 public:
  explicit StandinHost(simhost::HostState initial) : SimulatedHost(std::move(initial)) {}
  zelvora::ReadStatus ListAdapters(zelvora::AdapterListing listing,
                                   std::vector<zelvora::AdapterInfo>* adapters) override {
    SyncTun2socksAdapter(*this);
    return SimulatedHost::ListAdapters(listing, adapters);
  }
};

}  // namespace standin_adapters
