#include "installed_apps/session_user.h"

// Needs windows.h first.
#include <sddl.h>

#include <vector>

#include "common/unique_handle.h"
#include "installed_apps/path_text.h"

namespace installed_apps {
namespace {

std::wstring TokenUserSid(HANDLE token) {
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) return std::wstring();
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::wstring();
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text) ||
      text == nullptr) {
    return std::wstring();
  }
  std::wstring sid(text);
  ::LocalFree(text);
  return sid;
}

std::wstring ProcessUserSid(HANDLE process) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &raw)) return std::wstring();
  UniqueHandle token(raw);
  return TokenUserSid(token.get());
}

}  // namespace

std::wstring UserHive::Path(const std::wstring& path) const {
  return sid.empty() ? path : sid + L"\\" + path;
}

std::wstring UserHive::ClassesPath(const std::wstring& path) const {
  return sid.empty() ? L"SOFTWARE\\Classes\\" + path : sid + L"_Classes\\" + path;
}

UserHive HiveOfUser(const std::wstring& sid) {
  UserHive hive;
  if (!sid.empty()) {
    hive.root = HKEY_USERS;
    hive.sid = sid;
  }
  return hive;
}

std::wstring OtherSessionUserSid() {
  DWORD shell_pid = 0;
  const HWND shell = ::GetShellWindow();
  if (shell == nullptr || ::GetWindowThreadProcessId(shell, &shell_pid) == 0 || shell_pid == 0) {
    return std::wstring();
  }
  UniqueHandle shell_process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell_pid));
  if (!shell_process) return std::wstring();
  const std::wstring session = ProcessUserSid(shell_process.get());
  const std::wstring own = ProcessUserSid(::GetCurrentProcess());
  if (session.empty() || own.empty() || ToLower(session) == ToLower(own)) return std::wstring();
  return session;
}

}  // namespace installed_apps
