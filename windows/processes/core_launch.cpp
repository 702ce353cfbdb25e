#include "processes/core_launch.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <filesystem>

#include "common/console_line.h"
#include "common/stop_aware_wait.h"
#include "common/text_encoding.h"
#include "common/winsock_session.h"
#include "config_text/xray_core_contract.h"
#include "processes/component_rules.h"
#include "processes/process_launch.h"
#include "tunnel_log/tunnel_log.h"

namespace {

constexpr DWORD kCaptureTimeoutMs = 800;
// A query whose output ended is given this long to exit before it counts as hung.
constexpr DWORD kCaptureExitWaitMs = 200;
constexpr int kSocketTimeoutMs = 200;
// A refused connect on loopback costs next to nothing; a coarse poll would add its whole
// interval to every connect, since the core starts listening a few tens of ms after launch.
constexpr uint32_t kSocksPollMs = 10;

// The contract's command lines are built from UTF-8 paths and handed over whole as UTF-16, so
// no letter of a path goes through the ANSI code page.
std::string Utf8Path(const std::wstring& path) { return WideToUtf8(path); }

}  // namespace

bool LaunchXray(CoreRunner& runner, const std::string& config_path) {
  runner.xray.Replace(std::make_shared<ChildProcess>());
  const std::wstring& xray = runner.components.xray_path;
  PipedChildOptions options;
  options.command_line = Utf8ToWide(xray_core::RunCommandLine(Utf8Path(xray), config_path));
  options.working_directory = ParentFolder(xray);
  options.stdout_pipe_failure = "VPN Service: Failed to create Xray stdout pipe";
  options.stderr_pipe_failure = "VPN Service: Failed to create Xray stderr pipe";
  std::unique_ptr<ChildProcess> child = LaunchPipedChild(options, PumpXrayOutput, nullptr);
  if (!child) return false;
  runner.xray.Replace(std::move(child));
  return true;
}

bool LaunchTun2socks(CoreRunner& runner, uint16_t socks_port) {
  runner.tun2socks.Replace(std::make_shared<ChildProcess>());
  const std::wstring& tun2socks = runner.components.tun2socks_path;
  PipedChildOptions options;
  const std::string command_line =
      "\"" + Utf8Path(tun2socks) + "\" -device tun://" + xray_core::kTunAdapterName + " -proxy " +
      "socks5://127.0.0.1:" + std::to_string(socks_port) + " -loglevel warn";
  ConsoleLine("VPN Service: Starting Tun2Socks with command: " + command_line);
  options.command_line = Utf8ToWide(command_line);
  options.working_directory = ParentFolder(tun2socks);
  options.stdout_pipe_failure = "VPN Service: Failed to create stdout pipe";
  options.stderr_pipe_failure = "VPN Service: Failed to create stderr pipe";
  DWORD error = 0;
  std::unique_ptr<ChildProcess> child = LaunchPipedChild(options, PumpTun2socksOutput, &error);
  if (!child) {
    ConsoleLine("VPN Service: Failed to launch tun2socks. Error code: " + std::to_string(error));
    ConsoleLine("VPN Service: Make sure the application is running as Administrator!");
    return false;
  }
  ConsoleLine("VPN Service: Tun2Socks process started successfully (PID: " +
              std::to_string(child->ProcessId()) + ")");
  runner.tun2socks.Replace(std::move(child));
  return true;
}

bool CoreRejectedConfiguration(const CoreRunner& runner) {
  const std::shared_ptr<ChildProcess> xray = runner.xray.Get();
  return xray && xray->ExitCode() == std::optional<DWORD>(xray_core::kConfigurationErrorExitCode);
}

bool RunXrayCaptured(CoreRunner& runner, const std::string& arguments, std::string* output) {
  const std::wstring& xray = runner.components.xray_path;
  if (xray.empty()) return false;
  CaptureLimits limits;
  limits.read_ms = kCaptureTimeoutMs;
  limits.exit_wait_ms = kCaptureExitWaitMs;
  CapturedOutput run;
  if (!RunCapturedProcess(Utf8ToWide(xray_core::ApiCommandLine(Utf8Path(xray), arguments)), limits,
                          &run)) {
    return false;
  }
  if (output) *output = std::move(run.text);
  return !run.timed_out;
}

bool WaitForSocksListen(CoreRunner& runner, uint16_t port, uint32_t timeout_ms) {
  if (port == 0) return false;
  WinsockSession winsock;
  if (!winsock.started()) {
    TunnelLogWrite("ERROR: WSAStartup failed while waiting for SOCKS");
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool ready = false;
  while (runner.running) {
    if (std::chrono::steady_clock::now() > deadline) break;
    const std::shared_ptr<ChildProcess> xray = runner.xray.Get();
    if (xray && !xray->IsRunning()) {
      TunnelLogWrite("ERROR: Xray exited while waiting for SOCKS listen");
      break;
    }
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe != INVALID_SOCKET) {
      const DWORD timeout = kSocketTimeoutMs;
      ::setsockopt(probe, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof(timeout));
      ::setsockopt(probe, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof(timeout));
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(port);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool connected =
          ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
      ::closesocket(probe);
      if (connected) {
        TunnelLogWrite("SOCKS listen ready on 127.0.0.1:" + std::to_string(port));
        ready = true;
        break;
      }
    }
    if (!zelvora::WaitWhileRunning(runner.running, kSocksPollMs)) break;
  }
  if (ready) return runner.running;
  TunnelLogWrite("ERROR: SOCKS not listening on 127.0.0.1:" + std::to_string(port));
  return false;
}
