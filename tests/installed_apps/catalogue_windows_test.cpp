// "getInstalledApps" end to end under Wine: real Uninstall keys in the three hives, real
// programs with icon and version resources, the answer as the channel carries it.
#include <gtest/gtest.h>

#include <algorithm>

#include "installed_apps/catalogue_workers.h"
#include "installed_apps/icon_png.h"
#include "installed_apps/path_text.h"
#include "installed_apps/registry_values.h"
#include "installed_apps/session_user.h"
#include "windows_test_support.h"

namespace apps_test {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

const std::wstring R = kTestRoot;

class GetInstalledApps : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RemoveTestRoot();
    keys_ = new RegistryKeys();
    const HKEY lm = HKEY_LOCAL_MACHINE;
    const HKEY cu = HKEY_CURRENT_USER;
    const REGSAM v64 = KEY_WOW64_64KEY;
    const REGSAM v32 = KEY_WOW64_32KEY;
    // Programs under the test root (copies of the fixture with icon and version), then the
    // Uninstall entries in all three hives that point at them.
    const std::pair<const wchar_t*, const wchar_t*> programs[] = {
        {L"apps_fixture_alpha.exe", L"IconVer\\iconver.exe"},
        {L"apps_fixture_flat.exe", L"Flat\\flattool.exe"},
        {L"apps_fixture_alpha.exe", L"Flat\\flattool_crashreporter.exe"},
        {L"apps_fixture_alpha.exe", L"Flat\\unins000.exe"},
        {L"apps_fixture_alpha.exe", L"IcoNamed\\iconamed.exe"},
        {L"apps_fixture_alpha.exe", L"Case\\caseapp.exe"},
        {L"apps_fixture_alpha.exe", L"Iconless\\iconless.exe"},
        {L"apps_fixture_alpha.exe", L"Hidden\\hidden.exe"},
    };
    for (const auto& [fixture, path] : programs) CopyFixture(fixture, R + L"\\" + path);
    const struct {
      HKEY hive;
      REGSAM view;
      const wchar_t* key;
      RegValues values;
    } entries[] = {
        {lm,
         v64,
         L"IconVer",
         {{L"DisplayName", L"Icon Version App"},
          {L"DisplayIcon", L"\"" + R + L"\\IconVer\\iconver.exe\",0"},
          {L"InstallDate", 20240102u}}},
        {lm,
         v32,
         L"Flat",
         {{L"DisplayName", L"Flat Tool (32-bit)"}, {L"InstallLocation", R + L"\\Flat"}}},
        {cu,
         0,
         L"IcoNamed",
         {{L"DisplayName", L"Ico Named App"}, {L"DisplayIcon", R + L"\\IcoNamed\\iconamed.ico"}}},
        {lm,
         v64,
         L"Case1",
         {{L"DisplayName", L"Case App"}, {L"DisplayIcon", R + L"\\Case\\caseapp.exe"}}},
        {cu,
         0,
         L"Case2",
         {{L"DisplayName", L"Case App Deluxe Edition"},
          {L"DisplayIcon", L"C:\\CATALOGUETEST\\CASE\\CASEAPP.EXE"},
          {L"DisplayVersion", L"7.0"}}},
        {cu,
         0,
         L"Iconless",
         {{L"DisplayName", L"Iconless Thing"}, {L"DisplayIcon", R + L"\\Iconless\\iconless.exe"}}},
        // Hidden from Programs and Features: must add nothing (the skip rules themselves are
        // the rules test's; this proves the DWORD is read from the key).
        {lm,
         v64,
         L"Hidden",
         {{L"DisplayName", L"Hidden Component"},
          {L"SystemComponent", 1u},
          {L"DisplayIcon", R + L"\\Hidden\\hidden.exe"}}},
        // Strange data must not hurt: wrong value types, an empty name.
        {lm,
         v64,
         L"Strange",
         {{L"DisplayName", 5u}, {L"DisplayIcon", 7u}, {L"InstallDate", L"yesterday"}}},
    };
    for (const auto& e : entries) {
      keys_->Write(e.hive, e.view, std::wstring(kUninstall) + L"CatalogueTest." + e.key, e.values);
    }

