#include "processes/child_process.h"

#include "processes/process_end.h"

namespace {
constexpr DWORD kGracefulWaitMs = 1500;
}  // namespace

ChildProcess::ChildProcess(UniqueHandle process, UniqueHandle thread, UniqueHandle stdout_read,
                           UniqueHandle stderr_read) {
  handles_.process = std::move(process);
  handles_.thread = std::move(thread);
  handles_.stdout_read = std::move(stdout_read);
  handles_.stderr_read = std::move(stderr_read);
}

bool ChildProcess::IsRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!handles_.process) return false;
  DWORD code = 0;
  if (!::GetExitCodeProcess(handles_.process.get(), &code)) return false;
  return code == kStillActive;
}

std::optional<DWORD> ChildProcess::ExitCode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  DWORD code = 0;
  if (!handles_.process || !::GetExitCodeProcess(handles_.process.get(), &code) ||
      code == kStillActive) {
    return std::nullopt;
  }
  return code;
}

ChildProcess::Handles ChildProcess::TakeAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::move(handles_);
}

void ChildProcess::Kill() {
  Handles taken = TakeAll();
  if (taken.process) EndProcess(taken.process.get(), 0);
  // The owners close process, thread and any pipe end still held, in that order.
}

void ChildProcess::Close() {
  Handles taken = TakeAll();
  if (taken.process) EndProcess(taken.process.get(), kGracefulWaitMs);
}

UniqueHandle ChildProcess::TakeStdoutRead() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::move(handles_.stdout_read);
}

UniqueHandle ChildProcess::TakeStderrRead() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::move(handles_.stderr_read);
}

DWORD ChildProcess::ProcessId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.process ? ::GetProcessId(handles_.process.get()) : 0;
}

bool ChildProcess::HasProcess() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.process.valid();
}
