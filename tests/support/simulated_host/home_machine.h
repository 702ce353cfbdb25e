// The typical home machine the engine meets: the world of the engine's tests.
//
//   if 1   "Loopback Pseudo-Interface 1"    software loopback, 127.0.0.1/8
//   if 12  "Ethernet"                       DHCP 192.168.178.23/24, gateway 192.168.178.1,
//                                           the ISP's DNS from the lease, IPv6 default route
//   if 7   "WLAN Küche"                     DHCP 192.168.1.57/24, gateway 192.168.1.1,
//                                           three static DNS servers and two static IPv6
//                                           DNS servers set by the user
//   if 15  "Ethernet 2"                     USB adapter, cable unplugged (down)
//   if 9   "Lab "VM" & Test %PATH%"         host-only virtual adapter, static 192.168.56.1/24
//   if 21  "ProtonVPN"                      another product's Wintun adapter (down)
// plus the network-class devices behind them (and the WAN miniports) and two network profiles.
#pragma once

#include <string>

#include "simulated_host/host_state.h"

namespace simhost {

namespace home {
inline constexpr uint32_t kEthernetIndex = 12;
inline constexpr uint32_t kWifiIndex = 7;
inline constexpr uint32_t kTunnelIndex = 31;
inline constexpr const char* kEthernetGateway = "192.168.178.1";
inline constexpr const char* kWifiGateway = "192.168.1.1";
extern const wchar_t* const kWifiName;    // non-ASCII letters and a blank
extern const wchar_t* const kUnsafeName;  // characters unsafe on a command line
// The GUID the engine asks Wintun for, as it appears in the device's instance ID.
extern const wchar_t* const kOwnGuid;
}  // namespace home

HostState HomeMachine();

// The home machine with the engine's persistent Wintun adapter "Zelvora" attached by tun2socks
// (up, no address yet, automatic metric), as it is when the route steps begin.
HostState HomeMachineWithTunnelAdapter();

}  // namespace simhost
