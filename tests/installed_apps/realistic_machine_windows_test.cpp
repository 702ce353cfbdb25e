// "getInstalledApps" on a machine that looks like a user's: programs under Program Files and
// in a profile with non-ASCII letters and blanks, Uninstall entries as the real installers
// write them (suites whose DisplayIcon is their installer, per-user installs with REG_EXPAND_SZ
// paths, a broken InstallLocation, a name with dots), and Store packages
// listed by a stand-in that writes the listing the real script prints on such a machine
// (fixtures/appx_scan_output.txt: package names where manifests use resources, BOM, CR LF).
#include <gtest/gtest.h>

#include <filesystem>

#include "common/text_encoding.h"
#include "installed_apps/catalogue_workers.h"
#include "installed_apps/file_facts/icon_png.h"
#include "installed_apps/rules/path_text.h"
#include "windows_test_support.h"

namespace apps_test {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

const std::wstring W = L"C:\\Catalogue W\u00F6rld";
const std::wstring PF = W + L"\\Program Files";
const std::wstring PF86 = W + L"\\Program Files (x86)";
const std::wstring PD = W + L"\\ProgramData";
const std::wstring HOME = W + L"\\Users\\J\u00F6rg M\u00FCller";
const std::wstring LAD = HOME + L"\\AppData\\Local";
const std::wstring RAD = HOME + L"\\AppData\\Roaming";
const std::wstring APPS = PF + L"\\WindowsApps\\";

// The folders this machine keeps its programs in, as its environment names them.
const std::pair<const wchar_t*, std::wstring> kFolders[] = {
    {L"ProgramFiles", PF},        {L"ProgramW6432", PF},
    {L"ProgramFiles(x86)", PF86}, {L"CommonProgramFiles", PF + L"\\Common Files"},
    {L"ProgramData", PD},         {L"USERPROFILE", HOME},
    {L"LOCALAPPDATA", LAD},       {L"APPDATA", RAD},
};

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

void Program(const std::wstring& path) { CopyFixture(L"apps_fixture_alpha.exe", path); }

void Package(const std::wstring& folder, const char* executable) {
  WriteFileBytes(
      APPS + folder + L"\\AppxManifest.xml",
      std::string("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                  "<Package xmlns=\"http://schemas.microsoft.com/appx/manifest/foundation/"
                  "windows10\">\r\n  <Properties>\r\n    <DisplayName>ms-resource:AppName"
                  "</DisplayName>\r\n  </Properties>\r\n  <Applications>\r\n    "
                  "<Application Id=\"App\" Executable=\"") +
          executable +
          "\" EntryPoint=\"Windows.FullTrustApplication\"/>\r\n  </Applications>\r\n"
          "</Package>\r\n");
}

class RealisticMachine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(W, ignored);
    for (const auto& [name, value] : kFolders) {
      wchar_t old[MAX_PATH + 1] = {};
      const DWORD length = ::GetEnvironmentVariableW(name, old, MAX_PATH + 1);
      saved_env_->emplace_back(name, length ? std::wstring(old, length) : std::wstring());
      ::SetEnvironmentVariableW(name, value.c_str());
    }
    BuildWorld();
    installed_apps::CatalogueHooks hooks;
    hooks.session_user_sid = [] { return std::wstring(); };
    // The shell gives every executable an icon; this one stands for a file it cannot render.
    hooks.extract_icon = [](const std::wstring& path) {
      if (installed_apps::Contains(path, L"\\Iconless\\")) return std::vector<uint8_t>();
      return installed_apps::ExtractFileIconPng(path);
    };
    hooks.run_store_script = [](const std::wstring&) {
      wchar_t out[MAX_PATH] = {};
      ::GetEnvironmentVariableW(L"ZELVORA_APPX_OUT", out, MAX_PATH);
      WriteFileBytes(out, ReplaceAll(ReadFileBytes(APPS_FIXTURES_DIR "/appx_scan_output.txt"),
                                     "C:\\Program Files\\", WideToUtf8(PF) + "\\"));
      return std::string();
    };
    *answer_ = CallWorker([&](installed_apps::AppsMethodResult result) {
      installed_apps::StartGetInstalledAppsWorker(std::move(result), hooks);
    });
  }

  static void TearDownTestSuite() {
    keys_->DeleteAll();
    for (const auto& [name, value] : *saved_env_) {
      ::SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(W, ignored);
  }

  static void BuildWorld() {
    const HKEY lm = HKEY_LOCAL_MACHINE;
    const HKEY cu = HKEY_CURRENT_USER;
    const REGSAM v64 = KEY_WOW64_64KEY;
    const REGSAM v32 = KEY_WOW64_32KEY;
    const std::wstring ctr = PF + L"\\Common Files\\Microsoft Shared\\ClickToRun";
    const std::wstring vs = PF86 + L"\\Microsoft Visual Studio\\Installer";
    const std::wstring onedrive = LAD + L"\\Microsoft\\OneDrive";
    const std::wstring code = LAD + L"\\Programs\\Microsoft VS Code";
    // Programs as installers lay them out, and Uninstall entries as they write them.
    // clang-format off
    const struct {
      std::wstring folder;
      std::vector<const wchar_t*> programs;  // below `folder`
      HKEY hive;
      REGSAM view;
      const wchar_t* key;  // below the Uninstall key, or nullptr: no entry of its own
      RegValues values;
    } installs[] = {
        // Entries of the tests' own: an icon with alpha and an install date, an icon without
        // alpha (flattool.exe is copied below), an icon file beside the program, an icon the
        // shell cannot render, and a component hidden from Programs and Features.
        {W + L"\\Icon Ver", {L"iconver.exe"}, lm, v64, L"CatalogueTest.IconVer",
         {{L"DisplayName", L"Icon Version App"},
         {L"DisplayIcon", L"\"" + W + L"\\Icon Ver\\iconver.exe\",0"}, {L"InstallDate", 20240102u}}},
        {W + L"\\Flat", {L"flattool_crashreporter.exe", L"unins000.exe"}, lm, v32,
         L"CatalogueTest.Flat",
         {{L"DisplayName", L"Flat Tool (32-bit)"}, {L"InstallLocation", W + L"\\Flat"}}},
        {W + L"\\IcoNamed", {L"iconamed.exe"}, cu, 0, L"CatalogueTest.IcoNamed",
         {{L"DisplayName", L"Ico Named App"}, {L"DisplayIcon", W + L"\\IcoNamed\\iconamed.ico"}}},
        {W + L"\\Iconless", {L"iconless.exe"}, cu, 0, L"CatalogueTest.Iconless",
         {{L"DisplayName", L"Iconless Thing"}, {L"DisplayIcon", W + L"\\Iconless\\iconless.exe"}}},
        {W + L"\\Hidden", {L"hidden.exe"}, lm, v64, L"CatalogueTest.Hidden",
         {{L"DisplayName", L"Hidden Component"}, {L"SystemComponent", 1u},
         {L"DisplayIcon", W + L"\\Hidden\\hidden.exe"}}},
        // Firefox: its folder also holds the crash reporter, the updater and a helper.
        {PF + L"\\Mozilla Firefox", {L"firefox.exe", L"crashreporter.exe", L"updater.exe",
         L"default-browser-agent.exe", L"uninstall\\helper.exe"}, lm, v64,
         L"Mozilla Firefox 121.0 (x64 en-US)", {{L"DisplayName", L"Mozilla Firefox (x64 en-US)"},
         {L"DisplayVersion", L"121.0"}, {L"DisplayIcon", PF + L"\\Mozilla Firefox\\firefox.exe,0"},
         {L"InstallLocation", PF + L"\\Mozilla Firefox"}, {L"NoModify", 1u}, {L"NoRepair", 1u}}},
        // Microsoft 365: the DisplayIcon is the Click-to-Run service; the programs live below
        // the install folder, where the App-V launcher and integration tool list first.
        {ctr, {L"OfficeClickToRun.exe", L"OfficeC2RClient.exe"}, lm, 0, nullptr, {}},
        {PF + L"\\Microsoft Office\\root", {L"Office16\\WINWORD.EXE", L"Client\\AppVLP.exe",
         L"Integration\\Integrator.exe"}, lm, v64, L"O365HomePremRetail - en-us",
         {{L"DisplayName", L"Microsoft 365 - en-us"}, {L"DisplayVersion", L"16.0.17029.20068"},
         {L"DisplayIcon", ctr + L"\\OfficeClickToRun.exe"},
         {L"InstallLocation", PF + L"\\Microsoft Office"}}},
        // 32-bit programs: Steam, and a game whose InstallLocation is the whole Program Files
        // (x86) folder.
        {PF86 + L"\\Steam", {L"steam.exe", L"bin\\steamservice.exe"}, lm, v32, L"Steam",
         {{L"DisplayName", L"Steam"}, {L"DisplayVersion", L"2.10.91.91"},
         {L"DisplayIcon", PF86 + L"\\Steam\\steam.exe"}}},
        {PF86, {}, lm, v32, L"Broken Game_is1", {{L"DisplayName", L"Broken Game"},
         {L"DisplayVersion", L"0.9"}, {L"InstallLocation", PF86 + L"\\"}}},
        // The walk bounds: a program three levels down is not found, one two levels down is;
        // a folder with 64 tools (added below) ends the walk before its subfolders.
        {PF86 + L"\\Deep Vendor", {L"a\\b\\c\\deeptool.exe"}, lm, v32, L"Deep Tool",
         {{L"DisplayName", L"Deep Tool"}, {L"InstallLocation", PF86 + L"\\Deep Vendor"}}},
        {PF86 + L"\\Level Vendor", {L"a\\b\\leveltool.exe"}, lm, v32, L"Level Tool",
         {{L"DisplayName", L"Level Tool"}, {L"InstallLocation", PF86 + L"\\Level Vendor"}}},
        {PF86 + L"\\Toolbox", {L"app\\toolboxstudio.exe"}, lm, v32, L"Toolbox Studio",
         {{L"DisplayName", L"Toolbox Studio"}, {L"InstallLocation", PF86 + L"\\Toolbox"}}},
        // An installer the user runs as a program: its entry names it, and beside it lie the
        // bootstrapper its icon points at and a command-line locator.
        {vs, {L"setup.exe", L"vs_installer.exe", L"vs_installershell.exe", L"vswhere.exe"}, lm,
         v32, L"{6F320B93-EE3C-4826-85E0-ADF79F8D4C61}",
         {{L"DisplayName", L"Microsoft Visual Studio Installer"},
         {L"DisplayVersion", L"3.8.2112.61926"}, {L"DisplayIcon", vs + L"\\setup.exe"},
         {L"InstallLocation", vs}}},
        // Per-user installs.
        {onedrive, {L"OneDrive.exe", L"OneDriveStandaloneUpdater.exe",
         L"24.201.1006.0005\\OneDriveSetup.exe", L"24.201.1006.0005\\FileSyncHelper.exe"}, cu, 0,
         L"OneDriveSetup.exe", {{L"DisplayName", L"Microsoft OneDrive"},
         {L"DisplayVersion", L"24.201.1006.0005"},
         {L"DisplayIcon", onedrive + L"\\24.201.1006.0005\\OneDriveSetup.exe,-101"},
         {L"NoRepair", 1u}}},
        {LAD + L"\\Discord", {L"Update.exe", L"app-1.0.9163\\Discord.exe"}, cu, 0, L"Discord",
         {{L"DisplayName", L"Discord"}, {L"DisplayVersion", L"1.0.9163"},
         {L"DisplayIcon", LAD + L"\\Discord\\app.ico"}, {L"InstallLocation", LAD + L"\\Discord"}}},
        // Installed per user and from the Store: the Store copy wins the merge.
        {RAD + L"\\Spotify", {L"Spotify.exe"}, cu, 0, L"Spotify", {{L"DisplayName", L"Spotify"},
         {L"DisplayVersion", L"1.2.26.1187.g36b715a1"},
         {L"DisplayIcon", RAD + L"\\Spotify\\Spotify.exe"},
         {L"InstallLocation", RAD + L"\\Spotify"}}},
        {RAD + L"\\Zoom\\bin", {L"Zoom.exe", L"CptHost.exe"}, cu, 0, L"ZoomUMX",
         {{L"DisplayName", L"Zoom"}, {L"DisplayVersion", L"5.16.10 (26186)"},
         {L"DisplayIcon", RegValue::Expandable(L"%APPDATA%\\Zoom\\bin\\Zoom.exe")},
         {L"InstallLocation", RegValue::Expandable(L"%APPDATA%\\Zoom")}}},
        {code, {L"Code.exe", L"bin\\code-tunnel.exe", L"unins000.exe"}, cu, 0,
         L"{771FD6B0-FA20-440A-A002-3B3BAC16DC50}_is1",
         {{L"DisplayName", L"Microsoft Visual Studio Code (User)"}, {L"DisplayVersion", L"1.85.1"},
         {L"DisplayIcon", code + L"\\Code.exe"}, {L"InstallLocation", code + L"\\"},
         {L"InstallDate", L"20231214"}}},
    };
    // clang-format on
    for (const auto& install : installs) {
      for (const wchar_t* program : install.programs) Program(install.folder + L"\\" + program);
      if (install.key) {
        keys_->Write(install.hive, install.view, std::wstring(kUninstall) + install.key,
                     install.values);
      }
    }
    CopyFixture(L"apps_fixture_flat.exe", W + L"\\Flat\\flattool.exe");
    for (int i = 0; i < 64; ++i)
      Program(PF86 + L"\\Toolbox\\tool" + std::to_wstring(100 + i) + L".exe");
    // Store packages (the listing names them); their folders are unreadable on Windows, so
    // only the manifests exist here.
    Package(L"Microsoft.WindowsCalculator_11.2307.4.0_x64__8wekyb3d8bbwe", "CalculatorApp.exe");
    Package(L"Microsoft.Windows.Photos_2023.11050.16005.0_x64__8wekyb3d8bbwe",
            "Microsoft.Photos.exe");
    Package(L"Microsoft.MicrosoftStickyNotes_4.6.2.0_x64__8wekyb3d8bbwe", "Microsoft.Notes.exe");
    Package(L"5319275A.WhatsAppDesktop_2.2348.3.0_x64__cv1g1gvanyjgm", "WhatsApp.exe");
    Package(L"SpotifyAB.SpotifyMusic_1.225.1020.0_x86__zpdnekdrzrea0", "Spotify.exe");
    Package(L"Microsoft.Windows.Cortana_1.0.0.0_neutral__cw5n1h2txyewy", "Cortana.exe");
  }

  // "name | path below W | version" of our apps, in the order of the answer.
  static std::vector<std::string> Listed() {
    std::vector<std::string> apps;
    const auto* list = std::get_if<EncodableList>(&answer_->value);
    if (!list) return apps;
    for (const EncodableValue& item : *list) {
      const auto& map = std::get<EncodableMap>(item);
      const std::wstring path = Utf8ToWide(StringMember(map, "packageName"));
      if (!installed_apps::StartsWith(path, W + L"\\")) continue;
      apps.push_back(StringMember(map, "name") + " | " + WideToUtf8(path.substr(W.size())) + " | " +
                     StringMember(map, "versionName"));
    }
    return apps;
  }

  static const EncodableMap* App(const std::wstring& below_w) {
    const auto* list = std::get_if<EncodableList>(&answer_->value);
    if (!list) return nullptr;
    for (const EncodableValue& item : *list) {
      const auto& map = std::get<EncodableMap>(item);
      if (Utf8ToWide(StringMember(map, "packageName")) == W + below_w) return &map;
    }
    return nullptr;
  }

  static inline RegistryKeys* keys_ = new RegistryKeys();
  static inline WorkerAnswer* answer_ = new WorkerAnswer();
  static inline std::vector<std::pair<std::wstring, std::wstring>>* saved_env_ =
      new std::vector<std::pair<std::wstring, std::wstring>>();
};

