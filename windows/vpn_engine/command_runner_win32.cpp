#include "vpn_engine/command_runner_win32.h"

#include "vpn_engine/hidden_command.h"
#include "vpn_engine/process_launch.h"

namespace zelvora {

bool Win32CommandRunner::Run(const std::string& command, uint32_t timeout_ms, bool log_failure) {
  return RunHiddenCommand(command, timeout_ms, log_failure);
}

namespace {
// ipconfig answers at once; the limit only keeps a hung one from stalling the connect.
constexpr DWORD kIpconfigTimeoutMs = 5000;
}  // namespace

bool Win32CommandRunner::CaptureIpconfig(std::string* output) {
  // Hidden and time-limited: a pipe-open from a windowed app would flash a console and could
  // wait forever.
  CaptureLimits limits;
  limits.read_ms = kIpconfigTimeoutMs;
  CapturedOutput captured;
  if (!RunCapturedProcess(L"ipconfig", limits, &captured)) {
    output->clear();
    return false;
  }
  // Text mode, as the readers of this output expect: CR LF becomes LF.
  std::string text;
  text.reserve(captured.text.size());
  for (size_t i = 0; i < captured.text.size(); ++i) {
    if (captured.text[i] == '\r' && i + 1 < captured.text.size() && captured.text[i + 1] == '\n') {
      continue;
    }
    text += captured.text[i];
  }
  *output = std::move(text);
  return true;
}

}  // namespace zelvora
