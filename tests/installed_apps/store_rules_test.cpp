#include "installed_apps/rules/store_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace installed_apps {
namespace {

constexpr wchar_t kNotesFolder[] =
    L"C:\\Program Files\\WindowsApps\\Contoso.NotesStudio_1.2.3.0_x64__8abcdefgh1234";

TEST(StorePackages, KeysAndNames) {
  EXPECT_EQ(HumanizePackageFamily(L"Contoso.NotesStudio_1.2.3.0_x64__8abcdefgh1234"),
            L"Notes Studio");
  EXPECT_EQ(HumanizePackageFamily(L"PlainName"), L"Plain Name");
  EXPECT_EQ(HumanizePackageFamily(L"Trailing._1"), L"Trailing");
  EXPECT_EQ(HumanizePackageFamily(L""), L"");
  EXPECT_EQ(PackageFolderKey(kNotesFolder), L"Contoso.NotesStudio_1.2.3.0_x64__8abcdefgh1234");

  EXPECT_TRUE(IsFrameworkAppxKey(L"Microsoft.VCLibs.140.00_14.0_x64__8wekyb3d8bbwe"));
  EXPECT_TRUE(IsFrameworkAppxKey(L"Vendor.Runtime.Framework_1.0_x64__abc"));
  EXPECT_FALSE(IsLikelyUserStorePackageKey(L"microsoft.vclibs.x_1_x64__a"));
  EXPECT_FALSE(IsLikelyUserStorePackageKey(L"Microsoft.Windows.Cortana_1_neutral__cw5n1h2txyewy"));
  EXPECT_TRUE(IsLikelyUserStorePackageKey(L"Contoso.NotesStudio_1.2.3.0_x64__8abcdefgh1234"));
  EXPECT_TRUE(IsLikelyUserStorePackageKey(L"Vendor.Microsoft.Windows.Cortana_1_x64__a"));

  EXPECT_EQ(NormalizeStoreDisplayName(L"Notes Studio Pro", kNotesFolder), L"Notes Studio Pro");
  EXPECT_EQ(NormalizeStoreDisplayName(L"ms-resource:AppDisplayName", kNotesFolder),
            L"Notes Studio");
  EXPECT_EQ(NormalizeStoreDisplayName(L"\x01", kNotesFolder), L"Notes Studio");
}

// When the manifest names the app by a resource, the scan prints the package name; such lines
// are named after the package family, as the real script prints them.
TEST(StorePackages, PackageNamesPrintedByTheScriptBecomeReadableNames) {
  const std::wstring apps = L"C:\\Program Files\\WindowsApps\\";
  const struct {
    const wchar_t* printed;
    const wchar_t* family;  // of the folder
    const wchar_t* name;
  } cases[] = {
      {L"Microsoft.WindowsCalculator", L"Microsoft.WindowsCalculator", L"Windows Calculator"},
      {L"Microsoft.Windows.Photos", L"Microsoft.Windows.Photos", L"Windows Photos"},
      {L"Microsoft.Paint", L"Microsoft.Paint", L"Paint"},
      {L"Microsoft.MSPaint", L"Microsoft.MSPaint", L"MS Paint"},
      // A real display name stays as it is.
      {L"WhatsApp", L"5319275A.WhatsAppDesktop", L"WhatsApp"},
      {L"Spotify Music", L"SpotifyAB.SpotifyMusic", L"Spotify Music"},
  };
  for (const auto& c : cases) {
    const std::wstring folder = apps + c.family + L"_1.2.3.0_x64__8wekyb3d8bbwe";
    EXPECT_EQ(AcceptedStoreDisplayName({c.printed, folder, L"1.2.3.0"}), c.name) << c.printed;
  }
}

TEST(StorePackages, ScriptOutputLines) {
  const std::string text =
      "\xEF\xBB\xBFignored\r\n"
      "Caf\xC3\xA9 Notes|C:\\Program Files\\WindowsApps\\A.Cafe_1_x64__p|1.2.0.0\r\n"
      "\r\n"
      "one|separator\r\n"
      "Bare|C:\\x|\n"
      "Pipes|C:\\y|1.0|extra";
  const auto lines = ParseStoreScanOutput(text);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].name, L"Caf\u00E9 Notes");
  EXPECT_EQ(lines[0].location, L"C:\\Program Files\\WindowsApps\\A.Cafe_1_x64__p");
  EXPECT_EQ(lines[0].version, L"1.2.0.0");
  EXPECT_EQ(lines[1].version, L"");
  EXPECT_EQ(lines[2].version, L"1.0|extra");
  EXPECT_TRUE(ParseStoreScanOutput("").empty());
}

TEST(StorePackages, WhichLinesBecomeEntries) {
  StoreScanLine line{L"ms-resource:Name", kNotesFolder, L"1.2.3.0"};
  EXPECT_EQ(AcceptedStoreDisplayName(line), L"Notes Studio");
  line.location = L"C:\\Windows\\SystemApps\\WindowsApps\\Shell_1_neutral__x";
  EXPECT_EQ(AcceptedStoreDisplayName(line), L"");
  line.location = L"C:\\Program Files\\Contoso\\Notes";  // not a Store folder
  EXPECT_EQ(AcceptedStoreDisplayName(line), L"");
  line.location = L"C:\\Program Files\\WindowsApps\\Microsoft.VCLibs.140.00_14_x64__8we";
  EXPECT_EQ(AcceptedStoreDisplayName(line), L"");
  line.location = L"C:\\Program Files\\WindowsApps\\Microsoft.Windows.Cortana_1_neutral__cw";
  EXPECT_EQ(AcceptedStoreDisplayName(line), L"");
  line.location.clear();
  EXPECT_EQ(AcceptedStoreDisplayName(line), L"");
}

TEST(StorePackages, ManifestExecutables) {
  const std::string manifest =
      "<Package><Applications>"
      "<Application Id=\"A\" Executable=\"\" />"
      "<Application Id=\"B\" Executable=\"App\\Main\" />"
      "<Application Id=\"C\" Executable=\"Notes.exe\" EntryPoint=\"x\"/>"
      "<Extension Executable=\"..\\..\\Windows\\System32\\cmd.exe\" />"
      "<Extension Executable=\"C:\\Windows\\notepad.exe\" />"
      "<Extension Executable=\"\\abs.exe\" />"
      "<Extension Executable=\"VFS\\ProgramFilesX64\\Tool\\tool.EXE\" />"
      "</Applications></Package><Broken Executable=\"never closed";
  EXPECT_EQ(ManifestExecutableValues(manifest),
            (std::vector<std::wstring>{L"App\\Main.exe", L"Notes.exe",
                                       L"VFS\\ProgramFilesX64\\Tool\\tool.EXE"}));
  EXPECT_TRUE(ManifestExecutableValues("").empty());
}

TEST(StorePackages, ScriptIsCrLfThroughout) {
  const std::string script = kStoreScanScript;
  ASSERT_FALSE(script.empty());
  for (size_t i = 0; i < script.size(); ++i) {
    if (script[i] == '\n') ASSERT_TRUE(i > 0 && script[i - 1] == '\r') << "at " << i;
  }
}

}  // namespace
}  // namespace installed_apps
