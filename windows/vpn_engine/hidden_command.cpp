#include "vpn_engine/hidden_command.h"

#include <windows.h>

#include <iostream>
#include <vector>

#include "common/unique_handle.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/hidden_command_line.h"

namespace {
constexpr DWORD kTerminateWaitMs = 1000;

std::string SystemDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemDirectoryA(buffer, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return std::string();
  return std::string(buffer, length);
}
}  // namespace

bool RunHiddenCommand(const std::string& command, uint32_t timeout_ms, bool log_failure) {
  const HiddenCommandPlan plan = PlanHiddenCommand(command, SystemDirectory());
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  // CreateProcessA may write into the command line, so it gets a private copy.
  std::vector<char> line(plan.command_line.begin(), plan.command_line.end());
  line.push_back('\0');
  if (!::CreateProcessA(plan.application.empty() ? nullptr : plan.application.c_str(), line.data(),
                        nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info)) {
    const std::string code = std::to_string(::GetLastError());
    std::cerr << "RunHiddenCommand failed (" << code << "): " << command << std::endl;
    TunnelLogWrite("CMD spawn fail (" + code + "): " + command);
    return false;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  // The interpreter's own children would outlive a terminated cmd.exe; a job holds the whole
  // tree so a time-out ends all of it.
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  const bool in_job = job && ::AssignProcessToJobObject(job.get(), process.get());
  ::ResumeThread(thread.get());
  DWORD exit_code = 1;
  if (::WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
    if (!in_job || !::TerminateJobObject(job.get(), 1)) ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), kTerminateWaitMs);
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
