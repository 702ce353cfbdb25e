// The catalogue under Wine beyond one request (the realistic machine has that): repeat requests,
// the session's user when the app runs elevated under another account, registry values.
#include <gtest/gtest.h>

#include "installed_apps/catalogue_workers.h"
#include "installed_apps/file_facts/icon_png.h"
#include "installed_apps/rules/path_text.h"
#include "installed_apps/scan/registry_values.h"
#include "installed_apps/scan/session_user.h"
#include "windows_test_support.h"

namespace apps_test {
namespace {

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
      if (app.package_name.rfind("C:\\CatalogueTest\\", 0) == 0) apps.push_back(std::move(app));
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

// Expanding is the caller's choice (the realistic machine has expanded paths of both types);
// other types and texts longer than the 2048-byte buffer read as empty.
TEST(RegistryValues, TextsThatDoNotFitOrAreNoTextReadAsEmpty) {
  const std::wstring key = std::wstring(kUninstall) + L"CatalogueTest.Values";
  RegistryKeys keys;
  keys.Write(HKEY_CURRENT_USER, 0, key,
             {{L"Plain", L"%CATALOGUE_TEST_HOME%\\Zoom"},
              {L"Number", 7u},
              {L"Long", std::wstring(1100, L'x')},
              {L"Fits", std::wstring(1023, L'y')}});
  HKEY raw = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &raw), ERROR_SUCCESS);
  using installed_apps::ReadRegistryString;
  EXPECT_EQ(ReadRegistryString(raw, L"Plain", /*expand=*/false), L"%CATALOGUE_TEST_HOME%\\Zoom");
  EXPECT_EQ(ReadRegistryString(raw, L"Number"), L"");
  EXPECT_EQ(installed_apps::ReadRegistryDword(raw, L"Number"), 7u);
  EXPECT_EQ(installed_apps::ReadRegistryDword(raw, L"Plain"), 0u);
  EXPECT_EQ(ReadRegistryString(raw, L"Long"), L"");
  EXPECT_EQ(ReadRegistryString(raw, L"Fits"), std::wstring(1023, L'y'));
  ::RegCloseKey(raw);
}

}  // namespace
}  // namespace apps_test
