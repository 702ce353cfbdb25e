// rand_s, for names nobody can guess, needs this before the C headers.
#define _CRT_RAND_S
#include "installed_apps/scan/store_script_run.h"

#include <cstdio>
#include <cstdlib>

#include "processes/process_launch.h"

namespace installed_apps {
namespace {

constexpr DWORD kScriptReadMs = 60000;
constexpr DWORD kScriptExitWaitMs = 45000;
// Output beyond this is read and dropped, so a chatty child cannot exhaust memory.
constexpr size_t kScriptMaxOutputBytes = 16 * 1024 * 1024;

bool ReadExactly(HANDLE file, std::string& out, size_t size) {
  out.assign(size, '\0');
  size_t filled = 0;
  while (filled < size) {
    DWORD read = 0;
    if (!::ReadFile(file, &out[filled], static_cast<DWORD>(size - filled), &read, nullptr) ||
        read == 0) {
      return false;
    }
    filled += read;
  }
  char extra = 0;
  DWORD read = 0;
  return ::ReadFile(file, &extra, 1, &read, nullptr) && read == 0;
}

}  // namespace

// "zelvora_appx_<random>": a name no other process can know before the scan creates it.
std::wstring UnguessableScanName() {
  unsigned int parts[2] = {};
  for (unsigned int& part : parts) {
    if (rand_s(&part) != 0)
      part = static_cast<unsigned int>(::GetTickCount64() ^ ::GetCurrentThreadId());
  }
  wchar_t text[40] = {};
  std::swprintf(text, 40, L"zelvora_appx_%08x%08x", parts[0], parts[1]);
  return text;
}

// Writes the script to a new file and returns a handle that keeps it from changing: open for
// reading, sharing only reading, so nobody can write, rename or delete it while PowerShell
// reads it. PowerShell's own open (read, share read) fits beside it; a writer's handle would
// not, which is why the text is written through a first handle and checked again through the
// second: whatever slipped in between the two opens is caught, and nothing can after.
UniqueHandle CreateLockedScript(const std::wstring& path, const std::string& bytes) {
  {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return UniqueHandle();
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
        written != bytes.size()) {
      return UniqueHandle();
    }
  }
  UniqueHandle locked(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string check;
  if (!locked || !ReadExactly(locked.get(), check, bytes.size()) || check != bytes) {
    return UniqueHandle();
  }
  return locked;
}

// Windows PowerShell from the system folder by its full path. Found through the search path,
// a "powershell.exe" in the app's folder or the current folder would run first.
std::wstring SystemPowerShellPath() {
  wchar_t system[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  return std::wstring(system, length) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

std::string RunSystemPowerShell(const std::wstring& script_path) {
  const std::wstring powershell = SystemPowerShellPath();
  if (powershell.empty()) return std::string();
  CaptureLimits limits;
  limits.read_ms = kScriptReadMs;
  limits.exit_wait_ms = kScriptExitWaitMs;
  limits.max_output_bytes = kScriptMaxOutputBytes;
  CapturedOutput output;
  if (!RunCapturedProcess(L"\"" + powershell +
                              L"\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -File \"" +
                              script_path + L"\"",
                          limits, &output)) {
    return std::string();
  }
  return std::move(output.text);
}

}  // namespace installed_apps
