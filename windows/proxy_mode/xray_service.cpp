#include "proxy_mode/xray_service.h"

#include <windows.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "common/text_encoding.h"
#include "proxy_mode/proxy_config_text.h"
#include "proxy_mode/xray_locate.h"
#include "vpn_engine/captured_command.h"
#include "vpn_engine/config_injection.h"
#include "vpn_engine/data_path_probe.h"
#include "vpn_engine/loopback_ports.h"
#include "vpn_engine/output_pump.h"
#include "vpn_engine/vpn_config_file.h"
#include "vpn_engine/xray_core_contract.h"

namespace zelvora {
namespace {

namespace fs = std::filesystem;

constexpr auto kSettleTime = std::chrono::milliseconds(500);
constexpr auto kWatchInterval = std::chrono::milliseconds(500);
constexpr DWORD kApiCommandTimeoutMs = 3000;
constexpr uint32_t kHeadProbeTimeoutMs = 8000;
constexpr auto kDelayInstanceStartup = std::chrono::milliseconds(350 + 850);
constexpr DWORD kDelayInstanceExitWaitMs = 3000;

void Say(const std::string& line) { std::cerr << line << std::endl; }

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

// Sleeps `duration` in short steps; false as soon as `running` is cleared.
bool SleepWhile(const std::atomic<bool>& running, std::chrono::milliseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (running) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        deadline - now, std::chrono::milliseconds(20)));
  }
  return false;
}

std::optional<std::wstring> AssetEnvironment(const fs::path& xray, bool announce) {
  const fs::path assets = FindXrayAssets(xray);
  if (assets.empty()) return std::nullopt;
  if (announce) Say("Found Xray assets at: " + WideToUtf8(assets.wstring()));
  if (assets == xray.parent_path()) return std::nullopt;
  return EnvironmentWith(Utf8ToWide(xray_core::kAssetLocationVariable), assets.wstring());
}

void JoinUnlessSelf(std::thread& thread) {
  if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
}

}  // namespace

bool WriteProxyConfig(const std::string& config, std::wstring* path) {
  try {
    const std::wstring temp = UserTempDirectory();
    if (temp.empty()) return false;
    const fs::path folder = fs::path(temp) / L"tidewire";
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
      std::wstring name = L"xray_config_" + std::to_wstring(now_ms);
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
    xray_path_ = FindXrayExecutable();
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

bool XrayService::Start(const std::string& config) {
  if (running_) Stop();
  std::lock_guard<std::mutex> lifecycle(lifecycle_mutex_);
  JoinThreads();
  if (!ProxyConfigLooksBalanced(config)) {
    Say("Invalid Xray configuration JSON");
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    config_ = config;
    if (xray_path_.empty()) {
      Say("Xray executable not found. Please ensure xray.exe is available.");
      return false;
    }
  }
  running_ = true;
  try {
    start_worker_ = std::thread([this] {
      try {
        StartWorker();
      } catch (...) {
        Say("Xray start failed unexpectedly");
        running_ = false;
      }
    });
  } catch (...) {
    running_ = false;
    return false;
  }
  return true;
}

void XrayService::StartWorker() {
  std::string config;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    config = config_;
  }
  std::wstring path;
  if (!WriteProxyConfig(config, &path)) {
    Say("Failed to write Xray configuration file");
    running_ = false;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    config_path_ = path;
  }
  if (!StartXrayProcess(path)) {
    Say("Failed to start Xray process");
    running_ = false;
    DeleteQuietly(path);
    return;
  }
  SleepWhile(running_, kSettleTime);
  std::string actual;
  if (!ReadWholeFile(path, &actual)) {
    Say("Warning: Failed to read actual config file, using original");
    actual = config;
  }
  const uint16_t port = ProxySocksPort(actual);
  {
    std::lock_guard<std::mutex> lock(proxy_mutex_);
    // A stop that came in meanwhile has already cleared the proxy; do not set it again.
    if (running_) {
      proxy_texts_ = ProxyTextsFor("localhost", port);
      if (SetSystemProxy(proxy_texts_)) {
        proxy_set_ = true;
        Say("System proxy set to localhost:" + std::to_string(port));
      } else {
        Say("Warning: Failed to set system proxy. Proxy mode may not work correctly.");
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
    Say("Warning: Failed to initialize Xray API client. Stats may not be available.");
  }
  while (running_) {
    const std::shared_ptr<ChildProcess> process = process_.Get();
    if (!process || !process->IsRunning()) {
      if (!running_) return;  // a stop took the process away
      Say("Xray process terminated unexpectedly");
      running_ = false;
      return;
    }
    SleepWhile(running_, kWatchInterval);
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
      Say("Detected Xray API address: " + *address);
    }
  } catch (...) {
  }
  PipedChildOptions options;
  options.command_line =
      xray_core::RunCommandLine(NarrowPath(xray.wstring()), NarrowPath(config_path));
  options.working_directory = NarrowPath(xray.parent_path().wstring());
  options.extra_creation_flags = CREATE_NEW_PROCESS_GROUP;
  options.environment = AssetEnvironment(xray, /*announce=*/true);
  options.stdout_pipe_failure = "Failed to create stdout pipe";
  options.stderr_pipe_failure = "Failed to create stderr pipe";
  DWORD launch_error = 0;
  std::unique_ptr<ChildProcess> child = LaunchPipedChild(options, PumpXrayOutput, &launch_error);
  if (!child) {
    Say("Failed to start Xray process. Error: " + std::to_string(launch_error));
    return false;
  }
  std::shared_ptr<ChildProcess> shared(std::move(child));
  process_.Replace(shared);
  SleepWhile(running_, kSettleTime);
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
      SleepWhile(running_, std::chrono::duration_cast<std::chrono::milliseconds>(next - now));
    }
  }
}

