#include "common/program_path.h"

#include <windows.h>

namespace zelvora {

std::wstring ProgramPath() {
  // Long-path installs exceed MAX_PATH; grow until the name fits (the limit of a path is 32767).
  std::wstring buffer(MAX_PATH, L'\0');
  while (buffer.size() <= 32768) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return buffer.substr(0, length);
    buffer.resize(buffer.size() * 2);
  }
  return std::wstring();
}

std::wstring ProgramFolder() {
  const std::wstring path = ProgramPath();
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace zelvora
