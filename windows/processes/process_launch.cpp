#include "processes/process_launch.h"

#include <mutex>
#include <vector>

#include "processes/process_end.h"

namespace {

constexpr DWORD kReadChunk = 4096;
constexpr DWORD kPollMs = 10;

// Children that must not outlive this process: the job is never closed by us, so the system
// closes it when this process ends, and KILL_ON_JOB_CLOSE then ends them.
HANDLE ProcessLifetimeJob() {
  static HANDLE job = [] {
    HANDLE created = ::CreateJobObjectW(nullptr, nullptr);
    if (!created) return static_cast<HANDLE>(nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!::SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                   sizeof(limits))) {
      ::CloseHandle(created);
      return static_cast<HANDLE>(nullptr);
    }
    return created;
  }();
  return job;
}

bool IsInheritable(HANDLE handle) {
  DWORD flags = 0;
  return handle && handle != INVALID_HANDLE_VALUE && ::GetHandleInformation(handle, &flags) &&
         (flags & HANDLE_FLAG_INHERIT) != 0;
}

// Owns an initialised attribute list.
class AttributeList {
 public:
  explicit AttributeList(DWORD count) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    storage_.resize(size);
    list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!::InitializeProcThreadAttributeList(list_, count, 0, &size)) list_ = nullptr;
  }
  ~AttributeList() {
    if (list_) ::DeleteProcThreadAttributeList(list_);
  }
  AttributeList(const AttributeList&) = delete;
  AttributeList& operator=(const AttributeList&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Moves whatever the pipe holds now into `output` (up to its bound); false once the pipe is
// closed or broken.
bool DrainAvailable(HANDLE pipe, size_t bound, CapturedOutput* output) {
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    char buffer[kReadChunk];
    DWORD got = 0;
    if (!::ReadFile(pipe, buffer, kReadChunk, &got, nullptr) || got == 0) return false;
    const size_t room = output->text.size() < bound ? bound - output->text.size() : 0;
    if (got > room) output->truncated = true;
    output->text.append(buffer, got < room ? got : room);
  }
}

}  // namespace

bool IsInProcessLifetimeJob(HANDLE process) {
  HANDLE job = ProcessLifetimeJob();
  BOOL in_job = FALSE;
  return job && ::IsProcessInJob(process, job, &in_job) && in_job;
}

bool MakeChildPipe(ChildPipe* pipe) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof(security);
  security.bInheritHandle = TRUE;
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!::CreatePipe(&read, &write, &security, 0)) return false;
  pipe->read.reset(read);
  pipe->write.reset(write);
  if (!::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0)) {
    pipe->read.reset();
    pipe->write.reset();
    return false;
  }
  return true;
}

bool LaunchProcess(const ProcessLaunch& launch, LaunchedProcess* launched, DWORD* error) {
  std::vector<HANDLE> inherited;
  for (HANDLE handle : {launch.std_input, launch.std_output, launch.std_error}) {
    if (!IsInheritable(handle)) continue;
    bool seen = false;
    for (HANDLE other : inherited) seen = seen || other == handle;
    if (!seen) inherited.push_back(handle);
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  if (launch.std_input || launch.std_output || launch.std_error) {
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = launch.std_input;
    startup.StartupInfo.hStdOutput = launch.std_output;
    startup.StartupInfo.hStdError = launch.std_error;
  }
  AttributeList attributes(2);
  DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | launch.extra_creation_flags;
  bool use_attributes = false;
  if (!inherited.empty()) {
    if (!attributes.get() ||
        !::UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                     nullptr)) {
      if (error) *error = ::GetLastError();
      return false;
    }
    use_attributes = true;
  }
  HANDLE job = launch.end_with_this_process ? ProcessLifetimeJob() : nullptr;
  // The child is created inside the job, so there is no moment at which our death could leave
  // it running outside. Where the system cannot do that, it starts suspended and joins the job
  // before it runs, which leaves only that short window.
  bool join_job_later = false;
  if (job) {
    if (attributes.get() &&
        ::UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job,
                                    sizeof(job), nullptr, nullptr)) {
      use_attributes = true;
    } else {
      join_job_later = true;
      flags |= CREATE_SUSPENDED;
    }
  }
  if (use_attributes) {
    startup.lpAttributeList = attributes.get();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  // CreateProcessW may write into the command line, so it gets a private copy.
  std::vector<wchar_t> line(launch.command_line.begin(), launch.command_line.end());
  line.push_back(L'\0');
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(
          nullptr, line.data(), nullptr, nullptr, inherited.empty() ? FALSE : TRUE, flags,
          launch.environment ? const_cast<wchar_t*>(launch.environment->c_str()) : nullptr,
          launch.working_directory.empty() ? nullptr : launch.working_directory.c_str(),
          &startup.StartupInfo, &info)) {
    if (error) *error = ::GetLastError();
    return false;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (join_job_later) {
    // A child outside the job still runs; it only loses the end-with-us guarantee.
    ::AssignProcessToJobObject(job, process.get());
    ::ResumeThread(thread.get());
  }
  launched->process = std::move(process);
  launched->thread = std::move(thread);
  launched->process_id = info.dwProcessId;
  return true;
}

bool RunCapturedProcess(const std::wstring& command_line, const CaptureLimits& limits,
                        CapturedOutput* output) {
  ChildPipe pipe;
  if (!MakeChildPipe(&pipe)) return false;
  ProcessLaunch launch;
  launch.command_line = command_line;
  launch.working_directory = limits.working_directory;
  launch.std_output = pipe.write.get();
  launch.std_error = pipe.write.get();
  // Ends with us too: a host that dies while waiting here must not leave the command running
  // (a statistics query, say, that waits for a core that is gone).
  launch.end_with_this_process = true;
  LaunchedProcess child;
  if (!LaunchProcess(launch, &child, nullptr)) return false;
  pipe.write.reset();  // the pipe now ends when the child (and anything it started) closes it

  CapturedOutput run;
  bool output_ended = false;
  bool exited = false;
  const ULONGLONG deadline = ::GetTickCount64() + limits.read_ms;
  for (;;) {
    if (!DrainAvailable(pipe.read.get(), limits.max_output_bytes, &run)) {
      output_ended = true;
      break;
    }
    if (::WaitForSingleObject(child.process.get(), 0) == WAIT_OBJECT_0) {
      DrainAvailable(pipe.read.get(), limits.max_output_bytes, &run);  // its last words
      exited = true;
      break;
    }
    if (::GetTickCount64() >= deadline) break;
    ::WaitForSingleObject(child.process.get(), kPollMs);
  }
  if (!exited) {
    const DWORD grace = output_ended ? limits.exit_wait_ms : 0;
    run.timed_out = !EndProcess(child.process.get(), grace);
  }
  if (output) *output = std::move(run);
  return true;
}