void XrayService::UpdateTrafficStats() {
  const auto api = Api();
  if (!api) return;
  std::string output;
  if (!RunXrayApiCommand(xray_core::ProxyStatsQueryArguments(api->address), &output)) return;
  uint64_t up = 0;
  uint64_t down = 0;
  SumProxyTraffic(ParseProxyStats(output), &up, &down);
  std::lock_guard<std::mutex> lock(stats_mutex_);
  uplink_ = up;
  downlink_ = down;
}

void XrayService::Stop() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_mutex_);
  running_ = false;
  {
    std::lock_guard<std::mutex> lock(proxy_mutex_);
    ClearSystemProxy();
    proxy_set_ = false;
  }
  JoinThreads();
  if (auto process = process_.Take()) process->Close();
  std::wstring path;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    api_client_.reset();
    path = std::exchange(config_path_, std::wstring());
  }
  DeleteQuietly(path);
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
  CapturedCommand run;
  if (!RunCapturedCommand(xray_core::ApiCommandLine(NarrowPath(xray.wstring()), arguments),
                          NarrowPath(xray.parent_path().wstring()), kApiCommandTimeoutMs, &run)) {
    return false;
  }
  if (run.timed_out) Say("RunXrayApiCommand: Timeout waiting for command: " + arguments);
  if (output) *output = std::move(run.output);
  return true;
}

std::string XrayService::GetCoreVersion() {
  std::string output;
  if (Api() && RunXrayApiCommand(xray_core::kVersionApiArguments, &output)) {
    const std::string first = output.substr(0, output.find_first_of("\r\n"));
    if (!first.empty()) return first;
  }
  // "-version" through the same bounded runner: no console window, no wait without end.
  if (!RunXrayApiCommand("-version", &output)) return "Unknown";
  const std::string version = xray_core::ParseCoreVersion(output);
  return version.empty() ? "Unknown" : version;
}

int32_t XrayService::MeasureConnectedDelay(const std::string& url) {
  if (!Api()) return -1;
  std::string config;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    config = config_;
  }
  const uint16_t port = config.empty() ? kProxyDefaultSocksPort : ProxySocksPort(config);
  return HeadProbe(port, url);
}

int32_t XrayService::MeasureServerDelay(const std::string& config, const std::string& url) {
  if (!ProxyConfigLooksBalanced(config)) return -1;
  fs::path xray = XrayPath();
  if (xray.empty()) {
    xray = FindXrayExecutable();
    if (xray.empty()) return -1;
    std::lock_guard<std::mutex> lock(state_mutex_);
    xray_path_ = xray;
  }
  std::wstring path;
  if (!WriteProxyConfig(config, &path)) return -1;
  std::string text;
  if (!PrepareProxyConfigFile(path, /*record_api=*/false, /*force=*/true) ||
      !ReadWholeFile(path, &text)) {
    DeleteQuietly(path);
    return -1;
  }
  const uint16_t port = ProxySocksPort(text);
  const std::optional<std::wstring> environment = AssetEnvironment(xray, /*announce=*/false);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  std::string line_text = xray_core::RunCommandLine(NarrowPath(xray.wstring()), NarrowPath(path));
  std::vector<char> line(line_text.begin(), line_text.end());
  line.push_back('\0');
  const std::string folder = NarrowPath(xray.parent_path().wstring());
  PROCESS_INFORMATION info{};
  DWORD flags = CREATE_NO_WINDOW;
  if (environment) flags |= CREATE_UNICODE_ENVIRONMENT;
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags,
                        environment ? const_cast<wchar_t*>(environment->c_str()) : nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    DeleteQuietly(path);
    return -1;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  std::this_thread::sleep_for(kDelayInstanceStartup);
  const int32_t delay = HeadProbe(port, url);
  ::TerminateProcess(process.get(), 0);
  ::WaitForSingleObject(process.get(), kDelayInstanceExitWaitMs);
  std::error_code error;
  if (!fs::remove(path, error) && error) fs::remove(path, error);
  return delay;
}

}  // namespace zelvora
