// Proxy-only mode: xray.exe serves a local SOCKS port and the user's system proxy points at it.
// Also the core's version, its traffic counters and two delay tests.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "proxy_mode/system_proxy.h"
#include "vpn_engine/child_launch.h"

namespace zelvora {

class XrayService {
 public:
  XrayService();
  ~XrayService();
  XrayService(const XrayService&) = delete;
  XrayService& operator=(const XrayService&) = delete;

  // Launches the start worker for `config` (stopping a running connection first). False only
  // for a text whose brackets or quotes do not balance, or without xray.exe.
  bool Start(const std::string& config);
  // Ends the connection, clears the system proxy, deletes the file, zeroes the counters.
  void Stop();

  bool IsRunning() const { return running_; }
  void GetTrafficTotals(uint64_t* uplink, uint64_t* downlink);
  std::string GetCoreVersion();
  int32_t MeasureConnectedDelay(const std::string& url);
  int32_t MeasureServerDelay(const std::string& config, const std::string& url);

  // Runs xray.exe with `arguments` (3 s at most); true when it ran, with what it wrote.
  bool RunXrayApiCommand(const std::string& arguments, std::string* output);

  std::string ApiAddress() const;
  std::wstring ConfigPath() const;
  std::filesystem::path XrayPath() const;

 private:
  struct ApiClient {
    std::string address;
  };

  void StartWorker();
  void StatsLoop();
  void UpdateTrafficStats();
  bool StartXrayProcess(const std::wstring& config_path);
  bool PrepareProxyConfigFile(const std::wstring& path, bool record_api, bool force);
  std::shared_ptr<const ApiClient> Api() const;
  void JoinThreads();

  std::atomic<bool> running_{false};
  std::thread start_worker_;
  std::thread stats_thread_;
  mutable std::mutex state_mutex_;  // config, paths, API address and client
  std::string config_;
  std::wstring config_path_;
  std::filesystem::path xray_path_;
  std::string api_address_;
  std::shared_ptr<const ApiClient> api_client_;
  std::chrono::steady_clock::time_point started_at_{};
  std::mutex stats_mutex_;
  uint64_t uplink_ = 0;
  uint64_t downlink_ = 0;
  ChildSlot process_;
  std::mutex proxy_mutex_;
  SystemProxyTexts proxy_texts_;
  std::atomic<bool> proxy_set_{false};
  std::mutex lifecycle_mutex_;  // one Start or Stop at a time
};

// Writes the configuration (without "allowInsecure" members) to a fresh file in
// %TEMP%\tidewire; stores its path.
bool WriteProxyConfig(const std::string& config, std::wstring* path);
// The API address the file's "api" block names.
std::optional<std::string> DetectApiAddress(const std::wstring& path);
// HEAD through the SOCKS port, 8 s per phase; milliseconds or -1.
int32_t HeadProbe(uint16_t socks_port, const std::string& url);

}  // namespace zelvora
