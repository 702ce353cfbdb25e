// Ends copies of the core's programs that this application started earlier and lost track of
// (a crash, a killed host), so a new start finds its ports free. Programs of the same names
// elsewhere on the machine are left alone.
#include <windows.h>
// Toolhelp needs the base types above.
#include <tlhelp32.h>

#include "common/unique_handle.h"
#include "processes/component_rules.h"
#include "processes/core_launch.h"
#include "processes/process_end.h"
#include "processes/process_launch.h"

namespace {
constexpr DWORD kPathChars = 520;
}

void KillOrphanCoreProcesses() {
  wchar_t module[kPathChars] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, module, kPathChars);
  if (length == 0 || length >= kPathChars) return;
  const std::wstring folder = LowerApplicationFolder(std::wstring(module, length));
  if (folder.empty()) return;

  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    const std::wstring name(entry.szExeFile);
    // Cheap name test first; the image path needs the process opened.
    if (!IsOwnCoreProcess(folder, name, folder + name)) continue;
    UniqueHandle process(
        ::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                      entry.th32ProcessID));
    if (!process) continue;
    wchar_t image[kPathChars] = {};
    DWORD image_length = kPathChars;
    if (!::QueryFullProcessImageNameW(process.get(), 0, image, &image_length)) continue;
    // Our own live children (a session, a delay test) are in our job; only lost ones are not.
    if (IsOwnCoreProcess(folder, name, std::wstring(image, image_length)) &&
        !IsInProcessLifetimeJob(process.get())) {
      // Gone before this returns, so the start that follows finds the ports free.
      EndProcess(process.get(), 0);
    }
  }
}
