#include "tunnel_log/tunnel_log.h"

#include <gtest/gtest.h>
#include <windows.h>
//
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "support/byte_files.h"
#include "support/held_mutex.h"
#include "tunnel_log/tunnel_log_paths.h"

namespace {

// The lines of `text` without their CR LF (an unterminated tail is a line too).
std::vector<std::string> SplitCrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 2) {
    end = std::min(text.find("\r\n", start), text.size());
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class TunnelLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TunnelLogWrite("test setup");  // creates the folders
    ::DeleteFileW(kTunnelLogPath);
    ::DeleteFileW(kTunnelLogOldPath);
  }
};

// A line: local time stamp, the message (a line feed inside becomes CR LF too), CR LF.
TEST_F(TunnelLogTest, LineHasLocalTimestampMessageAndCrLf) {
  TunnelLogWrite("hello \xE2\x86\x92 world\nsecond");
  const std::string text = ReadFileBytes(kTunnelLogPath);
  ASSERT_GT(text.size(), 19u) << text;
  EXPECT_TRUE(
      std::regex_match(text.substr(0, 19), std::regex("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}")))
      << text;
  EXPECT_EQ(text.substr(19), " hello \xE2\x86\x92 world\r\nsecond\r\n");
}

TEST_F(TunnelLogTest, RotatesOnlyAboveFiveMebibytes) {
  WriteFileBytes(kTunnelLogOldPath, "older rotation\r\n");
  WriteFileBytes(kTunnelLogPath, std::string(kTunnelLogRotateBytes, 'x'));

  TunnelLogWrite("at the limit");  // exactly 5 MiB before the write: no rotation
  EXPECT_GT(ReadFileBytes(kTunnelLogPath).size(), kTunnelLogRotateBytes);
  EXPECT_EQ(ReadFileBytes(kTunnelLogOldPath), "older rotation\r\n");

  TunnelLogWrite("after the limit");  // now above: rotates first
  const std::string old_log = ReadFileBytes(kTunnelLogOldPath);
  EXPECT_NE(old_log.find("at the limit"), std::string::npos);
  EXPECT_EQ(old_log.find("older rotation"), std::string::npos);
  EXPECT_EQ(SplitCrLfLines(ReadFileBytes(kTunnelLogPath)).size(), 1u);
}

TEST_F(TunnelLogTest, SessionWritesSupportNotesOnceAndABannerEachTime) {
  ::DeleteFileW(kSupportNotesPath);
  TunnelLogOpenSession("ui_plugin");
  EXPECT_EQ(ReadFileBytes(kSupportNotesPath).rfind("Zelvora Windows support logs\r\n", 0), 0u);

  WriteFileBytes(kSupportNotesPath, "edited by the user");
  TunnelLogOpenSession("ui_plugin");
  EXPECT_EQ(ReadFileBytes(kSupportNotesPath), "edited by the user");

  const auto lines = SplitCrLfLines(ReadFileBytes(kTunnelLogPath));
  const std::regex banner(
      "\\S+ \\S+ === session banner role=ui_plugin os=Windows \\d+\\.\\d+\\.\\d+ pid=" +
      std::to_string(::GetCurrentProcessId()) + " ===");
  int banners = 0;
  for (const auto& line : lines) banners += std::regex_match(line, banner) ? 1 : 0;
  EXPECT_EQ(banners, 2);
}

