// The engine's reading of "api statsquery" output: the proxy outbound's byte counters.
#pragma once

#include <cstdint>
#include <string_view>

struct EngineTrafficTotals {
  uint64_t uplink = 0;
  uint64_t downlink = 0;
};

// Sums, over the objects of the "stat" array, the values of the proxy outbound's uplink and
// downlink counters. Output without a "stat" array, or with an empty one, gives zeros; an object
// without a value adds 0.
EngineTrafficTotals ParseEngineStats(std::string_view output);
