#include "proxy_mode/xray_service.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "common/console_line.h"
#include "common/stop_aware_wait.h"
#include "common/text_encoding.h"
#include "common/winsock_session.h"
#include "config_text/config_rewrites.h"
#include "config_text/vpn_config_file.h"
#include "config_text/xray_core_contract.h"
#include "probes/core_traffic.h"
#include "probes/data_path_probe.h"
#include "probes/loopback_ports.h"
#include "probes/probe_stream.h"
#include "processes/components.h"
#include "processes/core_launch.h"
#include "processes/output_pump.h"
#include "processes/process_end.h"
#include "processes/process_launch.h"
#include "proxy_mode/proxy_config_text.h"

namespace zelvora {
namespace {

namespace fs = std::filesystem;

constexpr auto kSettleTime = std::chrono::milliseconds(500);
constexpr auto kWatchInterval = std::chrono::milliseconds(500);
constexpr DWORD kApiCommandTimeoutMs = 3000;
constexpr uint32_t kHeadProbeTimeoutMs = 8000;
constexpr auto kDelayInstanceStartup = std::chrono::milliseconds(350 + 850);
// How long a started core may take to open its SOCKS port before the start counts as failed.
constexpr auto kSocksOpenLimit = std::chrono::seconds(5);
constexpr auto kSocksOpenPoll = std::chrono::milliseconds(50);
constexpr uint32_t kSocksConnectTimeoutMs = 200;
// Start waits this long for the worker's outcome; the worker's own steps end well before.
constexpr auto kStartOutcomeLimit = std::chrono::seconds(20);
constexpr wchar_t kConfigFolderName[] = L"tidewire";
constexpr wchar_t kConfigFilePrefix[] = L"xray_config_";

bool ReadWholeFile(const fs::path& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  return !in.bad();
}

bool WriteWholeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

void DeleteQuietly(const std::wstring& path) {
  if (path.empty()) return;
  std::error_code error;
  fs::remove(path, error);
}

fs::path ConfigFolder() {
  const std::wstring temp = UserTempDirectory();
  return temp.empty() ? fs::path() : fs::path(temp) / kConfigFolderName;
}

// The contract's command lines from UTF-8 paths, handed to the launcher whole as UTF-16.
std::wstring CoreCommandLine(const fs::path& xray, const std::wstring& config) {
  return Utf8ToWide(xray_core::RunCommandLine(WideToUtf8(xray.wstring()), WideToUtf8(config)));
}

std::optional<std::wstring> AssetEnvironment(const fs::path& xray, bool announce) {
  const fs::path assets = FindXrayAssets(xray.wstring());
  if (assets.empty()) return std::nullopt;
  if (announce) ConsoleLine("Found Xray assets at: " + WideToUtf8(assets.wstring()));
  if (assets == xray.parent_path()) return std::nullopt;
  return EnvironmentWith(Utf8ToWide(xray_core::kAssetLocationVariable), assets.wstring());
}

void JoinUnlessSelf(std::thread& thread) {
  if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
}

}  // namespace

bool WriteProxyConfig(const std::string& config, std::wstring* path) {
  try {
    const fs::path folder = ConfigFolder();
    if (folder.empty()) return false;
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return false;
    const std::string text = StripAllowInsecure(config);
    const auto now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    // Two writers in the same millisecond (a delay test beside a start) must not share a file:
    // the name is claimed with an exclusive create, with a suffix when it is taken.
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::wstring name = kConfigFilePrefix + std::to_wstring(now_ms);
      if (attempt > 0) name += L"_" + std::to_wstring(attempt);
      const fs::path file = folder / (name + L".json");
      UniqueHandle handle(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!handle) {
        if (::GetLastError() == ERROR_FILE_EXISTS) continue;
        return false;
      }
      DWORD written = 0;
      const bool ok = ::WriteFile(handle.get(), text.data(), static_cast<DWORD>(text.size()),
                                  &written, nullptr) &&
                      written == text.size();
      handle.reset();
      if (!ok) {
        DeleteQuietly(file.wstring());
        return false;
      }
      if (path) *path = file.wstring();
      return true;
    }
    return false;
  } catch (...) {
    return false;
  }
}

