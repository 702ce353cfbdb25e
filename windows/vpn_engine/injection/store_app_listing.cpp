#include "vpn_engine/injection/store_app_listing.h"

#include <windows.h>

#include "common/text_encoding.h"
#include "common/unique_handle.h"

std::vector<std::string> ListExeFilesInFolder(const std::string& folder) {
  std::vector<std::string> names;
  if (folder.empty()) return names;
  std::wstring pattern = Utf8ToWide(folder);
  if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L"*.exe";
  WIN32_FIND_DATAW data{};
  UniqueFindHandle search(::FindFirstFileW(pattern.c_str(), &data));
  if (!search.valid()) return names;
  do {
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;
    }
    names.push_back(WideToUtf8(data.cFileName));
  } while (::FindNextFileW(search.get(), &data));
  return names;
}
