// "getInstalledApps" on a machine that looks like a user's: programs under Program Files and
// in a profile with non-ASCII letters and blanks, Uninstall entries as the real installers
// write them (suites whose DisplayIcon is their installer, per-user installs with REG_EXPAND_SZ
// paths, a broken InstallLocation, names with dots, runtimes and drivers), and Store packages
// listed by a stand-in that writes the listing the real script prints on such a machine
// (fixtures/appx_scan_output.txt: package names where manifests use resources, BOM, CR LF).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "common/text_encoding.h"
#include "installed_apps/catalogue_workers.h"
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
const wchar_t kRepository[] =
    L"SOFTWARE\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppModel\\"
    L"Repository\\Packages\\";

// The folders this machine keeps its programs in, as its environment names them.
const std::pair<const wchar_t*, std::wstring> kFolders[] = {
    {L"ProgramFiles", PF},        {L"ProgramW6432", PF},
    {L"ProgramFiles(x86)", PF86}, {L"CommonProgramFiles", PF + L"\\Common Files"},
    {L"ProgramData", PD},         {L"USERPROFILE", HOME},
    {L"LOCALAPPDATA", LAD},       {L"APPDATA", RAD},
};

std::string ReadFixtureText(const char* name) {
  std::ifstream in(std::string(APPS_FIXTURES_DIR) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

void Program(const std::wstring& path) { CopyFixture(L"apps_fixture_alpha.exe", path); }

void Package(const std::wstring& folder, const char* executable) {
  WriteTextFile(
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
    hooks.run_store_script = [](const std::wstring&) {
      wchar_t out[MAX_PATH] = {};
      ::GetEnvironmentVariableW(L"ZELVORA_APPX_OUT", out, MAX_PATH);
      WriteTextFile(out, ReplaceAll(ReadFixtureText("appx_scan_output.txt"), "C:\\Program Files\\",
                                    WideToUtf8(PF) + "\\"));
      return std::string();
    };
    *answer_ = CallWorker([&](installed_apps::AppsMethodResult result) {
      installed_apps::StartGetInstalledAppsWorker(std::move(result), hooks);
    });
    // The same machine where PowerShell lists nothing: the package repository is read.
    hooks.run_store_script = [](const std::wstring&) { return std::string(); };
    *fallback_answer_ = CallWorker([&](installed_apps::AppsMethodResult result) {
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
    const std::wstring u = kUninstall;
    const HKEY lm = HKEY_LOCAL_MACHINE;
    const HKEY cu = HKEY_CURRENT_USER;
    const REGSAM v64 = KEY_WOW64_64KEY;
    const REGSAM v32 = KEY_WOW64_32KEY;
    auto& k = *keys_;

    // Firefox: its folder also holds the crash reporter, the updater and a helper.
    for (const wchar_t* file : {L"firefox.exe", L"crashreporter.exe", L"updater.exe",
                                L"default-browser-agent.exe", L"uninstall\\helper.exe"}) {
      Program(PF + L"\\Mozilla Firefox\\" + file);
    }
    k.Write(lm, v64, u + L"Mozilla Firefox 121.0 (x64 en-US)",
            {{L"DisplayName", L"Mozilla Firefox (x64 en-US)"},
             {L"DisplayVersion", L"121.0"},
             {L"DisplayIcon", PF + L"\\Mozilla Firefox\\firefox.exe,0"},
             {L"InstallLocation", PF + L"\\Mozilla Firefox"},
             {L"NoModify", 1u},
             {L"NoRepair", 1u}});
    // Microsoft 365: the DisplayIcon is the Click-to-Run service; the programs live below the
    // install folder.
    Program(PF + L"\\Common Files\\Microsoft Shared\\ClickToRun\\OfficeClickToRun.exe");
    Program(PF + L"\\Common Files\\Microsoft Shared\\ClickToRun\\OfficeC2RClient.exe");
    Program(PF + L"\\Microsoft Office\\root\\Office16\\WINWORD.EXE");
    // Click-to-Run's App-V launcher and integration tool sit in folders that list before
    // the programs' own.
    Program(PF + L"\\Microsoft Office\\root\\Client\\AppVLP.exe");
    Program(PF + L"\\Microsoft Office\\root\\Integration\\Integrator.exe");
    k.Write(lm, v64, u + L"O365HomePremRetail - en-us",
            {{L"DisplayName", L"Microsoft 365 - en-us"},
             {L"DisplayVersion", L"16.0.17029.20068"},
             {L"DisplayIcon",
              PF + L"\\Common Files\\Microsoft Shared\\ClickToRun\\OfficeClickToRun.exe"},
             {L"InstallLocation", PF + L"\\Microsoft Office"}});
    // A driver package: its only program is a service.
    Program(PF + L"\\Realtek\\Audio\\HDA\\RtkAudUService64.exe");
    k.Write(lm, v64, u + L"{F132AF7F-7BCA-4EDE-8A7C-958108FE7DBC}",
            {{L"DisplayName", L"Realtek High Definition Audio Driver"},
             {L"DisplayVersion", L"6.0.9239.1"},
             {L"InstallLocation", PF + L"\\Realtek\\Audio\\HDA"}});
    // A runtime: its DisplayIcon is the bundle in the package cache.
    Program(PD + L"\\Package Cache\\{57a73df6-4ba9-4c1d-bbbb-517289ff6c13}\\VC_redist.x64.exe");
    k.Write(
        lm, v64, u + L"{57a73df6-4ba9-4c1d-bbbb-517289ff6c13}",
        {{L"DisplayName", L"Microsoft Visual C++ 2015-2022 Redistributable (x64) - 14.38.33130"},
         {L"DisplayIcon",
          PD + L"\\Package Cache\\{57a73df6-4ba9-4c1d-bbbb-517289ff6c13}\\VC_redist.x64.exe,0"},
         {L"NoModify", 1u}});
    // Names with dots.
    Program(PF + L"\\paint.net\\paintdotnet.exe");
    k.Write(lm, v64, u + L"{6B6C2C9B-9E1D-4F6A-A2B0-0D3D0B4B5C21}",
            {{L"DisplayName", L"paint.net"},
             {L"DisplayVersion", L"5.0.11"},
             {L"DisplayIcon", PF + L"\\paint.net\\paintdotnet.exe"}});
    Program(PF + L"\\nodejs\\node.exe");
    k.Write(lm, v64, u + L"{8A3F1A1C-3F5B-4E0A-9E5B-1A2B3C4D5E6F}",
            {{L"DisplayName", L"Node.js"},
             {L"DisplayVersion", L"20.10.0"},
             {L"InstallLocation", PF + L"\\nodejs\\"}});
    // 32-bit programs: Steam, Battle.net, and a game whose InstallLocation is the whole
    // Program Files (x86) folder.
    Program(PF86 + L"\\Steam\\steam.exe");
    Program(PF86 + L"\\Steam\\bin\\steamservice.exe");
    k.Write(lm, v32, u + L"Steam",
            {{L"DisplayName", L"Steam"},
             {L"DisplayVersion", L"2.10.91.91"},
             {L"DisplayIcon", PF86 + L"\\Steam\\steam.exe"}});
    Program(PF86 + L"\\Battle.net\\Battle.net.exe");
    Program(PF86 + L"\\Battle.net\\Battle.net Launcher.exe");
    k.Write(lm, v32, u + L"Battle.net",
            {{L"DisplayName", L"Battle.net"}, {L"InstallLocation", PF86 + L"\\Battle.net"}});
    k.Write(lm, v32, u + L"Broken Game_is1",
            {{L"DisplayName", L"Broken Game"},
             {L"DisplayVersion", L"0.9"},
             {L"InstallLocation", PF86 + L"\\"}});
    // The walk bounds: a program three levels down is not found, one two levels down is; a
    // folder with 64 tools ends the walk before its subfolders.
    Program(PF86 + L"\\Deep Vendor\\a\\b\\c\\deeptool.exe");
    k.Write(lm, v32, u + L"Deep Tool",
            {{L"DisplayName", L"Deep Tool"}, {L"InstallLocation", PF86 + L"\\Deep Vendor"}});
    Program(PF86 + L"\\Level Vendor\\a\\b\\leveltool.exe");
    k.Write(lm, v32, u + L"Level Tool",
            {{L"DisplayName", L"Level Tool"}, {L"InstallLocation", PF86 + L"\\Level Vendor"}});
    for (int i = 0; i < 64; ++i) {
      Program(PF86 + L"\\Toolbox\\tool" + std::to_wstring(100 + i) + L".exe");
    }
    Program(PF86 + L"\\Toolbox\\app\\toolboxstudio.exe");
    k.Write(lm, v32, u + L"Toolbox Studio",
            {{L"DisplayName", L"Toolbox Studio"}, {L"InstallLocation", PF86 + L"\\Toolbox"}});
    // An installer the user runs as a program: its entry names it, and beside it lie the
    // bootstrapper its icon points at and a command-line locator.
    const std::wstring vs = PF86 + L"\\Microsoft Visual Studio\\Installer";
    for (const wchar_t* file :
         {L"setup.exe", L"vs_installer.exe", L"vs_installershell.exe", L"vswhere.exe"}) {
      Program(vs + L"\\" + file);
    }
    k.Write(lm, v32, u + L"{6F320B93-EE3C-4826-85E0-ADF79F8D4C61}",
            {{L"DisplayName", L"Microsoft Visual Studio Installer"},
             {L"DisplayVersion", L"3.8.2112.61926"},
             {L"DisplayIcon", vs + L"\\setup.exe"},
             {L"InstallLocation", vs}});

    // Per-user installs.
    Program(LAD + L"\\Microsoft\\OneDrive\\OneDrive.exe");
    Program(LAD + L"\\Microsoft\\OneDrive\\OneDriveStandaloneUpdater.exe");
    Program(LAD + L"\\Microsoft\\OneDrive\\24.201.1006.0005\\OneDriveSetup.exe");
    Program(LAD + L"\\Microsoft\\OneDrive\\24.201.1006.0005\\FileSyncHelper.exe");
    k.Write(
        cu, 0, u + L"OneDriveSetup.exe",
        {{L"DisplayName", L"Microsoft OneDrive"},
         {L"DisplayVersion", L"24.201.1006.0005"},
         {L"DisplayIcon", LAD + L"\\Microsoft\\OneDrive\\24.201.1006.0005\\OneDriveSetup.exe,-101"},
         {L"NoRepair", 1u}});
    Program(LAD +
            L"\\Package Cache\\{1b2c9a0e-5f6d-4c3b-8a7e-2d1f0e9c8b7a}\\python-3.12.1-amd64.exe");
    k.Write(cu, 0, u + L"{1b2c9a0e-5f6d-4c3b-8a7e-2d1f0e9c8b7a}",
            {{L"DisplayName", L"Python 3.12.1 (64-bit)"},
             {L"DisplayVersion", L"3.12.1150.0"},
             {L"DisplayIcon", LAD + L"\\Package Cache\\{1b2c9a0e-5f6d-4c3b-8a7e-2d1f0e9c8b7a}"
                                    L"\\python-3.12.1-amd64.exe,0"}});
    Program(LAD + L"\\Discord\\Update.exe");
    Program(LAD + L"\\Discord\\app-1.0.9163\\Discord.exe");
    k.Write(cu, 0, u + L"Discord",
            {{L"DisplayName", L"Discord"},
             {L"DisplayVersion", L"1.0.9163"},
             {L"DisplayIcon", LAD + L"\\Discord\\app.ico"},
             {L"InstallLocation", LAD + L"\\Discord"}});
    // Installed per user and from the Store: the Store copy wins the merge.
    Program(RAD + L"\\Spotify\\Spotify.exe");
    k.Write(cu, 0, u + L"Spotify",
            {{L"DisplayName", L"Spotify"},
             {L"DisplayVersion", L"1.2.26.1187.g36b715a1"},
             {L"DisplayIcon", RAD + L"\\Spotify\\Spotify.exe"},
             {L"InstallLocation", RAD + L"\\Spotify"}});
    Program(RAD + L"\\Zoom\\bin\\Zoom.exe");
    Program(RAD + L"\\Zoom\\bin\\CptHost.exe");
    k.Write(cu, 0, u + L"ZoomUMX",
            {{L"DisplayName", L"Zoom"},
             {L"DisplayVersion", L"5.16.10 (26186)"},
             {L"DisplayIcon", RegValue::Expandable(L"%APPDATA%\\Zoom\\bin\\Zoom.exe")},
             {L"InstallLocation", RegValue::Expandable(L"%APPDATA%\\Zoom")}});
    Program(LAD + L"\\Programs\\Microsoft VS Code\\Code.exe");
    Program(LAD + L"\\Programs\\Microsoft VS Code\\bin\\code-tunnel.exe");
    Program(LAD + L"\\Programs\\Microsoft VS Code\\unins000.exe");
    k.Write(cu, 0, u + L"{771FD6B0-FA20-440A-A002-3B3BAC16DC50}_is1",
            {{L"DisplayName", L"Microsoft Visual Studio Code (User)"},
             {L"DisplayVersion", L"1.85.1"},
             {L"DisplayIcon", LAD + L"\\Programs\\Microsoft VS Code\\Code.exe"},
             {L"InstallLocation", LAD + L"\\Programs\\Microsoft VS Code\\"},
             {L"InstallDate", L"20231214"}});

    // Store packages (the listing names them); their folders are unreadable on Windows, so
    // only the manifests exist here.
    Package(L"Microsoft.WindowsCalculator_11.2307.4.0_x64__8wekyb3d8bbwe", "CalculatorApp.exe");
    Package(L"Microsoft.WindowsTerminal_1.18.3181.0_x64__8wekyb3d8bbwe", "WindowsTerminal.exe");
    Package(L"Microsoft.Windows.Photos_2023.11050.16005.0_x64__8wekyb3d8bbwe",
            "Microsoft.Photos.exe");
    Package(L"Microsoft.Paint_11.2309.20.0_x64__8wekyb3d8bbwe", "PaintApp\\mspaint.exe");
    Package(L"Microsoft.ZuneMusic_11.2310.8.0_x64__8wekyb3d8bbwe", "Microsoft.Media.Player.exe");
    Package(L"Microsoft.WindowsNotepad_11.2310.13.0_x64__8wekyb3d8bbwe", "Notepad\\Notepad.exe");
    Package(L"Microsoft.MicrosoftStickyNotes_4.6.2.0_x64__8wekyb3d8bbwe", "Microsoft.Notes.exe");
    Package(L"5319275A.WhatsAppDesktop_2.2348.3.0_x64__cv1g1gvanyjgm", "WhatsApp.exe");
    Package(L"SpotifyAB.SpotifyMusic_1.225.1020.0_x86__zpdnekdrzrea0", "Spotify.exe");
    Package(L"Microsoft.Windows.Cortana_1.0.0.0_neutral__cw5n1h2txyewy", "Cortana.exe");
    // Only in the package repository: PowerShell listed packages, so it is not read.
    Package(L"Microsoft.XboxApp_48.104.4001.0_x64__8wekyb3d8bbwe", "XboxApp.exe");
    k.Write(cu, 0,
            std::wstring(kRepository) + L"Microsoft.XboxApp_48.104.4001.0_x64__8wekyb3d8bbwe",
            {{L"PackageRootFolder", APPS + L"Microsoft.XboxApp_48.104.4001.0_x64__8wekyb3d8bbwe"},
             {L"DisplayName", L"Xbox Console Companion"}});
    // The repository knows the listed packages too, mostly by resource references, and
    // also the system's own packages that the script leaves out (Windows Security).
    Package(L"Microsoft.SecHealthUI_1000.26100.1.0_x64__8wekyb3d8bbwe", "SecHealthUI.exe");
    const auto by_reference = [](const std::wstring& key, const wchar_t* resource) {
      return L"@{" + key + L"?ms-resource://" + key.substr(0, key.find(L'_')) + L"/Resources/" +
             resource + L"}";
    };
    const std::pair<const wchar_t*, std::wstring> repository[] = {
        {L"Microsoft.WindowsCalculator_11.2307.4.0_x64__8wekyb3d8bbwe", L""},
        {L"Microsoft.Windows.Photos_2023.11050.16005.0_x64__8wekyb3d8bbwe", L""},
        {L"Microsoft.MicrosoftStickyNotes_4.6.2.0_x64__8wekyb3d8bbwe", L""},
        {L"Microsoft.SecHealthUI_1000.26100.1.0_x64__8wekyb3d8bbwe", L""},
        {L"5319275A.WhatsAppDesktop_2.2348.3.0_x64__cv1g1gvanyjgm", L"WhatsApp"},
        {L"SpotifyAB.SpotifyMusic_1.225.1020.0_x86__zpdnekdrzrea0", L"Spotify Music"},
    };
    for (const auto& [key, name] : repository) {
      k.Write(cu, 0, std::wstring(kRepository) + key,
              {{L"PackageRootFolder", APPS + key},
               {L"DisplayName", name.empty() ? by_reference(key, L"AppStoreName") : name}});
    }
  }

  // name, path (below W), version of our apps, in the order of the answer.
  static std::vector<std::tuple<std::string, std::wstring, std::string>> Listed(
      const WorkerAnswer* answer = answer_) {
    std::vector<std::tuple<std::string, std::wstring, std::string>> apps;
    const auto* list = std::get_if<EncodableList>(&answer->value);
    if (!list) return apps;
    for (const EncodableValue& item : *list) {
      const auto& map = std::get<EncodableMap>(item);
      const std::wstring path = Utf8ToWide(StringMember(map, "packageName"));
      if (!installed_apps::StartsWith(path, W + L"\\")) continue;
      apps.emplace_back(StringMember(map, "name"), path.substr(W.size()),
                        StringMember(map, "versionName"));
    }
    return apps;
  }

  static inline RegistryKeys* keys_ = new RegistryKeys();
  static inline WorkerAnswer* answer_ = new WorkerAnswer();
  static inline WorkerAnswer* fallback_answer_ = new WorkerAnswer();
  static inline std::vector<std::pair<std::wstring, std::wstring>>* saved_env_ =
      new std::vector<std::pair<std::wstring, std::wstring>>();
};

TEST_F(RealisticMachine, ListsTheRightProgramsUnderTheirOwnNamesInScanOrder) {
  ASSERT_TRUE(answer_->completed);
  ASSERT_EQ(answer_->successes, 1);
  const std::wstring apps = L"\\Program Files\\WindowsApps\\";
  const std::vector<std::tuple<std::string, std::wstring, std::string>> expected = {
      // Machine-wide 64-bit programs, in the order the Uninstall key lists them.
      {"Mozilla Firefox (x64 en-US)", L"\\Program Files\\Mozilla Firefox\\firefox.exe", "121.0"},
      {"Microsoft 365 - en-us", L"\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE",
       "16.0.17029.20068"},
      {"paint.net", L"\\Program Files\\paint.net\\paintdotnet.exe", "5.0.11"},
      {"Node.js", L"\\Program Files\\nodejs\\node.exe", "20.10.0"},
      // 32-bit programs; the broken game does not take Steam's name.
      {"Battle.net", L"\\Program Files (x86)\\Battle.net\\Battle.net.exe", "4.5.6"},
      {"Level Tool", L"\\Program Files (x86)\\Level Vendor\\a\\b\\leveltool.exe", "4.5.6"},
      {"Steam", L"\\Program Files (x86)\\Steam\\steam.exe", "2.10.91.91"},
      {"Toolbox Studio", L"\\Program Files (x86)\\Toolbox\\tool100.exe", "4.5.6"},
      {"Microsoft Visual Studio Installer",
       L"\\Program Files (x86)\\Microsoft Visual Studio\\Installer\\vs_installer.exe",
       "3.8.2112.61926"},
      // The user's own.
      {"Discord",
       L"\\Users\\J\u00F6rg M\u00FCller\\AppData\\Local\\Discord\\app-1.0.9163\\Discord.exe",
       "1.0.9163"},
      {"Microsoft OneDrive",
       L"\\Users\\J\u00F6rg M\u00FCller\\AppData\\Local\\Microsoft\\OneDrive\\OneDrive.exe",
       "24.201.1006.0005"},
      {"Zoom", L"\\Users\\J\u00F6rg M\u00FCller\\AppData\\Roaming\\Zoom\\bin\\Zoom.exe",
       "5.16.10 (26186)"},
      {"Microsoft Visual Studio Code (User)",
       L"\\Users\\J\u00F6rg M\u00FCller\\AppData\\Local\\Programs\\Microsoft VS Code\\Code.exe",
       "1.85.1"},
      // Store packages, in the listing's order.
      {"Windows Calculator",
       apps + L"Microsoft.WindowsCalculator_11.2307.4.0_x64__8wekyb3d8bbwe\\CalculatorApp.exe",
       "11.2307.4.0"},
      {"Windows Terminal",
       apps + L"Microsoft.WindowsTerminal_1.18.3181.0_x64__8wekyb3d8bbwe\\WindowsTerminal.exe",
       "1.18.3181.0"},
      {"Windows Photos",
       apps +
           L"Microsoft.Windows.Photos_2023.11050.16005.0_x64__8wekyb3d8bbwe\\Microsoft.Photos.exe",
       "2023.11050.16005.0"},
      {"Paint", apps + L"Microsoft.Paint_11.2309.20.0_x64__8wekyb3d8bbwe\\PaintApp\\mspaint.exe",
       "11.2309.20.0"},
      {"Zune Music",
       apps + L"Microsoft.ZuneMusic_11.2310.8.0_x64__8wekyb3d8bbwe\\Microsoft.Media.Player.exe",
       "11.2310.8.0"},
      {"Windows Notepad",
       apps + L"Microsoft.WindowsNotepad_11.2310.13.0_x64__8wekyb3d8bbwe\\Notepad\\Notepad.exe",
       "11.2310.13.0"},
      {"Microsoft Sticky Notes",
       apps + L"Microsoft.MicrosoftStickyNotes_4.6.2.0_x64__8wekyb3d8bbwe\\Microsoft.Notes.exe",
       "4.6.2.0"},
      {"WhatsApp", apps + L"5319275A.WhatsAppDesktop_2.2348.3.0_x64__cv1g1gvanyjgm\\WhatsApp.exe",
       "2.2348.3.0"},
      {"Spotify Music",
       apps + L"SpotifyAB.SpotifyMusic_1.225.1020.0_x86__zpdnekdrzrea0\\Spotify.exe",
       "1.225.1020.0"},
  };
  const auto listed = Listed();
  EXPECT_EQ(listed.size(), expected.size());
  for (size_t i = 0; i < std::max(listed.size(), expected.size()); ++i) {
    const auto shown = i < listed.size() ? listed[i] : decltype(listed)::value_type{};
    const auto wanted = i < expected.size() ? expected[i] : decltype(listed)::value_type{};
    EXPECT_EQ(std::get<0>(shown), std::get<0>(wanted)) << "at " << i;
    EXPECT_EQ(WideToUtf8(std::get<1>(shown)), WideToUtf8(std::get<1>(wanted))) << "at " << i;
    EXPECT_EQ(std::get<2>(shown), std::get<2>(wanted)) << "at " << i;
  }
}

// PowerShell and the package repository describe the same packages: whichever the machine
// answers with, a package is listed under the same name, and the system's own packages that
// the script leaves out stay out.
TEST_F(RealisticMachine, TheRepositoryNamesStorePackagesAsTheScriptDoes) {
  ASSERT_TRUE(fallback_answer_->completed);
  const std::wstring apps = L"\\Program Files\\WindowsApps\\";
  std::map<std::wstring, std::string> by_script;
  for (const auto& [name, path, version] : Listed()) by_script[path] = name;
  std::map<std::wstring, std::string> by_repository;
  for (const auto& [name, path, version] : Listed(fallback_answer_)) {
    if (installed_apps::StartsWith(path, apps)) by_repository[path] = name;
  }
  EXPECT_EQ(by_repository.size(), 6u);  // the five listed packages it knows, and Xbox
  for (const auto& [path, name] : by_repository) {
    if (path.find(L"XboxApp") != std::wstring::npos) continue;
    EXPECT_EQ(name, by_script[path]) << WideToUtf8(path);
  }
}

}  // namespace
}  // namespace apps_test