TEST_F(RealisticMachine, ListsTheRightProgramsUnderTheirOwnNamesInScanOrder) {
  ASSERT_EQ(answer_->successes, 1);
  const std::wstring apps = L"\\Program Files\\WindowsApps\\";
  const std::wstring home = L"\\Users\\J\u00F6rg M\u00FCller\\AppData";
  const std::vector<std::tuple<std::string, std::wstring, std::string>> expected = {
      // Machine-wide 64-bit programs, in the order the Uninstall key lists them.
      {"Icon Version App", L"\\Icon Ver\\iconver.exe", "4.5.6"},  // from the resource, trimmed
      {"Mozilla Firefox (x64 en-US)", L"\\Program Files\\Mozilla Firefox\\firefox.exe", "121.0"},
      {"Microsoft 365 - en-us", L"\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE",
       "16.0.17029.20068"},
      // 32-bit programs; the broken game does not take Steam's name.
      {"Flat Tool (32-bit)", L"\\Flat\\flattool.exe", ""},  // no version anywhere
      {"Level Tool", L"\\Program Files (x86)\\Level Vendor\\a\\b\\leveltool.exe", "4.5.6"},
      {"Steam", L"\\Program Files (x86)\\Steam\\steam.exe", "2.10.91.91"},
      {"Toolbox Studio", L"\\Program Files (x86)\\Toolbox\\tool100.exe", "4.5.6"},
      {"Microsoft Visual Studio Installer",
       L"\\Program Files (x86)\\Microsoft Visual Studio\\Installer\\vs_installer.exe",
       "3.8.2112.61926"},
      // The user's own.
      {"Ico Named App", L"\\IcoNamed\\iconamed.exe", "4.5.6"},
      {"Discord", home + L"\\Local\\Discord\\app-1.0.9163\\Discord.exe", "1.0.9163"},
      {"Microsoft OneDrive", home + L"\\Local\\Microsoft\\OneDrive\\OneDrive.exe",
       "24.201.1006.0005"},
      {"Zoom", home + L"\\Roaming\\Zoom\\bin\\Zoom.exe", "5.16.10 (26186)"},
      {"Microsoft Visual Studio Code (User)",
       home + L"\\Local\\Programs\\Microsoft VS Code\\Code.exe", "1.85.1"},
      // Store packages, in the listing's order.
      {"Windows Calculator",
       apps + L"Microsoft.WindowsCalculator_11.2307.4.0_x64__8wekyb3d8bbwe\\CalculatorApp.exe",
       "11.2307.4.0"},
      {"Windows Photos",
       apps +
           L"Microsoft.Windows.Photos_2023.11050.16005.0_x64__8wekyb3d8bbwe\\Microsoft.Photos.exe",
       "2023.11050.16005.0"},
      {"Microsoft Sticky Notes",
       apps + L"Microsoft.MicrosoftStickyNotes_4.6.2.0_x64__8wekyb3d8bbwe\\Microsoft.Notes.exe",
       "4.6.2.0"},
      {"WhatsApp", apps + L"5319275A.WhatsAppDesktop_2.2348.3.0_x64__cv1g1gvanyjgm\\WhatsApp.exe",
       "2.2348.3.0"},
      {"Spotify Music",
       apps + L"SpotifyAB.SpotifyMusic_1.225.1020.0_x86__zpdnekdrzrea0\\Spotify.exe",
       "1.225.1020.0"},
  };
  std::vector<std::string> lines;
  for (const auto& [name, path, version] : expected)
    lines.push_back(name + " | " + WideToUtf8(path) + " | " + version);
  EXPECT_EQ(Listed(), lines);
}

