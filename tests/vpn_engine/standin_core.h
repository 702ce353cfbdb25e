// The core stand-in run the way the engine runs xray.exe, on a free loopback port, for tests
// that need a live SOCKS relay.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/text_encoding.h"
#include "config_text/vpn_config_file.h"
#include "core_standin/standin_paths.h"
#include "probes/loopback_ports.h"
#include "processes/core_launch.h"

class StandinCore {
 public:
  // `markers` go into the configuration text (see the stand-in's switches).
  explicit StandinCore(const std::string& markers = "", uint16_t port = 0)
      : socks_port_(port ? port : FindFreeLoopbackPort()) {
    runner_.components.xray_path = core_standin::XrayExe();
    runner_.components.tun2socks_path = core_standin::Tun2socksExe();
    runner_.running = true;
    config_path_ = WideToUtf8(UserTempDirectory()) + "standin_" +
                   std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter_++) +
                   ".json";
    // The path is UTF-8 (the temp folder has letters outside the ANSI code page): open it wide.
    std::ofstream(std::filesystem::path(Utf8ToWide(config_path_)), std::ios::binary)
        << "{\"marker\": \"" << markers
        << "\", \"inbounds\": [{\"tag\": \"in_proxy\", \"port\": " << socks_port_
        << ", \"protocol\": \"socks\"}]}";
  }
  ~StandinCore() {
    runner_.running = false;
    if (auto xray = runner_.xray.Take()) xray->Kill();
    if (auto tun = runner_.tun2socks.Take()) tun->Kill();
    ::DeleteFileW(Utf8ToWide(config_path_).c_str());
  }

  // Launches it and waits until the relay accepts connections.
  bool Start(uint32_t timeout_ms = 5000) {
    return LaunchXray(runner_, config_path_) &&
           WaitForSocksListen(runner_, socks_port_, timeout_ms);
  }

  CoreRunner& runner() { return runner_; }
  uint16_t socks_port() const { return socks_port_; }

 private:
  static inline int counter_ = 0;
  CoreRunner runner_;
  uint16_t socks_port_;
  std::string config_path_;
};
