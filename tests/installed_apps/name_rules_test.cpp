#include "installed_apps/rules/name_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installed_apps/file_facts/icon_pixels.h"
#include "installed_apps/rules/path_text.h"
#include "installed_apps/rules/uninstall_rules.h"

namespace installed_apps {
namespace {

std::wstring Units(std::initializer_list<unsigned> units) {
  std::wstring out;
  for (unsigned u : units) out.push_back(static_cast<wchar_t>(u));
  return out;
}

// Which file of a folder is the program: for each name, candidates from best to worst.
TEST(ExeScore, RanksTheMainProgramAboveHelpersAndUninstallers) {
  const struct {
    const wchar_t* name;
    std::vector<const wchar_t*> best_first;
  } cases[] = {
      {L"Mozilla Firefox",
       {L"C:\\F\\firefox.exe", L"C:\\F\\pingsender.exe", L"C:\\F\\crashreporter.exe",
        L"C:\\F\\unins000.exe"}},
      // Words of four units or more count, in any case; "helper" and "service" cost.
      {L"The Notes Pro",
       {L"C:\\X\\NotesPro.exe", L"C:\\X\\viewer.exe", L"C:\\X\\notes_service_helper.exe",
        L"C:\\X\\Setup.exe"}},
  };
  for (const auto& c : cases) {
    for (size_t i = 1; i < c.best_first.size(); ++i) {
      EXPECT_GT(ScoreExeCandidate(c.best_first[i - 1], c.name),
                ScoreExeCandidate(c.best_first[i], c.name))
          << c.best_first[i - 1] << " over " << c.best_first[i];
    }
  }
  // Short words say nothing; a missing path is never a candidate.
  EXPECT_EQ(ScoreExeCandidate(L"C:\\X\\notes.exe", L"Ab"),
            ScoreExeCandidate(L"C:\\X\\x.exe", L"Ab"));
  EXPECT_LT(ScoreExeCandidate(L"", L"Notes"),
            ScoreExeCandidate(L"C:\\X\\notes_crash_helper.exe", L"Notes"));
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

// Clean names rate at zero or above, longer ones (up to 48 units) higher; garbage below zero.
TEST(DisplayNames, QualityRatesCleanNamesAboveGarbage) {
  EXPECT_LT(DisplayNameQuality(L"Notes"), DisplayNameQuality(L"Notes Studio"));
  EXPECT_EQ(DisplayNameQuality(std::wstring(48, L'a')), DisplayNameQuality(std::wstring(96, L'a')));
  EXPECT_GE(DisplayNameQuality(L"N"), 0);
  for (const std::wstring& garbage :
       {std::wstring(), std::wstring(L"Bad\tName"), L"Notes" + Units({0xFFFD}),
        std::wstring(L"@shell32.dll,-100"), std::wstring(97, L'a'),
        L"ms-resource:" + std::wstring(90, L'a')}) {
    EXPECT_LT(DisplayNameQuality(garbage), 0) << garbage.size();
  }
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
  EXPECT_EQ(SanitizeDisplayName(Units({0xDC00}) + L"Name", std::wstring(L"Fall\x02") + L"b"),
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
  // Dotted names without blanks: real programs keep a word and a web-like ending; identifiers
  // (reverse-domain names, package names with versions or compound words) go.
  const struct {
    const wchar_t* name;
    const wchar_t* path;
    bool junk;
  } cases[] = {
      {L"Notes", L"C:\\Notes\\notes.dll", true},
      {L"Notes", L"", true},
      {L"setup.msi", L"C:\\a.exe", true},
      {L"Editor", L"C:\\E\\editor_ContextMenu.exe", true},
      {L"Chrome", L"C:\\C\\crashpad_handler.exe", true},
      {L"Windows Software Development Kit - 10", L"C:\\s.exe", true},
      {L"winget", L"C:\\w.exe", true},
      {L"Example Tool 2.0", L"C:\\t.exe", false},
      {L".hidden", L"C:\\t.exe", false},
      {L"Notepad++", L"C:\\n\\notepad++.exe", false},
      {L"caf\u00E9.app", L"C:\\t.exe", false},
      {L"Battle.net", L"C:\\Apps\\app.exe", false},
      {L"Paint.NET", L"C:\\Apps\\app.exe", false},
      {L"Node.js", L"C:\\Apps\\app.exe", false},
      {L"com.example.tool", L"C:\\Apps\\app.exe", true},
      {L"net.sourceforge.app", L"C:\\Apps\\app.exe", true},
      {L"Microsoft.WindowsCalculator", L"C:\\Apps\\app.exe", true},
      {L"Vendor.App_1-2", L"C:\\Apps\\app.exe", true},
      {L"Contoso.Notes.net", L"C:\\Apps\\app.exe", true},
      {L"Tool2.js", L"C:\\Apps\\app.exe", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsJunkInstalledApp(c.name, c.path), c.junk) << c.name;
}

// What ships beside a program without being it, as real installs name them (more of them are
// on the realistic machine).
TEST(PathRules, AuxiliaryExecutables) {
  const struct {
    const wchar_t* path;
    bool auxiliary;
  } cases[] = {
      {L"C:\\Users\\J\\AppData\\Local\\Package Cache\\{1b2c}\\python-3.12.1-amd64.exe", true},
      {L"C:\\ProgramData\\Package Cache\\{57a7}\\VC_redist.x64.exe", true},
      {L"C:\\Windows\\Installer\\{90160000-0011}\\_853F67D554F05449430E7E.exe", true},
      {L"C:\\Program Files\\Realtek\\Audio\\HDA\\RtkAudUService64.exe", true},
      {L"C:\\Program Files\\Google\\Chrome\\Application\\elevation_service.exe", true},
      {L"C:\\Program Files\\NVIDIA\\nvcontainer\\NvTelemetrySvc.exe", true},
      {L"C:\\Users\\J\u00F6rg\\AppData\\Local\\Programs\\Python\\Python312\\python.exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsAuxiliaryExe(c.path), c.auxiliary) << c.path;
}

TEST(UninstallRecords, SharedRootsAreNeverWalked) {
  const std::vector<std::wstring> roots = {L"C:\\Program Files", L"C:\\Program Files (x86)",
                                           L"C:\\Windows", L"C:\\Users\\J\u00F6rg M\u00FCller"};
  const struct {
    const wchar_t* folder;
    bool shared;
  } cases[] = {
      {L"C:\\Program Files (x86)\\", true},
      {L"c:/program files", true},
      {L"C:\\", true},
      {L"D:", true},
      {L"  C:\\Windows\\ ", true},
      {L"C:\\USERS\\J\u00F6rg M\u00FCller\\", true},
      {L"C:\\Program Files\\Steam", false},
      {L"C:\\Program Files (x86)\\Steam\\", false},
      {L"C:\\Users\\J\u00F6rg M\u00FCller\\AppData\\Local\\Discord", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSharedInstallRoot(c.folder, roots), c.shared) << c.folder;
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
  // Real transparency, even only binary, is kept as is (partial: the realistic machine's icon).
  std::vector<uint8_t> binary = {1, 1, 1, 0, 200, 10, 10, 255};
  const auto binary_before = binary;
  RepairIconAlpha(binary);
  EXPECT_EQ(binary, binary_before);
  std::vector<uint8_t> empty;
  RepairIconAlpha(empty);
  EXPECT_TRUE(IconSizeAcceptable(512, 1));
  EXPECT_FALSE(IconSizeAcceptable(513, 32));
  EXPECT_FALSE(IconSizeAcceptable(32, 0));
}

}  // namespace
}  // namespace installed_apps
