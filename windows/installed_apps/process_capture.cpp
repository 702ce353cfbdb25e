#include "installed_apps/process_capture.h"

#include <vector>

#include "common/unique_handle.h"

namespace installed_apps {
namespace {

constexpr DWORD kChunkBytes = 4096;
constexpr DWORD kPollMs = 20;
// Output beyond this is read and dropped, so a chatty child cannot exhaust memory.
constexpr size_t kMaxOutputBytes = 16 * 1024 * 1024;

void AppendAvailable(HANDLE pipe, DWORD available, std::string& out) {
  char chunk[kChunkBytes];
  while (available > 0) {
    DWORD read = 0;
    const DWORD want = available < kChunkBytes ? available : kChunkBytes;
    if (!::ReadFile(pipe, chunk, want, &read, nullptr) || read == 0) return;
    if (out.size() < kMaxOutputBytes) out.append(chunk, read);
    available -= read;
  }
}

}  // namespace

std::string RunHiddenCaptureStdout(const std::wstring& command_line, const CaptureLimits& limits) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE raw_read = nullptr;
  HANDLE raw_write = nullptr;
  if (!::CreatePipe(&raw_read, &raw_write, &inherit, 0)) return std::string();
  UniqueHandle read_end(raw_read);
  UniqueHandle write_end(raw_write);
  // Only the child's end may be inherited, or our read end would keep the pipe open.
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end.get();
  startup.hStdError = write_end.get();
  PROCESS_INFORMATION info{};
  std::vector<wchar_t> mutable_line(command_line.begin(), command_line.end());
  mutable_line.push_back(L'\0');
  if (!::CreateProcessW(nullptr, mutable_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info)) {
    return std::string();
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  // Our copy of the write end must go, or the pipe never reports its end.
  write_end.reset();

  // Polling keeps the wait bounded: a blocking read would hang for as long as any process
  // holds the write end open.
  std::string output;
  bool output_ended = false;
  const ULONGLONG deadline = ::GetTickCount64() + limits.read_ms;
  while (::GetTickCount64() < deadline) {
    DWORD available = 0;
    if (!::PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr)) {
      output_ended = true;  // broken pipe: every writer closed its end
      break;
    }
    if (available > 0) {
      AppendAvailable(read_end.get(), available, output);
      continue;
    }
    if (::WaitForSingleObject(process.get(), kPollMs) == WAIT_OBJECT_0) {
      // Exited; what it wrote is already in the pipe. A grandchild still holding the pipe is
      // not waited for.
      if (::PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr)) {
        AppendAvailable(read_end.get(), available, output);
      }
      output_ended = true;
      break;
    }
  }
  const DWORD exit_wait = output_ended ? limits.exit_wait_ms : 0;
  if (::WaitForSingleObject(process.get(), exit_wait) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
  }
  return output;
}

std::string RunPowerShellCaptureStdout(const std::wstring& script_path) {
  const std::wstring command =
      L"powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -File \"" + script_path +
      L"\"";
  return RunHiddenCaptureStdout(command, CaptureLimits{});
}

}  // namespace installed_apps
