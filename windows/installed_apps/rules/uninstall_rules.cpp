#include "installed_apps/rules/uninstall_rules.h"

#include "installed_apps/rules/path_text.h"

namespace installed_apps {

bool ShouldSkipUninstallRecord(const UninstallRecord& record) {
  if (record.display_name.empty() || record.system_component != 0 ||
      !record.parent_display_name.empty()) {
    return true;
  }
  const std::wstring release = ToLower(record.release_type);
  for (std::wstring_view marker : {L"update", L"hotfix", L"security update", L"servicepack"}) {
    if (Contains(release, marker)) return true;
  }
  const std::wstring name = ToLower(record.display_name);
  for (std::wstring_view prefix : {L"update for ", L"security update for ", L"hotfix for "}) {
    if (StartsWith(name, prefix)) return true;
  }
  // Without a folder or an icon there is nothing to find the executable by; entries that
  // forbid modify or repair are kept anyway (their icon or folder may still turn up).
  return record.no_modify == 0 && record.no_repair == 0 && record.install_location.empty() &&
         record.display_icon.empty();
}

std::wstring StripIconIndexAndQuotes(std::wstring_view icon) {
  std::wstring_view path = icon;
  const size_t comma = path.find_last_of(L',');
  if (comma != std::wstring_view::npos) path = path.substr(0, comma);
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') {
    path = path.substr(1, path.size() - 2);
  }
  return std::wstring(path);
}

bool ShouldEnterInstallSubfolder(std::wstring_view name) {
  return !name.empty() && name != L"." && name != L".." && name.front() != L'$';
}

namespace {

std::wstring ComparableFolder(std::wstring_view folder) {
  std::wstring text = ToLower(TrimBlanks(folder));
  for (wchar_t& c : text) {
    if (c == L'/') c = L'\\';
  }
  while (!text.empty() && text.back() == L'\\') text.pop_back();
  return text;
}

}  // namespace

bool IsSharedInstallRoot(std::wstring_view folder, const std::vector<std::wstring>& shared_roots) {
  const std::wstring text = ComparableFolder(folder);
  // "C:", "C:\" and a bare "\" all name a whole drive.
  if (text.empty() || (text.size() == 2 && text[1] == L':')) return true;
  for (const std::wstring& root : shared_roots) {
    const std::wstring comparable = ComparableFolder(root);
    if (!comparable.empty() && comparable == text) return true;
  }
  return false;
}

}  // namespace installed_apps
