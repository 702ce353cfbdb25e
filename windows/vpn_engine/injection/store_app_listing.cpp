#include "vpn_engine/injection/store_app_listing.h"

#include <windows.h>

#include "common/text_encoding.h"
#include "common/unique_handle.h"
#include "vpn_engine/injection/routing_rules.h"

std::vector<std::string> ListExeFilesInFolder(const std::string& folder) {
  std::vector<std::string> names;
  const std::wstring pattern = Utf8ToWide(folder) + L"\\*.exe";
  WIN32_FIND_DATAW data{};
  UniqueFindHandle search(::FindFirstFileW(pattern.c_str(), &data));
  if (!search.valid()) return names;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    names.push_back(WideToUtf8(data.cFileName));
  } while (::FindNextFileW(search.get(), &data));
  return names;
}

void ListStoreAppExecutables(const std::string& entry, TakenNames* taken,
                             std::vector<std::string>* names) {
  CollectStoreAppExecutables(entry, taken, names, ListExeFilesInFolder);
}
