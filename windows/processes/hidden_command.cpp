#include "processes/hidden_command.h"

#include <windows.h>

#include "common/console_line.h"
#include "common/text_encoding.h"
#include "common/unique_handle.h"
#include "processes/hidden_command_line.h"
#include "processes/process_end.h"
#include "processes/process_launch.h"
#include "tunnel_log/tunnel_log.h"

namespace {
// UTF-8, like the command it is joined with.
std::string SystemDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return std::string();
  return WideToUtf8(std::wstring_view(buffer, length));
}
}  // namespace

bool RunHiddenCommand(const std::string& command, uint32_t timeout_ms, bool log_failure) {
  const HiddenCommandPlan plan = PlanHiddenCommand(command, SystemDirectory());
  if (plan.application.empty()) {
    TunnelLogWrite("CMD spawn fail (no system folder): " + command);
    return false;
  }
  ProcessLaunch launch;
  launch.application = Utf8ToWide(plan.application);
  // UTF-8 commands (adapter names, paths) reach the program whole, not through the ANSI code
  // page.
  launch.command_line = Utf8ToWide(plan.command_line);
  launch.extra_creation_flags = CREATE_SUSPENDED;
  LaunchedProcess child;
  DWORD launch_error = 0;
  if (!LaunchProcess(launch, &child, &launch_error)) {
    const std::string code = std::to_string(launch_error);
    ConsoleLine("RunHiddenCommand failed (" + code + "): " + command);
    TunnelLogWrite("CMD spawn fail (" + code + "): " + command);
    return false;
  }
  const UniqueHandle& process = child.process;
  const UniqueHandle& thread = child.thread;
  // The interpreter's own children would outlive a terminated cmd.exe; a job holds the whole
  // tree so a time-out ends all of it.
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  const bool in_job = job && ::AssignProcessToJobObject(job.get(), process.get());
  ::ResumeThread(thread.get());
  DWORD exit_code = 1;
  if (!EndProcess(process.get(), timeout_ms, in_job ? job.get() : nullptr)) {
    TunnelLogWrite("CMD timeout: " + command);
    exit_code = 1;
  } else if (!::GetExitCodeProcess(process.get(), &exit_code)) {
    exit_code = 1;
  }
  if (exit_code == 0) return true;
  if (log_failure) {
    TunnelLogWrite("CMD exit=" + std::to_string(exit_code) + ": " + command);
  }
  return false;
}
