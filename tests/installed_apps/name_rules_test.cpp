#include "installed_apps/name_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "installed_apps/icon_pixels.h"
#include "installed_apps/path_text.h"
#include "installed_apps/uninstall_rules.h"

namespace installed_apps {
namespace {

std::wstring Units(std::initializer_list<unsigned> units) {
  std::wstring out;
  for (unsigned u : units) out.push_back(static_cast<wchar_t>(u));
  return out;
}

TEST(ExeScore, KnownProgramsAndNameWordsWinOverHelpers) {
  EXPECT_EQ(ScoreExeCandidate(L"C:\\Mozilla Firefox\\firefox.exe", L"Mozilla Firefox"), 160);
  EXPECT_EQ(ScoreExeCandidate(L"C:\\Mozilla Firefox\\crashreporter.exe", L"Mozilla Firefox"), -50);
  // Words shorter than four units and case do not matter; "helper" and "service" cost.
  EXPECT_EQ(ScoreExeCandidate(L"C:\\X\\NotesPro.exe", L"The Notes Pro"), 40);
  EXPECT_EQ(ScoreExeCandidate(L"C:\\X\\notes_service_helper.exe", L"Notes"), 40 - 50 - 35);
  EXPECT_EQ(ScoreExeCandidate(L"C:\\X\\notes.exe", L"Ab"), 0);
  EXPECT_EQ(ScoreExeCandidate(L"C:\\X\\unins000.exe", L"Notes"), -1000);
  EXPECT_EQ(ScoreExeCandidate(L"", L"Notes"), -1000);
}

TEST(PathRules, UninstallersAndFolders) {
  EXPECT_TRUE(IsUninstallerExe(L""));
  EXPECT_TRUE(IsUninstallerExe(L"C:\\A\\Unins001.exe"));
  EXPECT_TRUE(IsUninstallerExe(L"C:\\A\\Setup.exe"));
  EXPECT_TRUE(IsUninstallerExe(L"C:\\A\\AutoUpdater.exe"));
  EXPECT_FALSE(IsUninstallerExe(L"C:\\Setup\\app.exe"));
  EXPECT_TRUE(IsWindowsAppsPath(L"C:\\Program Files\\WINDOWSAPPS\\Pkg\\a.exe"));
  EXPECT_FALSE(IsWindowsAppsPath(L"C:\\WindowsAppsX\\a.exe"));
  EXPECT_TRUE(IsSystemAppxPath(L"C:\\Windows\\SystemApps\\Shell\\a.exe"));
  EXPECT_EQ(Basename(L"C:/a\\b/c.exe"), L"c.exe");
  EXPECT_EQ(Basename(L"c.exe"), L"c.exe");
  // Only ASCII letters fold: the result must not depend on the user's locale.
  EXPECT_EQ(ToLower(L"\u00C9A"), L"\u00C9a");
}

TEST(DisplayNames, QualityPenalisesGarbageAndReferences) {
  EXPECT_EQ(DisplayNameQuality(L"Notes"), 5);
  EXPECT_EQ(DisplayNameQuality(std::wstring(60, L'a')), 48);
  EXPECT_EQ(DisplayNameQuality(L""), -1000);
  EXPECT_EQ(DisplayNameQuality(L"Bad\tName"), -1000);
  EXPECT_EQ(DisplayNameQuality(L"Notes" + Units({0xFFFD})), 6 - 100);
  EXPECT_EQ(DisplayNameQuality(L"@shell32.dll,-100"), 17 - 200);
  EXPECT_EQ(DisplayNameQuality(std::wstring(97, L'a')), 48 - 120);
  EXPECT_EQ(DisplayNameQuality(L"ms-resource:" + std::wstring(90, L'a')), 48 - 320);
  EXPECT_TRUE(LooksLikeResourceReference(L"MS-RESOURCE:AppName"));
  EXPECT_TRUE(LooksLikeResourceReference(L"@{Pkg?ms-res}"));
  EXPECT_FALSE(LooksLikeResourceReference(std::wstring(96, L'a') + L"@"));
}

TEST(DisplayNames, SanitizeCleansOrFallsBack) {
  // Real registry leftovers: a control character ends the name, replacement characters go.
  EXPECT_EQ(SanitizeDisplayName(L"Tool  \x01garbage", L"Fb"), L"Tool");
  EXPECT_EQ(SanitizeDisplayName(L"To" + Units({0xFFFD}) + L"ol ", L"Fb"), L"Tool");
  // A lone surrogate or a pair stops the name there.
  EXPECT_EQ(SanitizeDisplayName(L"Game " + Units({0xD83C, 0xDFAE}) + L" Pro", L"Fb"), L"Game");
  EXPECT_EQ(SanitizeDisplayName(Units({0xDC00}) + L"Name",
                                L"Fall\x02"
                                L"back"),
            L"Fall");
  // Resource references and empty names fall back.
  EXPECT_EQ(SanitizeDisplayName(L"ms-resource:AppName", L"Notes"), L"Notes");
  EXPECT_EQ(SanitizeDisplayName(L"@%SystemRoot%\\x.dll,-5", L"Notes"), L"Notes");
  EXPECT_EQ(SanitizeDisplayName(L"", L""), L"");
  // Bytes behind ".exe" are cut when they look like leftovers, short clean tails stay.
  EXPECT_EQ(SanitizeDisplayName(L"tool.exe" + Units({0xE000}), L""), L"tool.exe");
  EXPECT_EQ(SanitizeDisplayName(L"tool.exe extra", L""), L"tool.exe");
  EXPECT_EQ(TrimAfterSuspiciousExeSuffix(L"tool.exe ab"), L"tool.exe ab");
  EXPECT_EQ(TrimAfterSuspiciousExeSuffix(L"tool.EXE"), L"tool.EXE");
  // A name of 97 units or more rates as garbage (descriptions pasted into the name): the
  // fallback takes over, and whatever comes out is at most 96 units.
  EXPECT_EQ(SanitizeDisplayName(std::wstring(96, L'n'), L"Fb"), std::wstring(96, L'n'));
  EXPECT_EQ(SanitizeDisplayName(std::wstring(120, L'n'), L"Fb"), L"Fb");
  EXPECT_EQ(SanitizeDisplayName(std::wstring(120, L'n'), std::wstring(120, L'f')),
            std::wstring(96, L'f'));
}

TEST(DisplayNames, TitleCaseOfExecutableNames) {
  EXPECT_EQ(TitleCaseExeName(L"discord.exe"), L"Discord");
  EXPECT_EQ(TitleCaseExeName(L"Tool.EXE"), L"Tool");
  EXPECT_EQ(TitleCaseExeName(L".exe"), L".exe");
  EXPECT_EQ(TitleCaseExeName(L"7zfm.exe"), L"7zfm");
  EXPECT_EQ(TitleCaseExeName(L""), L"");
}

TEST(Filters, SelfAndJunk) {
  EXPECT_TRUE(IsZelvoraEntry(L"ZelVora VPN", L"C:\\a.exe"));
  EXPECT_TRUE(IsZelvoraEntry(L"VPN", L"C:\\Apps\\Zel_Vora\\zel_vora.exe"));
  EXPECT_FALSE(IsZelvoraEntry(L"Notes", L"C:\\Notes\\notes.exe"));

  EXPECT_TRUE(IsJunkInstalledApp(L"Notes", L"C:\\Notes\\notes.dll"));
  EXPECT_TRUE(IsJunkInstalledApp(L"Notes", L""));
  EXPECT_TRUE(IsJunkInstalledApp(L"setup.msi", L"C:\\a.exe"));
  EXPECT_TRUE(IsJunkInstalledApp(L"Editor", L"C:\\E\\editor_ContextMenu.exe"));
  EXPECT_TRUE(IsJunkInstalledApp(L"Chrome", L"C:\\C\\crashpad_handler.exe"));
  EXPECT_TRUE(IsJunkInstalledApp(L"Windows Software Development Kit - 10", L"C:\\s.exe"));
  EXPECT_TRUE(IsJunkInstalledApp(L"winget", L"C:\\w.exe"));
  EXPECT_TRUE(IsJunkInstalledApp(L"com.example.tool", L"C:\\t.exe"));
  EXPECT_TRUE(IsJunkInstalledApp(L"Vendor.App_1-2", L"C:\\t.exe"));
  EXPECT_FALSE(IsJunkInstalledApp(L"Example Tool 2.0", L"C:\\t.exe"));
  EXPECT_FALSE(IsJunkInstalledApp(L".hidden", L"C:\\t.exe"));
  EXPECT_FALSE(IsJunkInstalledApp(L"Notepad++", L"C:\\n\\notepad++.exe"));
  EXPECT_FALSE(IsJunkInstalledApp(L"caf\u00E9.app", L"C:\\t.exe"));
}

TEST(UninstallRecords, SkipRules) {
  UninstallRecord base;
  base.display_name = L"Notes";
  base.install_location = L"C:\\Notes";
  EXPECT_FALSE(ShouldSkipUninstallRecord(base));

  auto with = [&](auto change) {
    UninstallRecord r = base;
    change(r);
    return ShouldSkipUninstallRecord(r);
  };
  EXPECT_TRUE(with([](UninstallRecord& r) { r.display_name.clear(); }));
  EXPECT_TRUE(with([](UninstallRecord& r) { r.system_component = 1; }));
  EXPECT_TRUE(with([](UninstallRecord& r) { r.parent_display_name = L"Office"; }));
  EXPECT_TRUE(with([](UninstallRecord& r) { r.release_type = L"Hotfix"; }));
  EXPECT_TRUE(with([](UninstallRecord& r) { r.release_type = L"Security Update"; }));
  EXPECT_TRUE(with([](UninstallRecord& r) { r.display_name = L"Security Update for X"; }));
  EXPECT_TRUE(with([](UninstallRecord& r) { r.display_name = L"Update for X (KB1)"; }));
  EXPECT_FALSE(with([](UninstallRecord& r) { r.display_name = L"Updater Pro"; }));
  // Nothing to find the program by, unless the entry forbids modify or repair.
  EXPECT_TRUE(with([](UninstallRecord& r) { r.install_location.clear(); }));
  EXPECT_FALSE(with([](UninstallRecord& r) {
    r.install_location.clear();
    r.no_repair = 1;
  }));

  EXPECT_EQ(StripIconIndexAndQuotes(L"\"C:\\P F\\app.exe\",0"), L"C:\\P F\\app.exe");
  EXPECT_EQ(StripIconIndexAndQuotes(L"C:\\app.exe"), L"C:\\app.exe");
  EXPECT_EQ(StripIconIndexAndQuotes(L"\""), L"\"");
  EXPECT_EQ(StripIconIndexAndQuotes(L","), L"");
  EXPECT_FALSE(ShouldEnterInstallSubfolder(L"$PatchCache$"));
  EXPECT_FALSE(ShouldEnterInstallSubfolder(L".."));
  EXPECT_TRUE(ShouldEnterInstallSubfolder(L"bin"));
}

TEST(IconAlpha, RepairsOnlyIconsWithoutAlpha) {
  // No alpha at all: near-black becomes transparent, everything else opaque.
  std::vector<uint8_t> flat = {7, 7, 7, 0, 200, 10, 10, 0, 0, 0, 8, 0};
  RepairIconAlpha(flat);
  EXPECT_EQ(flat, (std::vector<uint8_t>{0, 0, 0, 0, 200, 10, 10, 255, 0, 0, 8, 255}));
  // Real transparency, partial or binary, is kept as is.
  std::vector<uint8_t> partial = {1, 1, 1, 128, 200, 10, 10, 255};
  std::vector<uint8_t> binary = {1, 1, 1, 0, 200, 10, 10, 255};
  const auto partial_before = partial, binary_before = binary;
  RepairIconAlpha(partial);
  RepairIconAlpha(binary);
  EXPECT_EQ(partial, partial_before);
  EXPECT_EQ(binary, binary_before);
  std::vector<uint8_t> empty;
  RepairIconAlpha(empty);
  EXPECT_TRUE(IconSizeAcceptable(512, 1));
  EXPECT_FALSE(IconSizeAcceptable(513, 32));
  EXPECT_FALSE(IconSizeAcceptable(32, 0));
}

}  // namespace
}  // namespace installed_apps
