// Times proxy mode's forced port sweep on configurations with more and more inbounds, and prints
// each time against the smallest one's: linear work doubles when the inbounds double.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "proxy_mode/proxy_config_text.h"

void TunnelLogWrite(const std::string&) {}

namespace {

std::string ConfigWithInbounds(int count) {
  std::string text = "{\"inbounds\": [";
  for (int i = 0; i < count; ++i) {
    if (i) text += ", ";
    text += "{\"tag\": \"in" + std::to_string(i) +
            "\", \"port\": " + std::to_string(20000 + i % 40000) + ", \"listen\": \"127.0.0.1\"}";
  }
  return text + "], \"outbounds\": [{\"protocol\": \"freedom\"}]}";
}

double SweepMs(const std::string& config) {
  double best = 1e300;
  for (int run = 0; run < 3; ++run) {
    std::string text = config;
    uint16_t next = 1024;
    const LoopbackPortProbe ports{[](uint16_t) { return true; },
                                  [&next]() { return next == 65535 ? 1024 : next++; }};
    const auto t0 = std::chrono::steady_clock::now();
    zelvora::SweepLoopbackPorts(&text, true, ports);
    best = std::min(
        best,
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

}  // namespace

int main() {
  std::printf("%10s %12s %10s %14s\n", "inbounds", "bytes", "ms", "x first size");
  double first = 0;
  for (int count : {12500, 25000, 50000, 100000}) {
    const std::string config = ConfigWithInbounds(count);
    const double ms = SweepMs(config);
    if (first == 0) first = ms;
    std::printf("%10d %12zu %10.2f %13.1fx\n", count, config.size(), ms, ms / first);
  }
  return 0;
}
