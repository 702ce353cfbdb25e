// The Store scan under Wine: the script's output through a stand-in for PowerShell, the
// package repository fallback, and manifests in folders below "\WindowsApps\".
#include <gtest/gtest.h>

#include <thread>

#include "common/text_encoding.h"
#include "installed_apps/rules/entry_table.h"
#include "installed_apps/rules/store_rules.h"
#include "installed_apps/scan/store_scan.h"
#include "windows_test_support.h"

namespace apps_test {
namespace {

using installed_apps::Entry;
using installed_apps::EntryTable;

const std::wstring kApps = kTestRoot + L"\\Program Files\\WindowsApps\\";
const std::wstring kNotes = kApps + L"Contoso.NotesStudio_1.2.3.0_x64__8abcdefgh1234";
const std::wstring kPaint = kApps + L"Contoso.PaintPad_2.0.0.0_x64__8abcdefgh1234";
const wchar_t kRepository[] =
    L"SOFTWARE\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppModel\\"
    L"Repository\\Packages\\";

std::wstring GetEnv(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
  return length == 0 || length >= 1024 ? std::wstring() : std::wstring(buffer, length);
}

class StoreScan : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTestRoot();
    // Notes declares Notes.exe, which is absent: the folder is normally unreadable.
    WriteFileBytes(kNotes + L"\\AppxManifest.xml",
                   "\xEF\xBB\xBF<Package><Applications><Application Id=\"App\" "
                   "Executable=\"Notes.exe\"/></Applications></Package>");
    WriteFileBytes(kPaint + L"\\AppxManifest.xml",
                   "<Package><Application Executable=\"App\\PaintPad\"/></Package>");
    CopyFixture(L"apps_fixture_alpha.exe", kPaint + L"\\App\\PaintPad.exe");
  }
  void TearDown() override { RemoveTestRoot(); }

  // Stands in for PowerShell: writes `lines` where the script would, and records what it saw.
  installed_apps::ScriptRunner FakePowerShell(std::string lines) {
    return [this, lines](const std::wstring& script_path) {
      script_path_ = script_path;
      script_text_ = installed_apps::ReadTextFileUtf8(script_path);
      output_path_ = GetEnv(L"ZELVORA_APPX_OUT");
      if (!lines.empty() && !output_path_.empty()) WriteFileBytes(output_path_, lines);
      return std::string("ignored stdout");
    };
  }

  std::wstring script_path_;
  std::string script_text_;
  std::wstring output_path_;
};

