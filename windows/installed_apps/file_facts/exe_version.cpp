#include "installed_apps/file_facts/exe_version.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/unique_handle.h"

namespace installed_apps {
namespace {

std::wstring QueryVersionString(const std::vector<BYTE>& block, WORD language, WORD code_page,
                                const wchar_t* field) {
  wchar_t query[64];
  std::swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", language, code_page, field);
  void* value = nullptr;
  UINT units = 0;
  if (!::VerQueryValueW(block.data(), query, &value, &units) || value == nullptr || units == 0) {
    return std::wstring();
  }
  // `units` counts characters and may include the terminator; never read past the block.
  const auto* text = static_cast<const wchar_t*>(value);
  const auto* block_end = reinterpret_cast<const wchar_t*>(block.data() + block.size());
  size_t length = 0;
  while (length < units && text + length < block_end && text[length] != L'\0') ++length;
  return std::wstring(text, length);
}

// A program mapped as a data file: its resources readable, no code run, nothing relocated.
struct DataFileTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle module) { return module != nullptr; }
  static void Close(Handle module) { ::FreeLibrary(module); }
};
using UniqueDataFile = UniqueResource<DataFileTraits>;

// The way GetFileVersionInfo reads any file, 16-bit programs included: a size query, then the
// read, each loading the file once more.
std::vector<BYTE> ReadVersionBlockTwice(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<BYTE> block(size, 0);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return {};
  return block;
}

// The version resource of `path`, whole; empty when it has none. The file is mapped once and
// the resource copied out of the mapping: the catalogue's first call reads a version per program,
// and the size query and read of GetFileVersionInfo cost about twice as much per file (under
// Wine above all). The copy gets as much room again behind it, as GetFileVersionInfo's buffer
// has, for VerQueryValue to convert texts into. Files the loader cannot map as data (16-bit
// programs) are read the other way.
std::vector<BYTE> ReadVersionBlock(const std::wstring& path) {
  UniqueDataFile module(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return ReadVersionBlockTwice(path);
  HRSRC found = ::FindResourceW(module.get(), MAKEINTRESOURCEW(VS_VERSION_INFO), VS_FILE_INFO);
  if (found == nullptr) return {};
  const DWORD size = ::SizeofResource(module.get(), found);
  HGLOBAL loaded = ::LoadResource(module.get(), found);
  const auto* bytes = static_cast<const BYTE*>(loaded ? ::LockResource(loaded) : nullptr);
  if (bytes == nullptr || size < 2) return {};
  std::vector<BYTE> block(static_cast<size_t>(size) * 2, 0);
  std::copy(bytes, bytes + size, block.begin());
  return block;
}

}  // namespace

std::wstring ReadExeFileVersion(const std::wstring& path) {
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

}  // namespace installed_apps
