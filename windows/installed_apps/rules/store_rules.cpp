#include "installed_apps/rules/store_rules.h"

#include "common/text_encoding.h"
#include "installed_apps/rules/name_rules.h"
#include "installed_apps/rules/path_text.h"

namespace installed_apps {
namespace {

constexpr std::wstring_view kFrameworkMarkers[] = {
    L"microsoft.net.",        L"microsoft.vclibs",
    L"microsoft.ui.xaml",     L"microsoft.webview2",
    L".framework_",           L"microsoft.language",
    L"microsoft.advertising", L"microsoft.windowsappruntime",
    L"microsoft.hevc",        L"microsoft.heif",
    L"microsoft.vp9",         L"microsoft.webp",
    L"microsoft.av1",         L"microsoft.services.store",
};

constexpr std::wstring_view kSystemPackagePrefixes[] = {
    L"microsoft.aad.",
    L"microsoft.account",
    L"microsoft.bioenrollment",
    L"microsoft.creddialoghost",
    L"microsoft.lockapp",
    L"microsoft.sechealthui",  // Windows Security: system-signed, the script leaves it out
    L"microsoft.windows.cortana",
    L"microsoft.windows.sechealth",
    L"microsoft.windows.startmenuexperiencehost",
    L"microsoftwindows.client.cbs",
};

bool LeavesFolder(std::wstring_view value) {
  if (value.find(L':') != std::wstring_view::npos) return true;
  if (value.front() == L'\\' || value.front() == L'/') return true;
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find_first_of(L"\\/", start);
    if (end == std::wstring_view::npos) end = value.size();
    if (value.substr(start, end - start) == L"..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::wstring PackageFolderKey(std::wstring_view location) { return Basename(location); }

bool IsFrameworkAppxKey(std::wstring_view key) {
  const std::wstring lower = ToLower(key);
  for (std::wstring_view marker : kFrameworkMarkers) {
    if (Contains(lower, marker)) return true;
  }
  return false;
}

bool IsLikelyUserStorePackageKey(std::wstring_view key) {
  if (IsFrameworkAppxKey(key)) return false;
  const std::wstring lower = ToLower(key);
  for (std::wstring_view prefix : kSystemPackagePrefixes) {
    if (StartsWith(lower, prefix)) return false;
  }
  return true;
}

std::wstring HumanizePackageFamily(std::wstring_view key) {
  std::wstring_view family = key.substr(0, key.find(L'_'));
  const size_t dot = family.find(L'.');
  if (dot != std::wstring_view::npos && dot + 1 < family.size()) family = family.substr(dot + 1);
  const auto upper = [](wchar_t c) { return c >= L'A' && c <= L'Z'; };
  const auto lower = [](wchar_t c) { return c >= L'a' && c <= L'z'; };
  std::wstring out;
  out.reserve(family.size() + 8);
  for (size_t i = 0; i < family.size(); ++i) {
    const wchar_t c = family[i];
    // Further dots separate words too ("Microsoft.Windows.Photos" -> "Windows Photos").
    if (c == L'.') {
      if (!out.empty() && out.back() != L' ') out.push_back(L' ');
      continue;
    }
    // A capital starts a word, except inside a run of capitals ("MSPaint" -> "MS Paint").
    const bool after_upper = i != 0 && upper(family[i - 1]);
    const bool before_lower = i + 1 < family.size() && lower(family[i + 1]);
    if (upper(c) && !out.empty() && out.back() != L' ' && (!after_upper || before_lower)) {
      out.push_back(L' ');
    }
    out.push_back(c);
  }
  return TrimTrailingBlanks(out);
}

std::wstring NormalizeStoreDisplayName(std::wstring_view display, std::wstring_view location) {
  std::wstring name = TrimDisplayNameGarbage(display);
  const std::wstring key = PackageFolderKey(location);
  std::wstring fallback = HumanizePackageFamily(key);
  // The scan prints the package name ("Microsoft.WindowsCalculator") when the manifest names
  // the app by a resource; that is the same family the fallback reads better.
  const std::wstring package_name = ToLower(std::wstring_view(key).substr(0, key.find(L'_')));
  if (name.empty() || LooksLikeResourceReference(name) || ToLower(name) == package_name) {
    name = fallback;
  }
  return SanitizeDisplayName(name, fallback);
}

std::vector<StoreScanLine> ParseStoreScanOutput(std::string_view text) {
  std::vector<StoreScanLine> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t first = line.find('|');
    if (line.empty() || first == std::string_view::npos) continue;
    const size_t second = line.find('|', first + 1);
    if (second == std::string_view::npos) continue;
    lines.push_back({Utf8ToWide(line.substr(0, first)),
                     Utf8ToWide(line.substr(first + 1, second - first - 1)),
                     Utf8ToWide(line.substr(second + 1))});
  }
  return lines;
}

std::wstring AcceptedStoreDisplayName(const StoreScanLine& line) {
  std::wstring display = NormalizeStoreDisplayName(line.name, line.location);
  if (display.empty() || line.location.empty() || !IsWindowsAppsPath(line.location) ||
      IsSystemAppxPath(line.location) ||
      !IsLikelyUserStorePackageKey(PackageFolderKey(line.location))) {
    return std::wstring();
  }
  return display;
}

std::vector<std::wstring> ManifestExecutableValues(std::string_view manifest_utf8) {
  static constexpr std::string_view kAttribute = "Executable=\"";
  std::vector<std::wstring> values;
  size_t pos = 0;
  while ((pos = manifest_utf8.find(kAttribute, pos)) != std::string_view::npos) {
    const size_t begin = pos + kAttribute.size();
    const size_t end = manifest_utf8.find('"', begin);
    if (end == std::string_view::npos) break;
    pos = end + 1;
    if (end == begin) continue;
    std::wstring value = Utf8ToWide(manifest_utf8.substr(begin, end - begin));
    if (LeavesFolder(value)) continue;
    if (!Contains(ToLower(value), L".exe")) value += L".exe";
    values.push_back(std::move(value));
  }
  return values;
}

// Lists the user's packages that are neither frameworks nor system packages and live in a
// WindowsApps folder, one "name|location|version" line each. A "|" or line break inside a
// display name would split the line wrongly, so they become blanks.
const char kStoreScanScript[] =
    "$ErrorActionPreference = 'SilentlyContinue'\r\n"
    "$out = $env:ZELVORA_APPX_OUT\r\n"
    "if (-not $out) { exit 1 }\r\n"
    "$user = $env:ZELVORA_APPX_USER\r\n"
    "if (-not $user) { $user = $env:USERNAME }\r\n"
    "$lines = @()\r\n"
    "Get-AppxPackage -User $user | Where-Object {\r\n"
    "  (-not $_.IsFramework) -and ($_.SignatureKind -ne 'System') -and $_.InstallLocation -and\r\n"
    "  ($_.InstallLocation -like '*\\WindowsApps*')\r\n"
    "} | ForEach-Object {\r\n"
    "  $display = $_.Name\r\n"
    "  $manifest = Join-Path $_.InstallLocation 'AppxManifest.xml'\r\n"
    "  if (Test-Path -LiteralPath $manifest) {\r\n"
    "    try {\r\n"
    "      [xml]$xml = Get-Content -LiteralPath $manifest -Encoding UTF8 -Raw\r\n"
    "      $name = [string]$xml.Package.Properties.DisplayName\r\n"
    "      if ($name -and -not ($name -like '@*') -and -not ($name -like 'ms-resource:*')) {\r\n"
    "        $display = $name\r\n"
    "      }\r\n"
    "    } catch { }\r\n"
    "  }\r\n"
    "  $display = $display -replace '[|\\r\\n]', ' '\r\n"
    "  $lines += ($display + '|' + $_.InstallLocation + '|' + $_.Version)\r\n"
    "}\r\n"
    "$lines | Out-File -LiteralPath $out -Encoding utf8\r\n";

}  // namespace installed_apps
