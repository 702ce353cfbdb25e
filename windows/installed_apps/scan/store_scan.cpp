#include "installed_apps/scan/store_scan.h"

#include <windows.h>

#include <mutex>
#include <string>

#include "common/text_encoding.h"
#include "common/unique_handle.h"
#include "installed_apps/rules/path_text.h"
#include "installed_apps/rules/store_rules.h"
#include "installed_apps/scan/exe_locator.h"
#include "installed_apps/scan/registry_values.h"
#include "installed_apps/scan/store_script_run.h"
#include "installed_apps/scan/uninstall_scan.h"
#include "tunnel_log/tunnel_log.h"

namespace installed_apps {
namespace {

constexpr wchar_t kOutputVariable[] = L"ZELVORA_APPX_OUT";
constexpr wchar_t kUserVariable[] = L"ZELVORA_APPX_USER";
// Below the user's "SOFTWARE\\Classes".
constexpr wchar_t kRepositoryKey[] =
    L"Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppModel\\"
    L"Repository\\Packages";
// Manifests are a few KB and the listing a few hundred; anything this big is not ours.
constexpr ULONGLONG kMaxTextFileBytes = 16 * 1024 * 1024;

// Two catalogue requests at once would both set the process-wide environment variable that
// tells the script where to write; one scan at a time keeps each run's listing its own.
std::mutex& PowerShellScanMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

std::string ReadTextFileUtf8(const std::wstring& path) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::string();
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<ULONGLONG>(size.QuadPart) > kMaxTextFileBytes) {
    return std::string();
  }
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  size_t filled = 0;
  while (filled < text.size()) {
    DWORD read = 0;
    if (!::ReadFile(file.get(), &text[filled], static_cast<DWORD>(text.size() - filled), &read,
                    nullptr) ||
        read == 0) {
      break;
    }
    filled += read;
  }
  text.resize(filled);
  return StripUtf8Bom(std::move(text));
}

std::wstring ParseAppxManifestExecutable(const std::wstring& location) {
  const std::string manifest = ReadTextFileUtf8(location + L"\\AppxManifest.xml");
  if (manifest.empty()) return std::wstring();
  for (const std::wstring& value : ManifestExecutableValues(manifest)) {
    std::wstring candidate = location + L"\\" + value;
    if (IsUninstallerExe(candidate)) continue;
    if (FileExists(candidate) || IsWindowsAppsPath(candidate)) return candidate;
  }
  return std::wstring();
}

std::wstring ResolveAppxExecutable(const std::wstring& location, const std::wstring& hint) {
  std::wstring exe = ParseAppxManifestExecutable(location);
  if (exe.empty()) exe = PickBestExe(std::wstring(), location, hint);
  if (exe.empty() || IsUninstallerExe(exe)) return std::wstring();
  if (!FileExists(exe) && !IsWindowsAppsPath(exe)) return std::wstring();
  return exe;
}

void ScanMicrosoftStorePackagesViaPowerShell(EntryTable& table, const ScriptRunner& run_script,
                                             const UserHive& user) {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length > MAX_PATH) return;
  const std::wstring folder(temp, length);
  const std::wstring name = UnguessableScanName();
  const std::wstring script_path = folder + name + L".ps1";
  const std::wstring output_path = folder + name + L".txt";

  std::string text;
  {
    std::lock_guard<std::mutex> lock(PowerShellScanMutex());
    // Whatever lies under the output name is not this run's listing.
    ::DeleteFileW(output_path.c_str());
    {
      UniqueHandle script = CreateLockedScript(script_path, kStoreScanScript);
      if (!script) {
        ::DeleteFileW(script_path.c_str());
        return;
      }
      ::SetEnvironmentVariableW(kOutputVariable, output_path.c_str());
      ::SetEnvironmentVariableW(kUserVariable, user.sid.empty() ? nullptr : user.sid.c_str());
      try {
        if (run_script) {
          run_script(script_path);
        } else {
          RunSystemPowerShell(script_path);
        }
      } catch (...) {
        // Cleaned up below like any failed run; the fallback still gets its chance.
      }
      ::SetEnvironmentVariableW(kOutputVariable, nullptr);
      ::SetEnvironmentVariableW(kUserVariable, nullptr);
    }
    ::DeleteFileW(script_path.c_str());
    text = ReadTextFileUtf8(output_path);
    ::DeleteFileW(output_path.c_str());
  }

  if (text.empty()) {
    TunnelLogWrite("[plugin] getInstalledApps: store PowerShell scan returned empty");
    return;
  }
  size_t merged = 0;
  for (const StoreScanLine& line : ParseStoreScanOutput(text)) {
    std::wstring display = AcceptedStoreDisplayName(line);
    if (display.empty()) continue;
    std::wstring exe = ResolveAppxExecutable(line.location, display);
    if (exe.empty()) continue;
    UpsertEntry(table, Entry{std::move(display), std::move(exe), line.version, 0});
    ++merged;
  }
  TunnelLogWrite("[plugin] getInstalledApps: store PowerShell merged=" + std::to_string(merged));
}

void ScanStorePackageRepository(EntryTable& table, const UserHive& user) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(user.root, user.ClassesPath(kRepositoryKey).c_str(), 0, KEY_READ, &raw) !=
      ERROR_SUCCESS) {
    return;
  }
  UniqueRegKey packages(raw);
  const size_t before = table.size();
  for (const std::wstring& key_name : EnumerateSubkeyNames(packages.get())) {
    if (!IsLikelyUserStorePackageKey(key_name)) continue;
    HKEY raw_package = nullptr;
    if (::RegOpenKeyExW(packages.get(), key_name.c_str(), 0, KEY_READ, &raw_package) !=
        ERROR_SUCCESS) {
      continue;
    }
    std::wstring root;
    std::wstring display;
    {
      UniqueRegKey package(raw_package);
      root = ReadRegistryString(package.get(), L"PackageRootFolder");
      display = ReadRegistryString(package.get(), L"DisplayName", /*expand=*/false);
    }
    // Named and accepted exactly as a line of the script's listing: repository names are
    // mostly "@{Package?ms-resource://...}" references, which become the humanised family.
    display = AcceptedStoreDisplayName(StoreScanLine{display, root, std::wstring()});
    if (display.empty()) continue;
    std::wstring exe = ResolveAppxExecutable(root, display);
    if (exe.empty()) continue;
    UpsertEntry(table, Entry{std::move(display), std::move(exe), std::wstring(), 0});
  }
  TunnelLogWrite("[plugin] getInstalledApps: registry store fallback added=" +
                 std::to_string(table.size() - before));
}

void ScanMicrosoftStorePackages(EntryTable& table, const ScriptRunner& run_script,
                                const UserHive& user) {
  const size_t before = table.size();
  ScanMicrosoftStorePackagesViaPowerShell(table, run_script, user);
  if (table.size() > before) {
    TunnelLogWrite("[plugin] getInstalledApps: store via PowerShell only, added=" +
                   std::to_string(table.size() - before));
    return;
  }
  ScanStorePackageRepository(table, user);
}

}  // namespace installed_apps
