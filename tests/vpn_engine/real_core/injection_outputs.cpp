// Hands the engine's amended configurations to outside judges (a JSON parser, a real core).
//
//   dump DIR: the engine's text for every test configuration and kind of metadata, in
//     DIR/NNNN.json, listed in DIR/manifest.tsv as: file, "core" or "json-only" (uses what only
//     the app's own core has), and the configuration's name.
//   inject IN OUT: the text the core would run for the application's text in IN, with free
//     ports checked on this machine's loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "config_text/config_meta.h"
#include "support/config_samples.h"
#include "vpn_engine/injection/config_injection.h"

namespace {

const ExeFolderLister kNoStoreApps = [](const std::string&) { return std::vector<std::string>{}; };

// Binds a TCP socket on 127.0.0.1:`port` (0: any); the port it got, or 0 when the bind failed.
uint16_t BindLoopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  uint16_t bound = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    socklen_t length = sizeof(address);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      bound = ntohs(address.sin_port);
    }
  }
  ::close(fd);
  return bound;
}

std::string EngineText(std::string config, const VpnInjectionInputs& extra,
                       const LoopbackPortProbe& ports) {
  const ConfigMeta meta = ExtractConfigMeta(config);
  VpnInjectionInputs inputs{meta.panelHost, meta.directDomains, meta.blockedApps};
  if (!extra.panelHost.empty()) inputs.panelHost = extra.panelHost;
  inputs.directDomains.insert(inputs.directDomains.end(), extra.directDomains.begin(),
                              extra.directDomains.end());
  inputs.blockedApps.insert(inputs.blockedApps.end(), extra.blockedApps.begin(),
                            extra.blockedApps.end());
  std::vector<std::string> dns;
  return StripAllowInsecure(
      RemapBusyPorts(InjectVpnConfig(inputs, &dns, config, kNoStoreApps), ports));
}

bool UsesCoreOnlyFeatures(const std::string& text) {
  // gRPC came to the family after the Debian core's version.
  for (const char* feature :
       {"\"tun\"", "\"process\"", "\"reality\"", "\"grpc\"", "geosite:", "geoip:"}) {
    if (text.find(feature) != std::string::npos) return true;
  }
  return false;
}

int Dump(const std::string& dir) {
  struct Named {
    std::string name;
    std::string text;
  };
  std::vector<Named> configs;
  for (const auto& config : config_samples::UserConfigs())
    configs.push_back({config.name, config.text});
  // The smallest shapes the injection accepts: every member it adds lands in an empty object
  // or array.
  configs.push_back({"empty top object", "{}"});
  configs.push_back({"empty sections",
                     "{\"inbounds\": [], \"outbounds\": [{\"tag\": \"proxy\", \"protocol\": "
                     "\"freedom\"}, {\"tag\": \"direct\", \"protocol\": \"freedom\"}], "
                     "\"routing\": {\"rules\": []}, \"dns\": {}}"});
  int index = 0;
  for (const std::string& text : config_samples::RealisticConfigs()) {
    configs.push_back({"generated shape " + std::to_string(index++), text});
  }
  const std::vector<std::pair<std::string, VpnInjectionInputs>> metadata = {
      {"", {}},
      {", panel and direct hosts",
       {"panel.example.org", {"intranet.example.org", "10.20.0.5"}, {}}},
      {", bypassed apps",
       {"", {}, {"C:\\\\Program Files\\\\Mozilla Firefox\\\\firefox.exe", "telegram.exe"}}},
  };
  // Every port is free here: the remap's moves are the port tests' business.
  const LoopbackPortProbe all_free{[](uint16_t) { return true; }, []() -> uint16_t { return 0; }};
  std::ofstream manifest(dir + "/manifest.tsv");
  int file = 0;
  for (const Named& config : configs) {
    for (const auto& [suffix, inputs] : metadata) {
      const std::string text = EngineText(config.text, inputs, all_free);
      char name[32];
      std::snprintf(name, sizeof(name), "%04d.json", file++);
      std::ofstream(dir + "/" + name, std::ios::binary) << text;
      manifest << name << '\t' << (UsesCoreOnlyFeatures(text) ? "json-only" : "core") << '\t'
               << config.name << suffix << '\n';
    }
  }
  return manifest ? 0 : 1;
}

int Inject(const std::string& in, const std::string& out) {
  std::ifstream input(in, std::ios::binary);
  std::stringstream text;
  text << input.rdbuf();
  if (!input) return 1;
  const LoopbackPortProbe machine{[](uint16_t port) { return BindLoopback(port) == port; },
                                  []() { return BindLoopback(0); }};
  std::ofstream(out, std::ios::binary) << EngineText(text.str(), {}, machine);
  return 0;
}

}  // namespace

void TunnelLogWrite(const std::string& line) { std::cerr << "tunnel log: " << line << '\n'; }

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "dump") return Dump(args[1]);
  if (args.size() == 3 && args[0] == "inject") return Inject(args[1], args[2]);
  std::cerr << "usage: injection_outputs dump DIR | inject IN OUT\n";
  return 2;
}
