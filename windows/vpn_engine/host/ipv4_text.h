// Dotted IPv4 text and the numbers of the host network interface.
#pragma once

#include <string>

#include "vpn_engine/host/host_network.h"

namespace zelvora {

// A strict dotted quad (four decimal fields of 1 to 3 digits, each at most 255). Only text that
// passes this reaches a route command line.
bool ParseIpv4(const std::string& text, Ipv4Address* address);
std::string FormatIpv4(Ipv4Address address);

// The mask of a prefix length: 0.0.0.0 at 0 or below, 255.255.255.255 above 32.
Ipv4Address MaskFromPrefix(long long prefix_length);
// The prefix length of a mask: its leading one bits.
uint8_t PrefixLengthOf(Ipv4Address mask);

}  // namespace zelvora
