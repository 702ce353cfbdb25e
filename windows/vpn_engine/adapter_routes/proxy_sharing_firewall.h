// The firewall rule that lets devices of the local network reach the shared local proxy ports
// while a tunnel is up: inbound TCP to exactly those ports of the core's own process, from the
// local subnet, on private and domain networks only. One rule, known by its display name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vpn_engine/host/engine_network_state.h"

namespace zelvora {

inline constexpr char kProxySharingRuleName[] = "Zelvora Proxy Sharing";

// The ports as the rule names them: decimal, joined by "," without blanks; values outside 1 to
// 65535 are left out.
std::string ProxySharingPortsText(const std::vector<int32_t>& ports);

// When engine.share_proxy_ports has any: removes any earlier rule, then adds one for them,
// scoped to the program engine.core_path. Without ports it does nothing.
void OpenProxySharingFirewall(EngineNetworkState& engine);
// Removes the rule; a missing rule is no error.
void CloseProxySharingFirewall(EngineNetworkState& engine);

}  // namespace zelvora
