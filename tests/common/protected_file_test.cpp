// The shared-data file operations on a machine where a standard user prepared a trap: a hard
// link in our folder to a file only administrators should change. (Wine can make neither
// junctions nor symbolic links, and it lets a folder be renamed while it is held open
// unshared for deletion, so those refusals are covered by the folder-chain rules test and
// by the flags on every open; hard links Wine makes for real.)
#include "common/protected_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "common/file_owner.h"
#include "support/byte_files.h"
// After windows.h:
#include <sddl.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using zelvora::DeleteProtectedFile;
using zelvora::EnsureProtectedFolder;
using zelvora::ProtectedFile;
using zelvora::ReadProtectedFile;
using zelvora::RenameProtectedFile;
using zelvora::ReplaceProtectedFile;
using zelvora::SetProtectedAccessRule;

const std::wstring kDataDir = L"C:\\ProgramData\\Zelvora Pr\u00fcfung \u03a9";
const std::wstring kFolder = kDataDir + L"\\r\u00e9sum\u00e9 data";
const std::wstring kVictimDir = L"C:\\Program Files\\Contoso \u00c9diteur";
const std::wstring kVictim = kVictimDir + L"\\policy settings.ini";
const std::string kVictimBytes = "[policy]\r\nAllowUpdates=0\r\n";
constexpr wchar_t kRule[] = L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x120089;;;BU)";

std::vector<std::wstring> NamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().wstring());
  }
  return names;
}

void RemoveTree(const std::wstring& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

class ProtectedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTree(kDataDir);
    RemoveTree(kVictimDir);
    ASSERT_TRUE(EnsureProtectedFolder(kDataDir));
    ASSERT_TRUE(EnsureProtectedFolder(kFolder, kRule));
    ::CreateDirectoryW(kVictimDir.c_str(), nullptr);
    WriteFileBytes(kVictim, kVictimBytes);
  }
  void TearDown() override {
    RemoveTree(kDataDir);
    RemoveTree(kVictimDir);
  }
};

TEST_F(ProtectedFileTest, ReplaceIsWholeAndLeavesNothingBehind) {
  const std::wstring path = kFolder + L"\\dns_restore.v1";
  const std::string big = [] {
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    return bytes;
  }();
  const std::string small = "Ethernet 2\tdhcp\r\nWi-Fi \xC3\xA9t\xC3\xA9\t1.1.1.1,9.9.9.9\r\n";

  for (const std::string* bytes : std::vector<const std::string*>{&big, &small}) {
    ASSERT_TRUE(ReplaceProtectedFile(path, *bytes, kRule));
    std::string read;
    ASSERT_TRUE(ReadProtectedFile(path, &read));
    EXPECT_EQ(read, *bytes);
    EXPECT_EQ(NamesIn(kFolder), std::vector<std::wstring>{L"dns_restore.v1"});
  }

  const std::wstring moved = kFolder + L"\\dns_restore.v1.old";
  WriteFileBytes(moved, "older");
  ASSERT_TRUE(RenameProtectedFile(path, moved));
  EXPECT_EQ(ReadFileBytes(moved), small);
  EXPECT_TRUE(DeleteProtectedFile(moved));
  // Nothing to delete, also below a folder that does not exist, is not a failure.
  EXPECT_TRUE(DeleteProtectedFile(moved));
  EXPECT_TRUE(DeleteProtectedFile(kFolder + L"\\gone\\smhnr_restore.v1"));
}

TEST_F(ProtectedFileTest, HardLinkPlantedByAUserIsNeverFollowed) {
  const std::wstring planted = kFolder + L"\\smhnr_restore.v1";
  ASSERT_TRUE(::CreateHardLinkW(planted.c_str(), kVictim.c_str(), nullptr));

  std::string read;
  EXPECT_FALSE(ReadProtectedFile(planted, &read));
  EXPECT_FALSE(SetProtectedAccessRule(planted, kRule));
  EXPECT_FALSE(RenameProtectedFile(planted, kFolder + L"\\elsewhere.v1"));
  ProtectedFile append;
  EXPECT_FALSE(append.Open(planted, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS));
  EXPECT_EQ(ReadFileBytes(kVictim), kVictimBytes);

  // Replacing and deleting act on our name only: the linked file keeps its content.
  ASSERT_TRUE(ReplaceProtectedFile(planted, "ours"));
  EXPECT_EQ(ReadFileBytes(planted), "ours");
  EXPECT_EQ(ReadFileBytes(kVictim), kVictimBytes);
  ASSERT_TRUE(::CreateHardLinkW((kFolder + L"\\flag").c_str(), kVictim.c_str(), nullptr));
  EXPECT_TRUE(DeleteProtectedFile(kFolder + L"\\flag"));
  EXPECT_EQ(ReadFileBytes(kVictim), kVictimBytes);
}

// The owners whose files the trusted reads accept, judged on real SIDs.
TEST(FileOwnerTest, OnlyAdministratorsAndTheSystemOwnTrustedFiles) {
  using zelvora::FileOwner;
  // Administrators, LocalSystem; then Users, LocalService, a user, an administrator's own
  // account and TrustedInstaller.
  const struct {
    const wchar_t* sid;
    FileOwner kind;
  } cases[] = {
      {L"S-1-5-32-544", FileOwner::kAdministrators},
      {L"S-1-5-18", FileOwner::kLocalSystem},
      {L"S-1-5-32-545", FileOwner::kOtherAccount},
      {L"S-1-5-19", FileOwner::kOtherAccount},
      {L"S-1-5-21-1004336348-1177238915-682003330-1001", FileOwner::kOtherAccount},
      {L"S-1-5-21-1004336348-1177238915-682003330-500", FileOwner::kOtherAccount},
      {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", FileOwner::kOtherAccount},
  };
  for (const auto& c : cases) {
    PSID sid = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(c.sid, &sid)) << c.sid;
    EXPECT_EQ(zelvora::OwnerKindOfSid(sid), c.kind) << c.sid;
    ::LocalFree(sid);
  }
  EXPECT_EQ(zelvora::OwnerKindOfSid(nullptr), FileOwner::kUnknown);
}

// What the real owner query makes of a file this (elevated) process created. On Windows the
// Administrators group owns it and the trusted read accepts it. Wine reports the prefix's one
// user, S-1-5-21-0-0-0-1000, for every file and keeps no owner that is set, so there the real
// query refuses our own files too; the engine's tests under Wine therefore replace it with the
// stand-in of support/planted_files.h.
TEST_F(ProtectedFileTest, RealOwnerQueryOfAFileWeCreated) {
  const std::wstring path = kFolder + L"\\proxy_restore.v1";
  ASSERT_TRUE(ReplaceProtectedFile(path, "v1\n"));
  HANDLE file = ::CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const zelvora::FileOwner kind = zelvora::QueryFileOwner(file);
  ::CloseHandle(file);

  std::string read;
  if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
    EXPECT_EQ(kind, zelvora::FileOwner::kOtherAccount);
    EXPECT_EQ(zelvora::ReadAdministratorsFile(path, &read), zelvora::TrustedRead::kUntrustedOwner);
  } else {
    EXPECT_EQ(kind, zelvora::FileOwner::kAdministrators);
    EXPECT_EQ(zelvora::ReadAdministratorsFile(path, &read), zelvora::TrustedRead::kRead);
    EXPECT_EQ(read, "v1\n");
  }
}

}  // namespace
