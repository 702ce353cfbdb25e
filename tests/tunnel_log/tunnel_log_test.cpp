#include "tunnel_log/tunnel_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "tunnel_log/tunnel_log_paths.h"

namespace {

std::string ReadFileBytes(const wchar_t* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool FileExists(const wchar_t* path) {
  return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

unsigned long long FileSize(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void WriteFileBytes(const wchar_t* path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::vector<std::string> SplitCrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));  // unterminated tail
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
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

TEST_F(TunnelLogTest, LineHasLocalTimestampMessageAndCrLf) {
  TunnelLogWrite("hello \xE2\x86\x92 world");
  const std::string text = ReadFileBytes(kTunnelLogPath);
  EXPECT_TRUE(std::regex_match(
      text, std::regex("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} hello \xE2\x86\x92 world\r\n")))
      << text;
}

TEST_F(TunnelLogTest, MessageWithLineFeedIsWrittenAsIs) {
  TunnelLogWrite("first\nsecond");
  const auto lines = SplitCrLfLines(ReadFileBytes(kTunnelLogPath));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" first"), std::string::npos);
  EXPECT_EQ(lines[1], "second");
}

TEST_F(TunnelLogTest, RotatesOnlyAboveFiveMebibytes) {
  WriteFileBytes(kTunnelLogOldPath, "older rotation\r\n");
  WriteFileBytes(kTunnelLogPath, std::string(kTunnelLogRotateBytes, 'x'));

  TunnelLogWrite("at the limit");  // exactly 5 MiB before the write: no rotation
  EXPECT_GT(FileSize(kTunnelLogPath), kTunnelLogRotateBytes);
  EXPECT_EQ(ReadFileBytes(kTunnelLogOldPath), "older rotation\r\n");

  TunnelLogWrite("after the limit");  // now above: rotates first
  const std::string old_log = ReadFileBytes(kTunnelLogOldPath);
  EXPECT_EQ(old_log.size(), FileSize(kTunnelLogOldPath));
  EXPECT_NE(old_log.find("at the limit"), std::string::npos);
  EXPECT_EQ(old_log.find("older rotation"), std::string::npos);
  const auto lines = SplitCrLfLines(ReadFileBytes(kTunnelLogPath));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("after the limit"), std::string::npos);
}

TEST_F(TunnelLogTest, SessionWritesSupportNotesOnceAndABannerEachTime) {
  ::DeleteFileW(kSupportNotesPath);
  TunnelLogOpenSession("ui_plugin");
  const std::string notes = ReadFileBytes(kSupportNotesPath);
  EXPECT_EQ(notes.rfind("Zelvora Windows support logs\r\n============================\r\n\r\n", 0),
            0u);
  EXPECT_NE(notes.find("In the app: Settings \xE2\x86\x92 Logs (opens the logs folder).\r\n"),
            std::string::npos);
  EXPECT_EQ(notes.size(), 516u);

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
  EXPECT_NE(lines.back().find(
                " Support: if something fails, send C:\\ProgramData\\Zelvora\\logs\\tunnel.log "
                "to Zelvora support (see C:\\ProgramData\\Zelvora\\SUPPORT.txt)"),
            std::string::npos);
}

// Two processes writing at once leave only whole lines, each in its writer's order.
TEST_F(TunnelLogTest, ConcurrentProcessesWriteWholeLines) {
  constexpr int kLines = 150;
  std::vector<UniqueHandle> children;
  for (const wchar_t* tag : {L"A", L"BB"}) {
    std::wstring command = L"log_writer.exe " + std::wstring(tag) + L" " + std::to_wstring(kLines);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &info));
    ::CloseHandle(info.hThread);
    children.emplace_back(info.hProcess);
  }
  for (auto& child : children) {
    ASSERT_EQ(::WaitForSingleObject(child.get(), 60000), WAIT_OBJECT_0);
  }

  const std::regex whole_line("\\S+ \\S+ writer=(A|BB) seq=(\\d+) (b+|c+) end");
  int next_seq[2] = {0, 0};
  for (const auto& line : SplitCrLfLines(ReadFileBytes(kTunnelLogPath))) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, whole_line)) << line;
    const int writer = match[1] == "A" ? 0 : 1;
    EXPECT_EQ(std::stoi(match[2]), next_seq[writer]++);
  }
  EXPECT_EQ(next_seq[0], kLines);
  EXPECT_EQ(next_seq[1], kLines);
}

TEST(OsVersion, ReportsTheRunningWindowsVersion) {
  EXPECT_TRUE(std::regex_match(GetOsVersionString(), std::regex("Windows \\d+\\.\\d+\\.\\d+")));
}

}  // namespace
