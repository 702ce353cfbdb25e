// Text that reaches the catalogue from outside: PowerShell output, package manifests, and
// registry names and icon references, which any installer writes as it likes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/text_encoding.h"
#include "installed_apps/rules/name_rules.h"
#include "installed_apps/rules/store_rules.h"
#include "installed_apps/rules/uninstall_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const auto& line : installed_apps::ParseStoreScanOutput(bytes)) {
    installed_apps::AcceptedStoreDisplayName(line);
  }
  installed_apps::ManifestExecutableValues(bytes);

  const std::wstring text = Utf8ToWide(bytes);
  const size_t half = text.size() / 2;
  const std::wstring_view first(text.data(), half);
  const std::wstring_view second(text.data() + half, text.size() - half);
  installed_apps::SanitizeDisplayName(first, second);
  installed_apps::TitleCaseExeName(text);
  installed_apps::IsJunkInstalledApp(first, second);
  installed_apps::IsZelvoraEntry(first, second);
  installed_apps::ScoreExeCandidate(first, second);
  installed_apps::StripIconIndexAndQuotes(text);
  installed_apps::HumanizePackageFamily(text);
  installed_apps::NormalizeStoreDisplayName(first, second);
  installed_apps::IsLikelyUserStorePackageKey(text);
  installed_apps::IsAuxiliaryExe(text);
  installed_apps::IsSharedInstallRoot(first, {std::wstring(second)});
  return 0;
}