std::optional<std::string> DetectApiAddress(const std::wstring& path) {
  std::string text;
  if (!ReadWholeFile(path, &text)) return std::nullopt;
  return ApiAddressInConfig(text);
}

int32_t HeadProbe(uint16_t socks_port, const std::string& url) {
  return ProbeViaSocks(socks_port, url, "HEAD", kHeadProbeTimeoutMs);
}

XrayService::XrayService() : api_address_(xray_core::kProxyApiAddress) {
  try {
    xray_path_ = FindXrayExecutable().value_or(std::wstring());
  } catch (...) {
    xray_path_.clear();
  }
}

XrayService::~XrayService() { Stop(); }

std::string XrayService::ApiAddress() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return api_address_;
}

std::wstring XrayService::ConfigPath() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return config_path_;
}

fs::path XrayService::XrayPath() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return xray_path_;
}

std::shared_ptr<const XrayService::ApiClient> XrayService::Api() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return api_client_;
}

void XrayService::JoinThreads() {
  // The worker starts the stats thread: once the worker is joined, the stats thread's handle
  // is settled and can be joined safely.
  JoinUnlessSelf(start_worker_);
  JoinUnlessSelf(stats_thread_);
}

void XrayService::SetCoreExitCallback(std::function<void()> callback) {
  std::lock_guard<std::mutex> lock(exit_callback_mutex_);
  on_core_exit_ = std::move(callback);
}

bool XrayService::Start(const std::string& config) {
  {
    std::lock_guard<std::mutex> lifecycle(lifecycle_mutex_);
    StopLocked();
    if (!ProxyConfigLooksBalanced(config)) {
      ConsoleLine("Invalid Xray configuration JSON");
      return false;
    }
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      config_ = config;
      if (xray_path_.empty()) {
        ConsoleLine("Xray executable not found. Please ensure xray.exe is available.");
        return false;
      }
    }
    // What an earlier run of this application left behind when it was killed: its cores
    // (holding our ports), its configuration files (holding the server's details).
    KillOrphanCoreProcesses();
    RemoveStaleConfigFiles();
    {
      std::lock_guard<std::mutex> lock(outcome_mutex_);
      outcome_ = StartOutcome::kPending;
    }
    running_ = true;
    try {
      start_worker_ = std::thread([this] {
        try {
          StartWorker();
        } catch (...) {
          ConsoleLine("Xray start failed unexpectedly");
          running_ = false;
        }
        ReportStart(StartOutcome::kFailed);  // no effect once the start was reported up
      });
    } catch (...) {
      running_ = false;
      return false;
    }
  }
  std::unique_lock<std::mutex> lock(outcome_mutex_);
  outcome_changed_.wait_for(lock, kStartOutcomeLimit,
                            [this] { return outcome_ != StartOutcome::kPending; });
  if (outcome_ == StartOutcome::kUp) return true;
  lock.unlock();
  if (running_) Stop();  // it never settled: nothing half-started stays behind
  return false;
}

void XrayService::ReportStart(StartOutcome outcome) {
  std::lock_guard<std::mutex> lock(outcome_mutex_);
  if (outcome_ != StartOutcome::kPending) return;
  outcome_ = outcome;
  outcome_changed_.notify_all();
}

