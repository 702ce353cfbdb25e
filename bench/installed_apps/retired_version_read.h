// How the catalogue read a program's version before it mapped the file once: GetFileVersionInfo
// into a 16 KB buffer (again at the resource's own size when larger), then the same queries.
// The benchmark's timing reference for the first call; its answers are the reader's of today.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace retired {

inline std::wstring QueryVersionString(const std::vector<BYTE>& block, WORD language,
                                       WORD code_page, const wchar_t* field) {
  wchar_t query[64];
  std::swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", language, code_page, field);
  void* value = nullptr;
  UINT units = 0;
  if (!::VerQueryValueW(block.data(), query, &value, &units) || value == nullptr || units == 0) {
    return std::wstring();
  }
  const auto* text = static_cast<const wchar_t*>(value);
  const auto* block_end = reinterpret_cast<const wchar_t*>(block.data() + block.size());
  size_t length = 0;
  while (length < units && text + length < block_end && text[length] != L'\0') ++length;
  return std::wstring(text, length);
}

inline std::vector<BYTE> ReadVersionBlock(const std::wstring& path) {
  constexpr DWORD kUsualVersionBlockBytes = 16 * 1024;
  std::vector<BYTE> block(kUsualVersionBlockBytes);
  if (!::GetFileVersionInfoW(path.c_str(), 0, kUsualVersionBlockBytes, block.data())) return {};
  const DWORD length = block[0] | (block[1] << 8);
  if (length <= kUsualVersionBlockBytes) return block;
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  block.assign(size, 0);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return {};
  return block;
}

inline std::wstring ReadExeFileVersion(const std::wstring& path) {
  if (path.empty()) return std::wstring();
  const std::vector<BYTE> block = ReadVersionBlock(path);
  if (block.empty()) return std::wstring();
  void* translation = nullptr;
  UINT bytes = 0;
  if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translation, &bytes) ||
      translation == nullptr || bytes < 4) {
    return std::wstring();
  }
  const WORD language = static_cast<const WORD*>(translation)[0];
  const WORD code_page = static_cast<const WORD*>(translation)[1];
  std::wstring version = QueryVersionString(block, language, code_page, L"ProductVersion");
  if (version.empty()) version = QueryVersionString(block, language, code_page, L"FileVersion");
  while (!version.empty() && (version.back() == L' ' || version.back() == L'\0')) {
    version.pop_back();
  }
  return version;
}

}  // namespace retired
