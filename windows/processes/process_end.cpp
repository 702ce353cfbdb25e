#include "processes/process_end.h"

namespace {
// Terminating is asynchronous: the process is gone a moment later. A process still there
// after this is stuck in the kernel, and waiting longer would only hang the caller.
constexpr DWORD kTerminateWaitMs = 3000;
constexpr UINT kTerminatedExitCode = 1;
}  // namespace

bool EndProcess(HANDLE process, DWORD grace_ms, HANDLE job) {
  if (::WaitForSingleObject(process, grace_ms) == WAIT_OBJECT_0) return true;
  if (job == nullptr || !::TerminateJobObject(job, kTerminatedExitCode)) {
    ::TerminateProcess(process, kTerminatedExitCode);
  }
  ::WaitForSingleObject(process, kTerminateWaitMs);
  return false;
}
