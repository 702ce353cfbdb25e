#include "vpn_engine/captured_command.h"

#include <vector>

#include "common/unique_handle.h"

namespace {

constexpr DWORD kReadChunk = 4096;
constexpr DWORD kIdleWaitMs = 10;

// Moves whatever the pipe holds now into `text`; false once the pipe is closed or broken.
bool DrainAvailable(HANDLE pipe, std::string* text) {
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    char buffer[kReadChunk];
    DWORD got = 0;
    if (!::ReadFile(pipe, buffer, kReadChunk, &got, nullptr) || got == 0) return false;
    text->append(buffer, got);
  }
}

}  // namespace

bool RunCapturedCommand(const std::string& command_line, const std::string& folder,
                        DWORD timeout_ms, CapturedCommand* result) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof(security);
  security.bInheritHandle = TRUE;
  HANDLE read_raw = nullptr;
  HANDLE write_raw = nullptr;
  if (!::CreatePipe(&read_raw, &write_raw, &security, 0)) return false;
  UniqueHandle read(read_raw);
  UniqueHandle write(write_raw);
  // Only the child's end is inherited.
  if (!::SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0)) return false;

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdOutput = write.get();
  startup.hStdError = write.get();
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    return false;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  write.reset();  // the pipe now ends when the child (and anything it started) closes it

  CapturedCommand run;
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    DrainAvailable(read.get(), &run.output);
    if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
      DrainAvailable(read.get(), &run.output);  // what it wrote just before it ended
      break;
    }
    if (::GetTickCount64() >= deadline) {
      ::TerminateProcess(process.get(), 1);
      run.timed_out = true;
      break;
    }
    ::WaitForSingleObject(process.get(), kIdleWaitMs);
  }
  if (result) *result = std::move(run);
  return true;
}