// An icon without alpha gets a transparent background (its black, and the near-black (7,7,7)
// pixel, counted from the bottom in the file) and keeps its colours; one with alpha keeps its
// transparency.
TEST_F(RealisticMachine, IconsWithoutAlphaGetATransparentBackgroundOthersKeepTheirs) {
  const struct {
    const wchar_t* path;
    std::vector<std::pair<std::pair<int, int>, uint8_t>> alpha_at;
    int32_t date;
  } cases[] = {
      {L"\\Flat\\flattool.exe", {{{0, 0}, 0}, {{2, 29}, 0}, {{16, 16}, 255}}, 0},
      {L"\\Icon Ver\\iconver.exe", {{{0, 0}, 0}, {{4, 16}, 128}, {{16, 16}, 255}}, 20240102},
  };
  for (const auto& c : cases) {
    const EncodableMap* app = App(c.path);
    ASSERT_NE(app, nullptr) << WideToUtf8(c.path);
    // The install date where the entry has one, else 0.
    EXPECT_EQ(*Member(*app, "installedTimestamp"), EncodableValue(int32_t{c.date}));
    const DecodedImage image = DecodePng(std::get<std::vector<uint8_t>>(*Member(*app, "icon")));
    ASSERT_TRUE(image.ok);
    ASSERT_EQ(image.width, 32);
    const auto pixel = [&](int x, int y) {
      return &image.bgra[(static_cast<size_t>(y) * 32 + x) * 4];
    };
    for (const auto& [at, alpha] : c.alpha_at) {
      EXPECT_EQ(pixel(at.first, at.second)[3], alpha) << WideToUtf8(c.path) << " " << at.first;
    }
    if (c.alpha_at[1].second == 0) EXPECT_EQ(pixel(16, 16)[2], 220);  // the red square
  }
}

}  // namespace
}  // namespace apps_test