TEST_F(StoreScan, PowerShellLinesBecomeEntriesAndTheFilesGoAway) {
  const std::string lines =
      "\xEF\xBB\xBF" + WideToUtf8(L"Contoso.NotesStudio|" + kNotes + L"|1.2.3.0") + "\r\n" +
      WideToUtf8(L"Shell|C:\\Windows\\SystemApps\\WindowsApps\\Shell_1_neutral__x|1.0") + "\r\n" +
      WideToUtf8(L"VCLibs|" + kApps + L"Microsoft.VCLibs.140.00_14.0_x64__8we|14.0") + "\r\n" +
      WideToUtf8(L"Cortana|" + kApps + L"Microsoft.Windows.Cortana_1.0_neutral__cw|1.0") + "\r\n" +
      "no separators here\r\n";
  EntryTable table;
  installed_apps::ScanMicrosoftStorePackages(table, FakePowerShell(lines));

  ASSERT_EQ(table.size(), 1u);
  const Entry& notes = table.begin()->second;
  EXPECT_EQ(notes.exe_path, kNotes + L"\\Notes.exe");
  EXPECT_EQ(notes.version, L"1.2.3.0");

  // The script went out whole under a name of its own, and nothing of the run stays behind.
  EXPECT_EQ(script_text_, installed_apps::kStoreScanScript);
  EXPECT_EQ(::GetFileAttributesW(output_path_.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(::GetFileAttributesW(script_path_.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetEnv(L"ZELVORA_APPX_OUT"), L"");
}

// While PowerShell runs, nobody can rewrite, swap or delete the script it is about to read.
TEST_F(StoreScan, ScriptCannotBeSwappedWhilePowerShellReadsIt) {
  DWORD write_error = 0;
  DWORD delete_error = 0;
  bool readable = false;
  EntryTable table;
  installed_apps::ScanMicrosoftStorePackages(table, [&](const std::wstring& script) {
    HANDLE writer = ::CreateFileW(script.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    write_error = writer == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    delete_error = ::DeleteFileW(script.c_str()) ? 0 : ::GetLastError();
    // PowerShell opens its script for reading, sharing reading.
    HANDLE reader = ::CreateFileW(script.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    readable = reader != INVALID_HANDLE_VALUE;
    if (readable) ::CloseHandle(reader);
    return std::string();
  });
  EXPECT_EQ(write_error, DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_NE(delete_error, 0u);
  EXPECT_TRUE(readable);
}

// The environment variable that names the output file is process-wide: two requests at once
// (the user opening the list twice) must each get their own listing, which the scan mutex
// ensures.
TEST_F(StoreScan, ConcurrentScansKeepTheirOwnListings) {
  const auto runner = [](const std::wstring& folder, const char* version) {
    return [folder, version](const std::wstring&) {
      const std::wstring key = installed_apps::PackageFolderKey(folder);
      ::Sleep(150);  // PowerShell starts up; the other scan would set the variable now
      const std::wstring out = GetEnv(L"ZELVORA_APPX_OUT");
      WriteFileBytes(out, "\xEF\xBB\xBF" +
                              WideToUtf8(key.substr(0, key.find(L'_')) + L"|" + folder) + "|" +
                              version + "\r\n");
      return std::string();
    };
  };
  EntryTable notes;
  EntryTable paint;
  std::thread other(
      [&] { installed_apps::ScanMicrosoftStorePackages(notes, runner(kNotes, "1.1")); });
  installed_apps::ScanMicrosoftStorePackages(paint, runner(kPaint, "2.2"));
  other.join();
  ASSERT_EQ(notes.size() + paint.size(), 2u);
  EXPECT_EQ(notes.begin()->second.version, L"1.1");
  EXPECT_EQ(paint.begin()->second.version, L"2.2");
}

// The real scan: a "powershell.exe" in the app's folder and in the current folder is never run
// (the scan runs the one in the system folder), and Wine's, which runs no scripts, leaves
// the package repository to answer.
TEST_F(StoreScan, RealScanRunsTheSystemsPowerShellThenFallsBack) {
  RegistryKeys keys;
  keys.Write(HKEY_CURRENT_USER, 0,
             std::wstring(kRepository) + L"Contoso.PaintPad_2.0.0.0_x64__8abcdefgh1234",
             {{L"PackageRootFolder", RegValue(kPaint.c_str())}});
  const std::wstring planted_in_app_folder = FixturePath(L"powershell.exe");
  wchar_t current[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, current);
  const std::wstring planted_in_current = std::wstring(current) + L"\\powershell.exe";
  CopyFixture(L"apps_fixture_planted_powershell.exe", planted_in_app_folder);
  CopyFixture(L"apps_fixture_planted_powershell.exe", planted_in_current);
  EntryTable table;
  installed_apps::ScanMicrosoftStorePackages(table);
  ::DeleteFileW(planted_in_app_folder.c_str());
  ::DeleteFileW(planted_in_current.c_str());
  EXPECT_EQ(::GetFileAttributesW(L"C:\\CatalogueTest\\planted_powershell_ran.txt"),
            INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.begin()->second.display_name, L"Paint Pad");
}

TEST_F(StoreScan, ManifestResolution) {
  EXPECT_EQ(installed_apps::ParseAppxManifestExecutable(kNotes), kNotes + L"\\Notes.exe");
  EXPECT_EQ(installed_apps::ResolveAppxExecutable(kPaint, L"Paint Pad"),
            kPaint + L"\\App\\PaintPad.exe");
  // Outside WindowsApps a declared executable must exist; else the folder is searched.
  const std::wstring plain = kTestRoot + L"\\Plain";
  WriteFileBytes(plain + L"\\AppxManifest.xml", "<Application Executable=\"Missing.exe\"/>");
  EXPECT_EQ(installed_apps::ParseAppxManifestExecutable(plain), L"");
  CopyFixture(L"apps_fixture_alpha.exe", plain + L"\\bin\\plain.exe");
  EXPECT_EQ(installed_apps::ResolveAppxExecutable(plain, L"Plain"), plain + L"\\bin\\plain.exe");
  EXPECT_EQ(installed_apps::ResolveAppxExecutable(kTestRoot + L"\\Nothing", L"X"), L"");
}

}  // namespace
}  // namespace apps_test