    installed_apps::CatalogueHooks hooks;
    hooks.run_store_script = [](const std::wstring&) { return std::string(); };
    // The shell gives every executable an icon; this one stands for a file it cannot render.
    hooks.extract_icon = [](const std::wstring& path) {
      if (installed_apps::Contains(path, L"\\Iconless\\")) return std::vector<uint8_t>();
      return installed_apps::ExtractFileIconPng(path);
    };
    answer_ = new WorkerAnswer(CallWorker([&](installed_apps::AppsMethodResult result) {
      installed_apps::StartGetInstalledAppsWorker(std::move(result), hooks);
    }));
  }

  static void TearDownTestSuite() {
    delete keys_;
    delete answer_;
    RemoveTestRoot();
  }

  // Our apps only: the prefix may list programs of its own.
  static std::vector<const EncodableMap*> OurApps() {
    std::vector<const EncodableMap*> apps;
    const auto* list = std::get_if<EncodableList>(&answer_->value);
    if (!list) return apps;
    for (const EncodableValue& item : *list) {
      const auto* map = std::get_if<EncodableMap>(&item);
      if (map && installed_apps::StartsWith(
                     installed_apps::ToLower(Utf8ToWideForTest(StringMember(*map, "packageName"))),
                     L"c:\\cataloguetest\\")) {
        apps.push_back(map);
      }
    }
    return apps;
  }

  static std::wstring Utf8ToWideForTest(const std::string& s) {
    return std::wstring(s.begin(), s.end());  // test paths are ASCII
  }

  static const EncodableMap* App(const std::string& path) {
    for (const EncodableMap* app : OurApps()) {
      if (StringMember(*app, "packageName") == path) return app;
    }
    return nullptr;
  }

  static RegistryKeys* keys_;
  static WorkerAnswer* answer_;
};

RegistryKeys* GetInstalledApps::keys_ = nullptr;
WorkerAnswer* GetInstalledApps::answer_ = nullptr;

TEST_F(GetInstalledApps, AnswersOnceWithOneCleanEntryPerProgram) {
  ASSERT_TRUE(answer_->completed);
  EXPECT_EQ(answer_->successes, 1);
  EXPECT_EQ(answer_->other_completions, 0);

  std::vector<std::string> paths;
  for (const EncodableMap* app : OurApps()) paths.push_back(StringMember(*app, "packageName"));
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{
                       "C:\\CatalogueTest\\Case\\caseapp.exe",
                       "C:\\CatalogueTest\\Flat\\flattool.exe",
                       "C:\\CatalogueTest\\IcoNamed\\iconamed.exe",
                       "C:\\CatalogueTest\\IconVer\\iconver.exe",
                   }));
}

TEST_F(GetInstalledApps, MapsCarryNamesVersionsAndDates) {
  const EncodableMap* iconver = App("C:\\CatalogueTest\\IconVer\\iconver.exe");
  ASSERT_NE(iconver, nullptr);
  EXPECT_EQ(StringMember(*iconver, "name"), "Icon Version App");
  EXPECT_EQ(StringMember(*iconver, "versionName"), "4.5.6");  // from the resource, trimmed
  EXPECT_EQ(*Member(*iconver, "installedTimestamp"), EncodableValue(int32_t{20240102}));
  EXPECT_EQ(*Member(*iconver, "versionCode"), EncodableValue(int32_t{0}));
  EXPECT_EQ(*Member(*iconver, "isSystemApp"), EncodableValue(false));
  EXPECT_EQ(*Member(*iconver, "isLaunchableApp"), EncodableValue(true));

  const EncodableMap* flat = App("C:\\CatalogueTest\\Flat\\flattool.exe");
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(StringMember(*flat, "name"), "Flat Tool (32-bit)");
  EXPECT_EQ(StringMember(*flat, "versionName"), "");  // neither registry nor resource has one
  EXPECT_EQ(*Member(*flat, "installedTimestamp"), EncodableValue(int32_t{0}));

  const EncodableMap* merged = App("C:\\CatalogueTest\\Case\\caseapp.exe");
  ASSERT_NE(merged, nullptr);
  EXPECT_EQ(StringMember(*merged, "name"), "Case App Deluxe Edition");
  EXPECT_EQ(StringMember(*merged, "versionName"), "7.0");

  const EncodableMap* ico_named = App("C:\\CatalogueTest\\IcoNamed\\iconamed.exe");
  ASSERT_NE(ico_named, nullptr);
  EXPECT_EQ(StringMember(*ico_named, "name"), "Ico Named App");
}

