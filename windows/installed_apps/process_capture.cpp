#include "installed_apps/process_capture.h"

#include "processes/process_launch.h"

namespace installed_apps {
namespace {
// Output beyond this is read and dropped, so a chatty child cannot exhaust memory.
constexpr size_t kMaxOutputBytes = 16 * 1024 * 1024;
}  // namespace

std::string RunHiddenCaptureStdout(const std::wstring& command_line, const CaptureLimits& limits) {
  ::CaptureLimits shared;
  shared.read_ms = limits.read_ms;
  shared.exit_wait_ms = limits.exit_wait_ms;
  shared.max_output_bytes = kMaxOutputBytes;
  CapturedOutput output;
  if (!RunCapturedProcess(command_line, shared, &output)) return std::string();
  return std::move(output.text);
}

std::string RunPowerShellCaptureStdout(const std::wstring& script_path) {
  const std::wstring command =
      L"powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -File \"" + script_path +
      L"\"";
  return RunHiddenCaptureStdout(command, CaptureLimits{});
}

}  // namespace installed_apps
