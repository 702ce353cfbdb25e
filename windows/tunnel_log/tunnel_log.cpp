#include "tunnel_log/tunnel_log.h"

#include <windows.h>
//
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <ctime>

#include "common/protected_file.h"
#include "common/unique_handle.h"
#include "tunnel_log/tunnel_log_paths.h"

namespace {

constexpr char kSupportNotes[] =
    "Zelvora Windows support logs\r\n"
    "============================\r\n"
    "\r\n"
    "If Zelvora has a problem (connect fail, disconnect, DNS, update),\r\n"
    "send these files from the logs folder to support:\r\n"
    "\r\n"
    "  1) logs\\tunnel.log      (current session / recent events)\r\n"
    "  2) logs\\tunnel.log.old  (previous rotated log, if present)\r\n"
    "\r\n"
    "Folder:\r\n"
    "  C:\\ProgramData\\Zelvora\\logs\r\n"
    "\r\n"
    "In the app: Settings \xE2\x86\x92 Logs (opens the logs folder).\r\n"
    "Do not send VPN account passwords or full server configs.\r\n"
    "Also disconnect other VPNs before testing Zelvora.\r\n";

// Set once this process has tried the file's rule on an existing log; a rotation clears it.
std::atomic<bool> g_acls_applied{false};
// Set after a writer gave up waiting for the mutex; cleared by the next line that gets in.
std::atomic<bool> g_log_busy{false};
// Lines lost since the last line that was written; reported in the next one.
std::atomic<unsigned long long> g_dropped_lines{0};

void ApplyLogAcls() {
  zelvora::SetProtectedAccessRule(kTunnelLogDir, kTunnelLogFolderSddl);
  // A missing file leaves the flag clear: the rule goes on once the file exists.
  if (::GetFileAttributesW(kTunnelLogPath) == INVALID_FILE_ATTRIBUTES) return;
  zelvora::SetProtectedAccessRule(kTunnelLogPath, kTunnelLogFileSddl);
  g_acls_applied = true;
}

// Creates the log's folders when missing and gives them their rule; false when one of them
// cannot be made or is a link.
bool PrepareLogFolders() {
  if (!zelvora::EnsureProtectedFolder(kZelvoraDataDir) ||
      !zelvora::EnsureProtectedFolder(kTunnelLogDir)) {
    return false;
  }
  if (!g_acls_applied) ApplyLogAcls();
  return true;
}

// Holds the log mutex for a bounded time. Writing goes on without the mutex when it cannot be
// created; when another writer holds it too long the line is dropped.
class LogWriteScope {
 public:
  LogWriteScope()
      : lock_(kTunnelLogMutexName, g_log_busy ? kTunnelLogBusyWaitMs : kTunnelLogMutexWaitMs) {
    if (lock_.created() && !lock_.owns()) {
      g_log_busy = true;
      return;
    }
    g_log_busy = false;
    usable_ = true;
  }

  bool usable() const { return usable_; }

 private:
  NamedMutexLock lock_;
  bool usable_ = false;
};

unsigned long long FileSize(HANDLE file) {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(file, &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
}

void RotateLog() {
  zelvora::DeleteProtectedFile(kTunnelLogOldPath);
  zelvora::RenameProtectedFile(kTunnelLogPath, kTunnelLogOldPath);
  g_acls_applied = false;
}

// Opens the log for appending only: that is all the file's rule grants standard users. A log
// this process creates gets the file's rule from the start.
zelvora::ProtectedFile OpenLogForAppend() {
  zelvora::ProtectedFile file;
  PSECURITY_DESCRIPTOR rule = nullptr;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kTunnelLogFileSddl, SDDL_REVISION_1, &rule,
                                                         nullptr);
  UniqueLocalMemory owned_rule(rule);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), rule, FALSE};
  file.Open(kTunnelLogPath, kTunnelLogAppendAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
            false, rule ? &attributes : nullptr);
  return file;
}

// The C runtime's text mode, by hand: every line feed goes out as CR LF.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string LocalTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_s(&local, &now) != 0) return "0000-00-00 00:00:00";
  char text[32] = {};
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void WriteSupportNotesIfMissing() {
  // CREATE_NEW leaves an existing file (or link), whoever made it, untouched.
  zelvora::ProtectedFile file;
  if (!file.Open(kSupportNotesPath, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW)) return;
  file.WriteAll(std::string(kSupportNotes, sizeof(kSupportNotes) - 1));
}

// Appends one line under the mutex; false when the line was lost.
bool WriteLine(const std::string& message) {
  LogWriteScope scope;
  if (!scope.usable()) return false;
  // The open checks every folder on the way (no links), so the folders need making only when
  // it fails: on the machine's first line, or after someone removed them.
  zelvora::ProtectedFile file = OpenLogForAppend();
  if (!file.is_open()) {
    if (!PrepareLogFolders()) return false;
    file = OpenLogForAppend();
  }
  if (file.is_open() && FileSize(file.handle()) > kTunnelLogRotateBytes) {
    file = zelvora::ProtectedFile();
    RotateLog();
    file = OpenLogForAppend();
  }
  if (!file.is_open()) {
    ApplyLogAcls();
    file = OpenLogForAppend();
    if (!file.is_open()) return false;
  }
  std::string text;
  const unsigned long long dropped = g_dropped_lines.exchange(0);
  if (dropped > 0) {
    text = LocalTimestamp() + " tunnel log: " + std::to_string(dropped) +
           " line(s) dropped while the log was busy\n";
  }
  text += LocalTimestamp() + " " + message + "\n";
  if (!file.WriteAll(WithCrLf(text))) {
    g_dropped_lines += dropped;
    return false;
  }
  if (!g_acls_applied) ApplyLogAcls();  // a log made or rotated by this line gets its rule
  return true;
}

}  // namespace

void TunnelLogWrite(const std::string& message) {
  try {
    if (WriteLine(message)) return;
  } catch (...) {
    // Logging must never take its caller down; the line is lost.
  }
  ++g_dropped_lines;
}

void TunnelLogOpenSession(const std::string& role) {
  try {
    {
      LogWriteScope scope;
      if (scope.usable() && PrepareLogFolders()) WriteSupportNotesIfMissing();
    }
    TunnelLogWrite("=== session banner role=" + role + " os=" + GetOsVersionString() +
                   " pid=" + std::to_string(::GetCurrentProcessId()) + " ===");
    TunnelLogWrite(
        "Support: if something fails, send C:\\ProgramData\\Zelvora\\logs\\tunnel.log to "
        "Zelvora support (see C:\\ProgramData\\Zelvora\\SUPPORT.txt)");
  } catch (...) {
  }
}

std::string GetOsVersionString() {
  using RtlGetVersionFn = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (!ntdll) return "Windows(unknown)";
  const auto rtl_get_version =
      reinterpret_cast<RtlGetVersionFn>(::GetProcAddress(ntdll, "RtlGetVersion"));
  if (!rtl_get_version) return "Windows(unknown)";
  RTL_OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (rtl_get_version(&info) != 0) return "Windows(unknown)";
  return "Windows " + std::to_string(info.dwMajorVersion) + "." +
         std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber);
}
