#include "tunnel_log/tunnel_log.h"

#include <windows.h>
//
#include <aclapi.h>
#include <sddl.h>
#include <share.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>

#include "common/unique_handle.h"
#include "tunnel_log/tunnel_log_paths.h"

namespace {

// Users may read and append; only the system and administrators have full control.
constexpr wchar_t kLogDirSddl[] = L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a3;;;BU)";
constexpr wchar_t kLogFileSddl[] = L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x120185;;;BU)";

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

std::atomic<bool> g_acls_applied{false};

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

using SecurityDescriptor = UniqueLocalMemory;

SecurityDescriptor ParseSddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return SecurityDescriptor();
  }
  return SecurityDescriptor(descriptor);
}

// Replaces the object's access list only; owner, group and inheritance stay as they are.
void ApplyDacl(const wchar_t* path, const SecurityDescriptor& descriptor) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present) {
    return;
  }
  ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, dacl, nullptr);
}

void ApplyLogAcls() {
  SecurityDescriptor dir_rules = ParseSddl(kLogDirSddl);
  SecurityDescriptor file_rules = ParseSddl(kLogFileSddl);
  if (!dir_rules || !file_rules) return;  // the flag stays clear: the next write tries again
  ApplyDacl(kTunnelLogDir, dir_rules);
  ApplyDacl(kTunnelLogPath, file_rules);  // fails harmlessly before the file exists
  g_acls_applied = true;
}

// Takes the log mutex and makes sure the folders and their rules exist. Writing goes on
// without the mutex when it cannot be created.
class LogWriteScope {
 public:
  LogWriteScope() : lock_(kTunnelLogMutexName, INFINITE) {
    ::CreateDirectoryW(kZelvoraDataDir, nullptr);
    ::CreateDirectoryW(kTunnelLogDir, nullptr);
    if (!g_acls_applied) ApplyLogAcls();
  }

 private:
  NamedMutexLock lock_;
};

bool LogNeedsRotation() {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(kTunnelLogPath, GetFileExInfoStandard, &data)) return false;
  const unsigned long long size =
      (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return size > kTunnelLogRotateBytes;
}

void RotateLog() {
  ::DeleteFileW(kTunnelLogOldPath);
  ::MoveFileW(kTunnelLogPath, kTunnelLogOldPath);
  g_acls_applied = false;
  ApplyLogAcls();
}

UniqueFile OpenLogForAppend() {
  // Text mode: each line feed is written as CR LF.
  return UniqueFile(::_wfsopen(kTunnelLogPath, L"a", _SH_DENYNO));
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
  // CREATE_NEW leaves an existing file, whoever wrote it, untouched.
  UniqueHandle file(::CreateFileW(kSupportNotesPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  ::WriteFile(file.get(), kSupportNotes, sizeof(kSupportNotes) - 1, &written, nullptr);
}

}  // namespace

void TunnelLogWrite(const std::string& message) {
  try {
    LogWriteScope scope;
    if (LogNeedsRotation()) RotateLog();
    UniqueFile file = OpenLogForAppend();
    if (!file) {
      ApplyLogAcls();
      file = OpenLogForAppend();
      if (!file) return;
    }
    const std::string line = LocalTimestamp() + " " + message + "\n";
    std::fwrite(line.data(), 1, line.size(), file.get());
  } catch (...) {
    // Logging must never take its caller down; the line is lost.
  }
}

void TunnelLogOpenSession(const std::string& role) {
  try {
    {
      LogWriteScope scope;
      WriteSupportNotesIfMissing();
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
