// The tunnel adapter by identity. tun2socks and Xray each create their own Wintun adapter, and
// Wintun renames whichever adapter had the name before, so a name says little about which
// adapter carries the traffic. The engine picks the adapter once, by its link (only an adapter
// with an open session is up), and from then on knows it by its LUID; names are looked up from
// the LUID right before each command that needs one.
#pragma once

#include <cstdint>
#include <string>

#include "vpn_engine/host/host_network.h"

namespace zelvora {

struct TunnelAdapter {
  uint64_t luid = 0;
  uint32_t if_index = 0;
  std::string name;     // UTF-8 friendly name
  std::string address;  // first IPv4 address; empty when it has none
  bool up = false;
};

// The tunnel-named adapter ("Zelvora", "Zelvora N") whose link is up: the one a running
// tun2socks or Xray has a session on. False when there is none (or the listing failed).
bool FindCarryingAdapter(HostNetwork& network, TunnelAdapter* adapter);
// The adapter of that LUID as it is now; false when it is gone (or the listing failed).
bool ReadTunnelAdapter(HostNetwork& network, uint64_t luid, TunnelAdapter* adapter);

}  // namespace zelvora