bool XrayService::WaitForSocksPort(uint16_t port, const std::shared_ptr<ChildProcess>& process) {
  WinsockSession winsock;
  if (!winsock.started()) return process && process->IsRunning();
  const auto deadline = std::chrono::steady_clock::now() + kSocksOpenLimit;
  while (running_ && process && process->IsRunning()) {
    // A connection is what the user's programs will make; it also works for an inbound that
    // listens on every address (proxy sharing), which a bind test would not see as taken.
    ProbeSocket probe;
    if (probe.ConnectLoopback(port, kSocksConnectTimeoutMs)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    WaitWhileRunning(running_, kSocksOpenPoll);
  }
  return false;
}

void XrayService::StartWorker() {
  std::string config;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    config = config_;
  }
  std::wstring path;
  if (!WriteProxyConfig(config, &path)) {
    ConsoleLine("Failed to write Xray configuration file");
    running_ = false;
    return;
  }
  TrackFile(path, true);
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    config_path_ = path;
  }
  if (!StartXrayProcess(path)) {
    ConsoleLine("Failed to start Xray process");
    running_ = false;
    DeleteQuietly(path);
    TrackFile(path, false);
    return;
  }
  WaitWhileRunning(running_, kSettleTime);
  std::string actual;
  if (!ReadWholeFile(path, &actual)) {
    ConsoleLine("Warning: Failed to read actual config file, using original");
    actual = config;
  }
  const uint16_t port = ProxySocksPort(actual);
  if (!WaitForSocksPort(port, process_.Get())) {
    // A core that died (or never listened) must not get the user's proxy pointed at it.
    if (running_.exchange(false)) {
      ConsoleLine("Xray process terminated unexpectedly");
      if (auto process = process_.Take()) process->Kill();
      DeleteQuietly(path);
      TrackFile(path, false);
    }
    return;
  }
  socks_port_ = port;
  {
    std::lock_guard<std::mutex> lock(proxy_mutex_);
    // A stop that came in meanwhile has already restored the proxy; do not set it again.
    if (running_) {
      if (proxy_.Point("localhost", port)) {
        ConsoleLine("System proxy set to localhost:" + std::to_string(port));
      } else {
        ConsoleLine("Warning: Failed to set system proxy. Proxy mode may not work correctly.");
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    api_client_ = std::make_shared<const ApiClient>(ApiClient{api_address_});
    started_at_ = std::chrono::steady_clock::now();
  }
  try {
    stats_thread_ = std::thread([this] {
      try {
        StatsLoop();
      } catch (...) {
        // Counters simply stop growing.
      }
    });
  } catch (...) {
    ConsoleLine("Warning: Failed to initialize Xray API client. Stats may not be available.");
  }
  ReportStart(StartOutcome::kUp);
  while (running_) {
    const std::shared_ptr<ChildProcess> process = process_.Get();
    if (!process || !process->IsRunning()) {
      EndAfterCoreExit();
      return;
    }
    WaitWhileRunning(running_, kWatchInterval);
  }
}

void XrayService::EndAfterCoreExit() {
  // A stop that cleared the flag first owns the ending.
  if (!running_.exchange(false)) return;
  ConsoleLine("Xray process terminated unexpectedly");
  {
    // The proxy points at a port nobody serves: the user would have no internet at all.
    std::lock_guard<std::mutex> lock(proxy_mutex_);
    proxy_.Restore();
  }
  std::wstring path;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    api_client_.reset();
    path = config_path_;
  }
  DeleteQuietly(path);  // it holds the server's details
  socks_port_ = 0;
  std::lock_guard<std::mutex> lock(exit_callback_mutex_);
  if (on_core_exit_) {
    try {
      on_core_exit_();
    } catch (...) {
    }
  }
}

void XrayService::TrackFile(const std::wstring& path, bool live) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (live) {
    live_files_.insert(path);
  } else {
    live_files_.erase(path);
  }
}

void XrayService::RemoveStaleConfigFiles() {
  const fs::path folder = ConfigFolder();
  if (folder.empty()) return;
  std::error_code error;
  std::lock_guard<std::mutex> lock(files_mutex_);
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::wstring name = it->path().filename().wstring();
    if (name.rfind(kConfigFilePrefix, 0) != 0 || it->path().extension() != L".json") continue;
    if (live_files_.count(it->path().wstring()) != 0) continue;
    std::error_code ignored;
    fs::remove(it->path(), ignored);
  }
}

