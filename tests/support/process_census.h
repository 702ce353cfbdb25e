// The test machine's running programs by image name, as a crash or the task manager sees them.
#pragma once

#include <windows.h>
// clang-format off
#include <tlhelp32.h>
// clang-format on

#include <functional>

namespace process_census {

// Calls `visit` with every running process of that image (case-insensitive).
inline void ForEach(const wchar_t* image, const std::function<void(DWORD)>& visit) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, image) == 0) visit(entry.th32ProcessID);
  }
  ::CloseHandle(snapshot);
}

inline int Count(const wchar_t* image) {
  int count = 0;
  ForEach(image, [&](DWORD) { ++count; });
  return count;
}

// The core and tun2socks, however they were started.
inline int TunnelChildren() { return Count(L"xray.exe") + Count(L"tun2socks.exe"); }

// Ends every process of that image and waits for each to go.
inline void KillAll(const wchar_t* image) {
  ForEach(image, [](DWORD id) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (!process) return;
    ::TerminateProcess(process, 9);
    ::WaitForSingleObject(process, 3000);
    ::CloseHandle(process);
  });
}

}  // namespace process_census
