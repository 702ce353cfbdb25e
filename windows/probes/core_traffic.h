// Reading the core's traffic counters from "api statsquery" output. The engine and proxy mode
// both read them here, so the same output gives the same counters in either mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

struct TrafficTotals {
  uint64_t uplink = 0;
  uint64_t downlink = 0;
};

// Sums the uplink and downlink counters of every outbound but the API's own: each byte the
// core carries for the user's programs leaves through exactly one outbound, while inbound
// counters would count it a second time. Nothing when the output has no "stat" member (the
// API did not answer), so the caller keeps its last totals instead of falling back to zero.
//
// A counter is a JSON number or a string of digits (the core writes 64-bit values as
// strings, and leaves out counters that are zero). A counter whose value is anything else
// (negative, fractional, not a number, missing) adds nothing and the rest is still read: a
// total never goes negative or backwards because of one odd entry. Values and sums beyond the
// 64-bit signed range stop at its largest value.
//
// `only_outbound`, when given, limits the sum to the outbound of that tag: the VPN engine counts
// what went through its "proxy" outbound, not what its rules send "direct" (bypassed programs,
// the LAN, the server itself).
std::optional<TrafficTotals> ReadCoreTraffic(std::string_view output,
                                             std::string_view only_outbound = {});
