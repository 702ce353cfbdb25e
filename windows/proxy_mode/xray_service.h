// Proxy-only mode: xray.exe serves a local SOCKS port and the user's system proxy points at it.
// Also the core's version, its traffic counters and two delay tests.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "processes/child_launch.h"
#include "proxy_mode/system_proxy_guard.h"

namespace zelvora {

class XrayService {
 public:
  XrayService();
  ~XrayService();
  XrayService(const XrayService&) = delete;
  XrayService& operator=(const XrayService&) = delete;

  // Starts a connection for `config` (stopping a running one first) and waits for its outcome:
  // true once the core serves its SOCKS port and the system proxy points at it; false for a
  // text whose brackets or quotes do not balance, without xray.exe, or when the core could not
  // be started or died while starting.
  bool Start(const std::string& config);
  // Ends the connection, gives the user's proxy settings back, deletes the file, zeroes the
  // counters. With no session of ours, only a backup left by a crash is acted on.
  void Stop();

  // The one answer to "is a proxy session up": cleared by Stop and by the core's own exit.
  bool IsRunning() const { return running_; }
  // Run (on the service's worker thread) when the core ends by itself during a session, after
  // the user's proxy settings are back. An empty function clears it.
  void SetCoreExitCallback(std::function<void()> callback);
  // The SOCKS port the running session really serves (after any remap); 0 without a session.
  uint16_t SessionSocksPort() const { return socks_port_; }
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

  enum class StartOutcome { kPending, kUp, kFailed };

  void StartWorker();
  void ReportStart(StartOutcome outcome);
  bool WaitForSocksPort(uint16_t port, const std::shared_ptr<ChildProcess>& process);
  void EndAfterCoreExit();
  void StopLocked();
  void RemoveStaleConfigFiles();
  void TrackFile(const std::wstring& path, bool live);
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
  std::atomic<uint16_t> socks_port_{0};
  std::mutex proxy_mutex_;  // a stop and the worker never set and restore at the same time
  SystemProxyGuard proxy_;
  std::mutex outcome_mutex_;
  std::condition_variable outcome_changed_;
  StartOutcome outcome_ = StartOutcome::kFailed;
  std::mutex exit_callback_mutex_;
  std::function<void()> on_core_exit_;
  std::mutex files_mutex_;
  std::set<std::wstring> live_files_;  // configuration files in use (session, delay tests)
  std::mutex lifecycle_mutex_;         // one Start or Stop at a time
};

// Writes the configuration (without "allowInsecure" members) to a fresh file in
// %TEMP%\tidewire; stores its path.
bool WriteProxyConfig(const std::string& config, std::wstring* path);
// The API address the file's "api" block names.
std::optional<std::string> DetectApiAddress(const std::wstring& path);
// HEAD through the SOCKS port, 8 s per phase; milliseconds or -1.
int32_t HeadProbe(uint16_t socks_port, const std::string& url);

}  // namespace zelvora
