#include "installed_apps/scan/session_user.h"

// These need windows.h first.
#include <sddl.h>
#include <wtsapi32.h>

#include <vector>

#include "common/unique_handle.h"
#include "installed_apps/rules/path_text.h"

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

// The account signed in to this process's session (the person at the screen), from the
// terminal services session information, which an administrator may read for any session.
std::wstring SessionAccountSid() {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return std::wstring();
  auto query = [session](WTS_INFO_CLASS what) {
    LPWSTR text = nullptr;
    DWORD bytes = 0;
    std::wstring value;
    if (::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, what, &text, &bytes) &&
        text != nullptr) {
      value = text;
    }
    if (text) ::WTSFreeMemory(text);
    return value;
  };
  const std::wstring user = query(WTSUserName);
  if (user.empty()) return std::wstring();
  const std::wstring domain = query(WTSDomainName);
  const std::wstring account = domain.empty() ? user : domain + L"\\" + user;
  DWORD sid_bytes = 0;
  DWORD domain_chars = 0;
  SID_NAME_USE use{};
  ::LookupAccountNameW(nullptr, account.c_str(), nullptr, &sid_bytes, nullptr, &domain_chars, &use);
  if (sid_bytes == 0) return std::wstring();
  std::vector<BYTE> sid(sid_bytes);
  std::vector<wchar_t> found_domain(domain_chars + 1);
  if (!::LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sid_bytes, found_domain.data(),
                            &domain_chars, &use)) {
    return std::wstring();
  }
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid.data(), &text) || text == nullptr) return std::wstring();
  std::wstring result(text);
  ::LocalFree(text);
  return result;
}

// The owner of the desktop shell, when the session information cannot be had.
std::wstring ShellOwnerSid() {
  DWORD shell_pid = 0;
  const HWND shell = ::GetShellWindow();
  if (shell == nullptr || ::GetWindowThreadProcessId(shell, &shell_pid) == 0 || shell_pid == 0) {
    return std::wstring();
  }
  UniqueHandle shell_process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell_pid));
  if (!shell_process) return std::wstring();
  return ProcessUserSid(shell_process.get());
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
  std::wstring session = SessionAccountSid();
  if (session.empty()) session = ShellOwnerSid();
  const std::wstring own = ProcessUserSid(::GetCurrentProcess());
  if (session.empty() || own.empty() || ToLower(session) == ToLower(own)) return std::wstring();
  return session;
}

}  // namespace installed_apps
