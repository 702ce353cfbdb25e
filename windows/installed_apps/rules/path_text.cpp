#include "installed_apps/rules/path_text.h"

namespace installed_apps {

std::wstring Basename(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring_view::npos) return std::wstring(path);
  return std::wstring(path.substr(slash + 1));
}

std::wstring ToLower(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(std::wstring_view text, std::wstring_view suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool Contains(std::wstring_view text, std::wstring_view needle) {
  return text.find(needle) != std::wstring_view::npos;
}

std::wstring TrimTrailingBlanks(std::wstring_view text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == L' ' || text[end - 1] == L'\t')) --end;
  return std::wstring(text.substr(0, end));
}

std::wstring TrimBlanks(std::wstring_view text) {
  size_t begin = 0;
  while (begin < text.size() && (text[begin] == L' ' || text[begin] == L'\t')) ++begin;
  return TrimTrailingBlanks(text.substr(begin));
}

bool IsValidAppExePath(std::wstring_view path) {
  return !path.empty() && EndsWith(ToLower(path), L".exe");
}

bool IsWindowsAppsPath(std::wstring_view path) {
  return Contains(ToLower(path), L"\\windowsapps\\");
}

bool IsSystemAppxPath(std::wstring_view path) {
  const std::wstring lower = ToLower(path);
  return Contains(lower, L"\\windows\\systemapps\\") ||
         Contains(lower, L"\\windows\\immersivecontrolpanel\\");
}

bool IsUninstallerExe(std::wstring_view path) {
  if (path.empty()) return true;
  const std::wstring base = ToLower(Basename(path));
  return StartsWith(base, L"unins") || Contains(base, L"uninstall") || base == L"setup.exe" ||
         base == L"update.exe" || Contains(base, L"updater");
}

}  // namespace installed_apps