// An icon without alpha gets a transparent background (its black, and the near-black (7,7,7)
// pixel, counted from the bottom in the file); one with alpha keeps its transparency.
TEST_F(GetInstalledApps, IconsWithoutAlphaGetATransparentBackgroundOthersKeepTheirs) {
  const struct {
    const char* path;
    std::vector<std::pair<std::pair<int, int>, uint8_t>> alpha_at;
  } cases[] = {
      {"C:\\CatalogueTest\\Flat\\flattool.exe", {{{0, 0}, 0}, {{2, 29}, 0}, {{16, 16}, 255}}},
      {"C:\\CatalogueTest\\IconVer\\iconver.exe", {{{0, 0}, 0}, {{4, 16}, 128}, {{16, 16}, 255}}},
  };
  for (const auto& c : cases) {
    const EncodableMap* app = App(c.path);
    ASSERT_NE(app, nullptr) << c.path;
    const DecodedImage image = DecodePng(std::get<std::vector<uint8_t>>(*Member(*app, "icon")));
    ASSERT_TRUE(image.ok);
    ASSERT_EQ(image.width, 32);
    const auto pixel = [&](int x, int y) {
      return &image.bgra[(static_cast<size_t>(y) * 32 + x) * 4];
    };
    for (const auto& [at, alpha] : c.alpha_at) {
      EXPECT_EQ(pixel(at.first, at.second)[3], alpha)
          << c.path << " " << at.first << "," << at.second;
    }
  }
  const EncodableMap* flat = App("C:\\CatalogueTest\\Flat\\flattool.exe");
  const DecodedImage image = DecodePng(std::get<std::vector<uint8_t>>(*Member(*flat, "icon")));
  EXPECT_EQ(image.bgra[(16 * 32 + 16) * 4 + 2], 220);  // the red square keeps its colour
}

TEST(BuildResult, EntriesWithoutIconAreLeftOutAndCounted) {
  // Other vendors' programs: the ones beside the test programs count as the app's own.
  RemoveTestRoot();
  const std::wstring with_icon = kTestRoot + L"\\Bildbearbeitung \u00C4\\edit.exe";
  const std::wstring without_icon = kTestRoot + L"\\Werkzeuge \u0416\\tool.exe";
  CopyFixture(L"apps_fixture_alpha.exe", with_icon);
  CopyFixture(L"apps_fixture_plain.exe", without_icon);
  installed_apps::EntryTable table;
  installed_apps::UpsertEntry(table, {L"Has Icon", with_icon, L"", 0});
  installed_apps::UpsertEntry(table, {L"No Icon", without_icon, L"", 0});
  size_t skipped = 99;
  const auto apps = installed_apps::BuildResult(
      table,
      [&](const std::wstring& path) {
        return path == without_icon ? std::vector<uint8_t>() : std::vector<uint8_t>{1, 2, 3};
      },
      &skipped);
  RemoveTestRoot();
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].name, "Has Icon");
  EXPECT_EQ(apps[0].version_name, "4.5.6");
  EXPECT_EQ(skipped, 1u);
}

// Repeat requests reuse what they learnt about unchanged files, folders and keys; whatever
// changed in between must show: an update that replaces the program, a program added to its
// folder, an entry rewritten by an installer.
TEST(RepeatRequests, SeeWhatChangedSinceTheLastOne) {
  const std::wstring folder = L"C:\\CatalogueTest\\\u00C4nderung Studio";
  const std::wstring key = std::wstring(kUninstall) + L"{0C3F2A5E-1B7D-4E9A-9C11-5D2E7F4A8B60}";
  RemoveTestRoot();
  CopyFixture(L"apps_fixture_plain.exe", folder + L"\\bin\\tool.exe");
  RegistryKeys keys;
  keys.Write(HKEY_CURRENT_USER, 0, key,
             {{L"DisplayName", L"\u00C4nderung Studio"}, {L"InstallLocation", folder}});

  installed_apps::CatalogueHooks hooks;
  hooks.run_store_script = [](const std::wstring&) { return std::string(); };
  hooks.session_user_sid = [] { return std::wstring(); };
  auto ours = [&] {
    std::vector<installed_apps::AppInfo> apps;
    for (installed_apps::AppInfo& app : installed_apps::RunCatalogue(hooks).apps) {
      if (app.package_name.rfind("C:\\CatalogueTest\\", 0) == 0) {
        apps.push_back(std::move(app));
      }
    }
    return apps;
  };

  auto apps = ours();
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].package_name, "C:\\CatalogueTest\\\xC3\x84nderung Studio\\bin\\tool.exe");
  EXPECT_EQ(apps[0].version_name, "");
  const std::vector<uint8_t> generic_icon = *apps[0].icon;

  // An update replaces the program in place: new version resource, new icon.
  ::Sleep(20);
  CopyFixture(L"apps_fixture_alpha.exe", folder + L"\\bin\\tool.exe");
  apps = ours();
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].version_name, "4.5.6");
  EXPECT_NE(*apps[0].icon, generic_icon);

  // The main program arrives two levels down; the installer renames the entry.
  ::Sleep(20);
  CopyFixture(L"apps_fixture_alpha.exe", folder + L"\\app\\x64\\anderungstudio.exe");
  keys.Write(HKEY_CURRENT_USER, 0, key,
             {{L"DisplayName", L"Anderung Studio 2024"}, {L"DisplayVersion", L"24.1"}});
  apps = ours();
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].name, "Anderung Studio 2024");
  EXPECT_EQ(apps[0].version_name, "24.1");
  EXPECT_EQ(apps[0].package_name,
            "C:\\CatalogueTest\\\xC3\x84nderung Studio\\app\\x64\\anderungstudio.exe");
  keys.DeleteAll();
  RemoveTestRoot();
}