bool XrayService::PrepareProxyConfigFile(const std::wstring& path, bool record_api, bool force) {
  std::string text;
  if (!ReadWholeFile(path, &text)) return false;
  const LoopbackPortProbe ports = SystemLoopbackPorts();
  if (SweepLoopbackPorts(&text, force, ports) && !WriteWholeFile(path, text)) return false;
  if (InsertStatsAndPolicy(&text) && !WriteWholeFile(path, text)) return false;
  if (HasApiMember(text)) return true;
  uint16_t api_port = xray_core::kProxyApiPort;
  if (force || !IsLoopbackPortFree(api_port)) {
    const uint16_t free_port = FindFreeLoopbackPort();
    if (free_port != 0) api_port = free_port;
  }
  InsertApiMember(&text, api_port);
  if (!WriteWholeFile(path, text)) return false;
  if (record_api) {
    std::lock_guard<std::mutex> lock(state_mutex_);
    api_address_ = "127.0.0.1:" + std::to_string(api_port);
  }
  return true;
}

bool XrayService::StartXrayProcess(const std::wstring& config_path) {
  const fs::path xray = XrayPath();
  std::error_code error;
  if (xray.empty() || !fs::exists(config_path, error)) return false;
  try {
    PrepareProxyConfigFile(config_path, /*record_api=*/true, /*force=*/false);
    if (const auto address = DetectApiAddress(config_path)) {
      {
        std::lock_guard<std::mutex> lock(state_mutex_);
        api_address_ = *address;
      }
      ConsoleLine("Detected Xray API address: " + *address);
    }
  } catch (...) {
  }
  PipedChildOptions options;
  options.command_line = CoreCommandLine(xray, config_path);
  options.working_directory = xray.parent_path().wstring();
  options.extra_creation_flags = CREATE_NEW_PROCESS_GROUP;
  options.environment = AssetEnvironment(xray, /*announce=*/true);
  options.stdout_pipe_failure = "Failed to create stdout pipe";
  options.stderr_pipe_failure = "Failed to create stderr pipe";
  DWORD launch_error = 0;
  std::unique_ptr<ChildProcess> child = LaunchPipedChild(options, PumpXrayOutput, &launch_error);
  if (!child) {
    ConsoleLine("Failed to start Xray process. Error: " + std::to_string(launch_error));
    return false;
  }
  std::shared_ptr<ChildProcess> shared(std::move(child));
  process_.Replace(shared);
  WaitWhileRunning(running_, kSettleTime);
  if (shared->IsRunning()) return true;
  if (auto taken = process_.Take()) taken->Close();
  return false;
}

void XrayService::StatsLoop() {
  while (running_) {
    const auto woke = std::chrono::steady_clock::now();
    UpdateTrafficStats();
    const auto next = woke + std::chrono::seconds(1);
    const auto now = std::chrono::steady_clock::now();
    if (next > now) {
      WaitWhileRunning(running_, std::chrono::duration_cast<std::chrono::milliseconds>(next - now));
    }
  }
}

void XrayService::UpdateTrafficStats() {
  const auto api = Api();
  if (!api) return;
  std::string output;
  if (!RunXrayApiCommand(xray_core::ProxyStatsQueryArguments(api->address), &output)) return;
  // An answer without counters (the API is not up yet) keeps the last totals.
  const auto totals = ReadCoreTraffic(output);
  if (!totals) return;
  std::lock_guard<std::mutex> lock(stats_mutex_);
  uplink_ = totals->uplink;
  downlink_ = totals->downlink;
}

void XrayService::Stop() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_mutex_);
  StopLocked();
}

void XrayService::StopLocked() {
  running_ = false;
  {
    std::lock_guard<std::mutex> lock(proxy_mutex_);
    // Only what this process set is undone; a proxy the user set themselves stays.
    proxy_.Restore();
  }
  // A host that crashed during a session left its backup; the proxy may still point at the
  // dead core's port.
  SystemProxyGuard::RecoverFromBackup();
  JoinThreads();
  if (auto process = process_.Take()) process->Close();
  std::wstring path;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    api_client_.reset();
    path = std::exchange(config_path_, std::wstring());
  }
  DeleteQuietly(path);
  TrackFile(path, false);
  socks_port_ = 0;
  std::lock_guard<std::mutex> lock(stats_mutex_);
  uplink_ = 0;
  downlink_ = 0;
}

