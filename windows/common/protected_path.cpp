#include "common/protected_path.h"

#include <cwctype>

namespace zelvora {
namespace {

std::wstring WithBackslashes(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'/') c = L'\\';
  }
  return text;
}

bool IsDriveRoot(const std::wstring& path) {
  return path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\';
}

bool SameTextIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// Splits "C:\a\b\c" after the drive into its components; false for empty, "." or "..".
bool SplitComponents(const std::wstring& path, std::vector<std::wstring>* parts) {
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring part = path.substr(start, end - start);
    if (part.empty() || part == L"." || part == L"..") return false;
    parts->push_back(part);
    start = end + 1;
  }
  return true;
}

}  // namespace

bool FoldersToCheck(const std::wstring& raw_path, const std::wstring& raw_root,
                    std::vector<std::wstring>* folders) {
  folders->clear();
  const std::wstring path = WithBackslashes(raw_path);
  if (!IsDriveRoot(path) || path.size() == 3) return false;
  std::vector<std::wstring> parts;
  if (!SplitComponents(path, &parts) || parts.size() < 1) return false;

  std::wstring root = WithBackslashes(raw_root);
  while (root.size() > 3 && root.back() == L'\\') root.pop_back();
  std::vector<std::wstring> root_parts;
  size_t trusted = 0;  // how many leading components lie inside the trusted root
  if (IsDriveRoot(root) && root.size() > 3 && SplitComponents(root, &root_parts) &&
      std::towlower(root[0]) == std::towlower(path[0]) && root_parts.size() < parts.size()) {
    bool inside = true;
    for (size_t i = 0; i < root_parts.size(); ++i) {
      inside = inside && SameTextIgnoringCase(root_parts[i], parts[i]);
    }
    if (inside) trusted = root_parts.size();
  }

  std::wstring folder = path.substr(0, 2);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    folder += L"\\" + parts[i];
    if (i >= trusted) folders->push_back(folder);
  }
  return true;
}

}  // namespace zelvora