// A standard user who elevated with an administrator's account: the per-user programs and
// Store packages listed are those of the user at the screen, not the administrator's.
TEST(SessionUser, PerUserProgramsAndPackagesAreTheSessionUsers) {
  const std::wstring sid = L"S-1-5-21-3623811015-3361044348-30300820-1013";
  const std::wstring root = L"C:\\CatalogueTest\\Users\\Ay\u015Fe Y\u0131lmaz";
  RemoveTestRoot();
  CopyFixture(L"apps_fixture_alpha.exe",
              root + L"\\AppData\\Local\\Slack\\app-4.35.131\\slack.exe");
  CopyFixture(L"apps_fixture_alpha.exe", L"C:\\CatalogueTest\\Admin\\admintool.exe");
  RegistryKeys keys;
  keys.Write(HKEY_USERS, 0,
             sid + L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\slack",
             {{L"DisplayName", L"Slack"},
              {L"DisplayVersion", L"4.35.131"},
              {L"InstallLocation", root + L"\\AppData\\Local\\Slack"}});
  keys.Write(HKEY_CURRENT_USER, 0, std::wstring(kUninstall) + L"AdminTool",
             {{L"DisplayName", L"Admin Tool"},
              {L"DisplayIcon", L"C:\\CatalogueTest\\Admin\\admintool.exe"}});

  std::wstring script_user = L"<not run>";
  installed_apps::CatalogueHooks hooks;
  hooks.session_user_sid = [&] { return sid; };
  hooks.run_store_script = [&](const std::wstring&) {
    wchar_t value[128] = {};
    script_user = ::GetEnvironmentVariableW(L"ZELVORA_APPX_USER", value, 128) ? value : L"";
    return std::string();
  };
  const installed_apps::CatalogueResult result = installed_apps::RunCatalogue(hooks);
  std::vector<std::string> names;
  for (const installed_apps::AppInfo& app : result.apps) {
    if (app.package_name.rfind("C:\\CatalogueTest\\", 0) == 0) names.push_back(app.name);
  }
  EXPECT_EQ(names, std::vector<std::string>{"Slack"});
  EXPECT_EQ(script_user, sid);
  // Here the app runs as the signed-in user: nothing is redirected.
  EXPECT_EQ(installed_apps::OtherSessionUserSid(), L"");
  keys.DeleteAll();
  RemoveTestRoot();
}

// Both string types are expanded (installers write paths either way); other types and texts
// longer than the 2048-byte buffer read as empty.
TEST(RegistryValues, StringsExpandedOthersEmpty) {
  const std::wstring key = std::wstring(kUninstall) + L"CatalogueTest.Values";
  RegistryKeys keys;
  keys.Write(HKEY_CURRENT_USER, 0, key,
             {{L"Expand", RegValue::Expandable(L"%CATALOGUE_TEST_HOME%\\Programs\\Zoom")},
              {L"Plain", L"%CATALOGUE_TEST_HOME%\\Zoom"},
              {L"Number", 7u},
              {L"Long", std::wstring(1100, L'x')},
              {L"Fits", std::wstring(1023, L'y')}});
  ::SetEnvironmentVariableW(L"CATALOGUE_TEST_HOME", L"C:\\Users\\J\u00F6rg M\u00FCller");
  HKEY raw = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &raw), ERROR_SUCCESS);
  using installed_apps::ReadRegistryString;
  EXPECT_EQ(ReadRegistryString(raw, L"Expand"),
            L"C:\\Users\\J\u00F6rg M\u00FCller\\Programs\\Zoom");
  EXPECT_EQ(ReadRegistryString(raw, L"Expand", /*expand=*/false),
            L"%CATALOGUE_TEST_HOME%\\Programs\\Zoom");
  EXPECT_EQ(ReadRegistryString(raw, L"Plain"), L"C:\\Users\\J\u00F6rg M\u00FCller\\Zoom");
  EXPECT_EQ(ReadRegistryString(raw, L"Number"), L"");
  EXPECT_EQ(installed_apps::ReadRegistryDword(raw, L"Number"), 7u);
  EXPECT_EQ(installed_apps::ReadRegistryDword(raw, L"Plain"), 0u);
  EXPECT_EQ(ReadRegistryString(raw, L"Long"), L"");
  EXPECT_EQ(ReadRegistryString(raw, L"Fits"), std::wstring(1023, L'y'));
  EXPECT_EQ(ReadRegistryString(raw, L"Missing"), L"");
  ::RegCloseKey(raw);
  ::SetEnvironmentVariableW(L"CATALOGUE_TEST_HOME", nullptr);
}

}  // namespace
}  // namespace apps_test