void XrayService::GetTrafficTotals(uint64_t* uplink, uint64_t* downlink) {
  std::lock_guard<std::mutex> lock(stats_mutex_);
  if (uplink) *uplink = uplink_;
  if (downlink) *downlink = downlink_;
}

bool XrayService::RunXrayApiCommand(const std::string& arguments, std::string* output) {
  const fs::path xray = XrayPath();
  std::error_code error;
  if (xray.empty() || !fs::exists(xray, error)) return false;
  CaptureLimits limits;
  limits.working_directory = xray.parent_path().wstring();
  limits.read_ms = kApiCommandTimeoutMs;
  CapturedOutput run;
  if (!RunCapturedProcess(
          Utf8ToWide(xray_core::ApiCommandLine(WideToUtf8(xray.wstring()), arguments)), limits,
          &run)) {
    return false;
  }
  if (run.timed_out) ConsoleLine("RunXrayApiCommand: Timeout waiting for command: " + arguments);
  if (output) *output = std::move(run.text);
  return true;
}

std::string XrayService::GetCoreVersion() {
  std::string output;
  if (Api() && RunXrayApiCommand(xray_core::kVersionApiArguments, &output)) {
    const std::string first = output.substr(0, output.find_first_of("\r\n"));
    if (!first.empty()) return first;
  }
  // "-version" through the same bounded runner: no console window, no wait without end.
  if (!RunXrayApiCommand(xray_core::kVersionArguments, &output)) return "Unknown";
  const std::string version = xray_core::ParseCoreVersion(output);
  return version.empty() ? "Unknown" : version;
}

int32_t XrayService::MeasureConnectedDelay(const std::string& url) {
  if (!Api()) return -1;
  // The port the core really serves: a busy configured port was moved before it started.
  const uint16_t port = socks_port_;
  return port == 0 ? -1 : HeadProbe(port, url);
}

int32_t XrayService::MeasureServerDelay(const std::string& config, const std::string& url) {
  if (!ProxyConfigLooksBalanced(config)) return -1;
  fs::path xray = XrayPath();
  if (xray.empty()) {
    xray = FindXrayExecutable().value_or(std::wstring());
    if (xray.empty()) return -1;
    std::lock_guard<std::mutex> lock(state_mutex_);
    xray_path_ = xray;
  }
  std::wstring path;
  if (!WriteProxyConfig(config, &path)) return -1;
  TrackFile(path, true);
  std::string text;
  if (!PrepareProxyConfigFile(path, /*record_api=*/false, /*force=*/true) ||
      !ReadWholeFile(path, &text)) {
    DeleteQuietly(path);
    TrackFile(path, false);
    return -1;
  }
  const uint16_t port = ProxySocksPort(text);
  ProcessLaunch launch;
  launch.command_line = CoreCommandLine(xray, path);
  launch.working_directory = xray.parent_path().wstring();
  // The assets folder rides in the child's own environment block, so concurrent tests never
  // change this process's environment.
  launch.environment = AssetEnvironment(xray, /*announce=*/false);
  launch.end_with_this_process = true;
  LaunchedProcess instance;
  if (!LaunchProcess(launch, &instance, nullptr)) {
    DeleteQuietly(path);
    TrackFile(path, false);
    return -1;
  }
  std::this_thread::sleep_for(kDelayInstanceStartup);
  const int32_t delay = HeadProbe(port, url);
  EndProcess(instance.process.get(), 0);
  std::error_code error;
  if (!fs::remove(path, error) && error) fs::remove(path, error);
  TrackFile(path, false);
  return delay;
}

}  // namespace zelvora
