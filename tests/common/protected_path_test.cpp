#include "common/protected_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using zelvora::FoldersToCheck;

struct ChainCase {
  std::wstring path;
  const wchar_t* root;
  std::vector<std::wstring> folders;
};

TEST(FoldersToCheckTest, ChecksEveryFolderAUserCouldHaveReplaced) {
  const std::wstring user = L"D:\\Users\\Zo\u00eb M\u00fcller";
  // clang-format off
  const ChainCase cases[] = {
      // Our own files: ProgramData itself is trusted, everything below it is not.
      {L"C:\\ProgramData\\Zelvora\\logs\\tunnel.log", L"C:\\ProgramData",
       {L"C:\\ProgramData\\Zelvora", L"C:\\ProgramData\\Zelvora\\logs"}},
      {L"c:/programdata/Zelvora/dns_restore.v1", L"C:\\ProgramData\\", {L"c:\\programdata\\Zelvora"}},
      {L"C:\\ProgramData\\smhnr_session_owned.flag", L"C:\\ProgramData", {}},
      // A sibling whose name merely starts like the root is not inside it.
      {L"C:\\ProgramData Backup\\Zelvora\\x.v1", L"C:\\ProgramData",
       {L"C:\\ProgramData Backup", L"C:\\ProgramData Backup\\Zelvora"}},
      // Outside the root (another drive, or no root known): every folder below the drive.
      {user + L"\\AppData\\Temp dir\\\u0444\u0430\u0439\u043b.v1", L"C:\\ProgramData",
       {L"D:\\Users", user, user + L"\\AppData", user + L"\\AppData\\Temp dir"}},
      {L"C:\\ProgramData\\Zelvora\\a.txt", L"", {L"C:\\ProgramData", L"C:\\ProgramData\\Zelvora"}},
  };
  // clang-format on
  for (const ChainCase& c : cases) {
    std::vector<std::wstring> folders;
    EXPECT_TRUE(FoldersToCheck(c.path, c.root, &folders)) << c.path;
    EXPECT_EQ(folders, c.folders) << c.path;
  }
}

TEST(FoldersToCheckTest, RefusesPathsThatCouldEscapeTheCheck) {
  const wchar_t* const refused[] = {
      L"",
      L"Zelvora\\logs\\tunnel.log",                    // relative
      L"\\ProgramData\\Zelvora\\tunnel.log",           // drive-relative
      L"C:ProgramData\\Zelvora\\tunnel.log",           // current folder of C:
      L"\\\\server\\share\\Zelvora\\tunnel.log",       // UNC
      L"\\\\?\\C:\\ProgramData\\Zelvora\\tunnel.log",  // device path
      L"C:\\ProgramData\\Zelvora\\..\\..\\Windows\\win.ini",
      L"C:\\ProgramData\\.\\Zelvora\\tunnel.log",
      L"C:\\ProgramData\\Zelvora\\\\tunnel.log",
      L"C:\\ProgramData\\Zelvora\\logs\\",
      L"C:\\",
  };
  for (const wchar_t* path : refused) {
    std::vector<std::wstring> folders{L"stale"};
    EXPECT_FALSE(FoldersToCheck(path, L"C:\\ProgramData", &folders)) << path;
    EXPECT_TRUE(folders.empty()) << path;
  }
}

}  // namespace
