#include "vpn_engine/dns_protection/name_resolution_policy.h"

#include <windows.h>

#include <mutex>
#include <string>

#include "common/protected_file.h"
#include "common/trusted_state_file.h"
#include "common/unique_handle.h"
#include "common/zelvora_data_files.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/dns_protection/name_resolution_backup.h"

namespace {

constexpr wchar_t kSmartKey[] = L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\DNSClient";
constexpr wchar_t kSmartValue[] = L"DisableSmartNameResolution";
constexpr wchar_t kParallelKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Dnscache\\Parameters";
constexpr wchar_t kParallelValue[] = L"DisableParallelAandAAAA";

std::mutex& PolicyMutex() {
  static std::mutex mutex;
  return mutex;
}

NameResolutionPolicyBackup& MemoryBackup() {
  static NameResolutionPolicyBackup backup;
  return backup;
}

// The value's current DWORD, when it is one.
void ReadValue(const wchar_t* key_path, const wchar_t* value, bool* existed, uint32_t* previous) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key_path, value, RRF_RT_ANY, &type, &data, &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD && size == sizeof(data)) {
    *existed = true;
    *previous = data;
  }
}

// Sets the value to 1; the line says what failed.
bool DisableValue(const wchar_t* key_path, const wchar_t* value, const char* name) {
  HKEY raw = nullptr;
  LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &raw, nullptr);
  if (status == ERROR_SUCCESS) {
    UniqueRegKey key(raw);
    const DWORD one = 1;
    status = ::RegSetValueExW(key.get(), value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                              sizeof(one));
  }
  if (status == ERROR_SUCCESS) return true;
  TunnelLogWrite(std::string("dns-guard: could not set ") + name + " (error " +
                 std::to_string(status) + ")");
  return false;
}

// Puts one value back: its saved DWORD, or no value at all when there was none.
void PutValueBack(const wchar_t* key_path, const wchar_t* value, bool existed, uint32_t saved) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) {
    return;
  }
  UniqueRegKey key(raw);
  if (existed) {
    const DWORD data = saved;
    ::RegSetValueExW(key.get(), value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                     sizeof(data));
  } else {
    ::RegDeleteValueW(key.get(), value);
  }
}

void PutBothBack(const NameResolutionPolicyBackup& backup) {
  PutValueBack(kSmartKey, kSmartValue, backup.smartExisted, backup.smartValue);
  PutValueBack(kParallelKey, kParallelValue, backup.parallelExisted, backup.parallelValue);
}

void DeletePolicyFiles() {
  zelvora::DeleteTrustedStateFile(PolicyRestoreFilePath());
  zelvora::DeleteProtectedFile(PolicySessionFlagPath());
}

}  // namespace

bool ApplyNameResolutionPolicy() {
  std::lock_guard<std::mutex> lock(PolicyMutex());
  NameResolutionPolicyBackup& backup = MemoryBackup();
  NameResolutionPolicyBackup previous;
  ReadValue(kSmartKey, kSmartValue, &previous.smartExisted, &previous.smartValue);
  ReadValue(kParallelKey, kParallelValue, &previous.parallelExisted, &previous.parallelValue);
  // The previous state goes to disk before anything changes: a crash after the change must
  // find it there.
  EnsureZelvoraDataFolder();
  if (!zelvora::WriteTrustedStateFile(PolicyRestoreFilePath(),
                                      FormatNameResolutionBackup(previous))) {
    TunnelLogWrite("dns-guard: SMHNR backup not saved — policy left unchanged");
    return false;
  }
  backup = previous;
  backup.active = true;
  zelvora::ReplaceProtectedFile(PolicySessionFlagPath(), "1");
  const bool smart = DisableValue(kSmartKey, kSmartValue, "DisableSmartNameResolution");
  const bool parallel = DisableValue(kParallelKey, kParallelValue, "DisableParallelAandAAAA");
  if (!smart || !parallel) return false;
  TunnelLogWrite("dns-guard: SMHNR / parallel DNS disabled for tunnel session");
  return true;
}

void RestoreNameResolutionPolicy() {
  std::lock_guard<std::mutex> lock(PolicyMutex());
  NameResolutionPolicyBackup& backup = MemoryBackup();
  if (backup.active) {
    PutBothBack(backup);
    backup = NameResolutionPolicyBackup{};
    DeletePolicyFiles();
    TunnelLogWrite("dns-guard: SMHNR policy restored");
    return;
  }
  std::string content;
  const zelvora::TrustedRead read =
      zelvora::ReadTrustedStateFile(PolicyRestoreFilePath(), &content);
  if (read == zelvora::TrustedRead::kUntrustedOwner) {
    // Planted by a standard user; like any file that cannot be trusted, it changes nothing.
    TunnelLogWrite("dns-guard: ignoring SMHNR backup not created by an administrator");
    return;
  }
  if (read != zelvora::TrustedRead::kRead) return;
  const auto saved = ParseNameResolutionBackup(content);
  if (!saved) return;
  PutBothBack(*saved);
  DeletePolicyFiles();
  TunnelLogWrite("dns-guard: SMHNR policy restored from disk backup");
}

void ForgetNameResolutionPolicyMemory() {
  std::lock_guard<std::mutex> lock(PolicyMutex());
  MemoryBackup() = NameResolutionPolicyBackup{};
}
