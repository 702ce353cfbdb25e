#include "vpn_engine/command_runner_win32.h"

#include "vpn_engine/captured_command.h"
#include "vpn_engine/hidden_command.h"

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
  CapturedCommand captured;
  if (!RunCapturedCommand("ipconfig", std::string(), kIpconfigTimeoutMs, &captured)) {
    output->clear();
    return false;
  }
  *output = std::move(captured.output);
  return true;
}

}  // namespace zelvora