// A service- or admin-created log, judged for the standard user the unelevated app runs as
// and for an administrator. Wine does not
// enforce access rules on open, so the rules are checked with AccessCheck.
TEST(TunnelLogRules, StandardUserMayAppendButNotRewriteTheLog) {
  HANDLE raw = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &raw));
  UniqueHandle process_token(raw);
  // What Windows gives the unelevated app: the same user with the administrators group
  // kept for deny only. (Wine's linked token keeps the group, so build it.)
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD admins_size = sizeof(admins);
  ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_size));
  SID_AND_ATTRIBUTES deny_only{admins, 0};
  ASSERT_TRUE(
      ::CreateRestrictedToken(process_token.get(), 0, 1, &deny_only, 0, nullptr, 0, nullptr, &raw));
  UniqueHandle limited_token(raw);
  ASSERT_TRUE(::DuplicateToken(limited_token.get(), SecurityIdentification, &raw));
  UniqueHandle user_token(raw);
  ASSERT_TRUE(::DuplicateToken(process_token.get(), SecurityIdentification, &raw));
  UniqueHandle admin_token(raw);

  const auto granted = [](HANDLE token, const wchar_t* rule, DWORD access) {
    // Made by the service: owned by the administrators.
    const std::wstring sddl = std::wstring(L"O:BAG:SY") + rule;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    UniqueLocalMemory owned(descriptor);
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    ::MapGenericMask(&access, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privileges_size = sizeof(privileges);
    DWORD granted_access = 0;
    BOOL status = FALSE;
    EXPECT_TRUE(::AccessCheck(descriptor, token, access, &mapping, &privileges, &privileges_size,
                              &granted_access, &status));
    return status != FALSE;
  };

  struct Row {
    const char* what;
    const wchar_t* rule;
    DWORD access;
    bool user;
    bool admin;
  };
  const Row rows[] = {
      {"writer opens the log", kTunnelLogFileSddl, kTunnelLogAppendAccess, true, true},
      {"C runtime append mode", kTunnelLogFileSddl, GENERIC_WRITE, false, true},
      {"overwrite in place", kTunnelLogFileSddl, FILE_WRITE_DATA, false, true},
      {"delete or re-rule", kTunnelLogFileSddl, DELETE | WRITE_DAC, false, true},
      {"read its lines", kTunnelLogFileSddl, FILE_READ_DATA | SYNCHRONIZE, true, true},
      {"create the log", kTunnelLogFolderSddl, FILE_ADD_FILE | FILE_TRAVERSE | SYNCHRONIZE, true,
       true},
      {"plant a folder", kTunnelLogFolderSddl, FILE_ADD_SUBDIRECTORY, false, true},
      {"remove the old log", kTunnelLogFolderSddl, FILE_DELETE_CHILD, false, true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(granted(user_token.get(), row.rule, row.access), row.user) << row.what;
    EXPECT_EQ(granted(admin_token.get(), row.rule, row.access), row.admin) << row.what;
  }
}

// Another process sits on the log mutex: each line costs at most the bounded wait, the lines
// are lost, and the next line that gets through says how many.
TEST_F(TunnelLogTest, HeldMutexDropsLinesInsteadOfBlocking) {
  HeldMutex holder(kTunnelLogMutexName, 60000);
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 6; ++i) TunnelLogWrite("lost");
  // Six bounded waits take about a second; a line that waited for the holder takes a minute.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  holder.Release();
  TunnelLogWrite("got through");
  const std::string text = ReadFileBytes(kTunnelLogPath);
  EXPECT_NE(text.find(" tunnel log: 6 line(s) dropped while the log was busy\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("lost"), std::string::npos);
}

// A standard user may create files in the logs folder before the service does: hard links
// from our names to a file only administrators should change are never written through.
TEST_F(TunnelLogTest, PlantedHardLinksNeverReachTheLinkedFile) {
  const std::wstring victim_dir = L"C:\\Program Files\\Contoso \u00c9diteur";
  const std::wstring victim = victim_dir + L"\\policy settings.ini";
  ::CreateDirectoryW(victim_dir.c_str(), nullptr);
  WriteFileBytes(victim.c_str(), "[policy]\r\nAllowUpdates=0\r\n");

  // The log itself is a link: the line is dropped rather than appended to the file.
  ASSERT_TRUE(::CreateHardLinkW(kTunnelLogPath, victim.c_str(), nullptr));
  TunnelLogWrite("must not land in the policy file");
  EXPECT_EQ(ReadFileBytes(victim.c_str()), "[policy]\r\nAllowUpdates=0\r\n");

  ::DeleteFileW(kTunnelLogPath);
  ::DeleteFileW(victim.c_str());
  ::RemoveDirectoryW(victim_dir.c_str());
}

}  // namespace
