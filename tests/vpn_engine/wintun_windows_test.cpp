// The Wintun holder's Win32 side under Wine: wintun.dll found in a user-like folder and loaded
// for real (the stand-in DLL), the adapter created once and then opened, an incomplete DLL
// refused, and the registry pass of the profile rename on Wine's real registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/adapter_routes/wintun_holder_win32.h"
#include "vpn_engine/host/adapter_driver_win32.h"

namespace {

namespace fs = std::filesystem;

// The stand-ins land in wintun_standin\ beside the test programs (in the app folder).
fs::path StandIn(const char* file) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return fs::path(std::wstring(buffer, length)).parent_path() / L"wintun_standin" / file;
}

// A fresh app folder with non-ASCII letters and blanks, made the current folder for the test.
struct AppFolder {
  const fs::path saved = fs::current_path();
  const fs::path root = fs::temp_directory_path() / L"Zelvora J\u00f6rg \u00dcbung";
  AppFolder() {
    fs::remove_all(root);
    fs::create_directories(root / L"xray");
    fs::current_path(root);
  }
  ~AppFolder() {
    fs::current_path(saved);
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

TEST(WintunWindows, StandInDllIsFoundLoadedAndKeepsOneAdapterAndABadOneIsRefused) {
  AppFolder app;
  // A wintun.dll in the current folder is never taken: only the application's own folders
  // count (nothing lies beside the test program).
  fs::copy_file(StandIn("wintun_incomplete.dll"), app.root / L"wintun.dll");
  fs::copy_file(StandIn("wintun.dll"), app.root / L"xray" / L"wintun.dll");
  EXPECT_EQ(zelvora::FindWintunDll(), L"");
  const std::wstring found = (app.root / L"xray" / L"wintun.dll").wstring();

  zelvora::Win32AdapterDriver driver;
  zelvora::WintunHolder holder(
      driver, [&] { return found; }, nullptr);
  ASSERT_TRUE(holder.EnsureAdapter());  // open fails, create succeeds
  EXPECT_TRUE(holder.EnsureAdapter());  // held: nothing more

  HMODULE module = ::GetModuleHandleW(found.c_str());
  ASSERT_NE(module, nullptr);
  using CountFn = int(WINAPI*)();
  auto count = reinterpret_cast<CountFn>(::GetProcAddress(module, "WintunStandInAdapterCount"));
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count(), 1);

  // A second holder (a restarted engine) opens the existing adapter instead of creating one.
  zelvora::Win32AdapterDriver other_driver;
  {
    zelvora::WintunHolder second(
        other_driver, [&] { return found; }, nullptr);
    EXPECT_TRUE(second.EnsureAdapter());
    EXPECT_EQ(count(), 1);
  }
  // Releasing for tun2socks' or Xray's own adapter closes the created one, which removes it.
  holder.ReleaseForTunnelProcess();
  EXPECT_EQ(count(), 0);

  // An incomplete or missing DLL is refused.
  zelvora::Win32AdapterDriver driver3;
  uint32_t error = 0;
  EXPECT_EQ(driver3.LoadWintun(StandIn("wintun_incomplete.dll").wstring(), &error),
            zelvora::WintunLoadResult::kMissingExports);
  EXPECT_EQ(driver3.LoadWintun((StandIn("") / L"absent \u00e9\\wintun.dll").wstring(), &error),
            zelvora::WintunLoadResult::kLoadFailed);
  EXPECT_NE(error, 0u);
  EXPECT_EQ(driver3.OpenAdapter(L"Zelvora", &error), 0u);  // nothing loaded: no call
}

TEST(WintunWindows, RegistryProfilesNamedLikeTheAdapterAreRenamed) {
  const wchar_t* kProfiles =
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkList\\Profiles";
  struct Profile {
    const wchar_t* key;
    const wchar_t* name;  // null: a DWORD value instead of a string
    const wchar_t* after;
  };
  const Profile profiles[] = {
      {L"{7E1A0001-0000-4000-8000-00000000ZV01}", L"Zelvora 4", L"Zelvora Network"},
      {L"{7E1A0001-0000-4000-8000-00000000ZV03}", L"Heimnetz K\u00fcche", L"Heimnetz K\u00fcche"},
      {L"{7E1A0001-0000-4000-8000-00000000ZV05}", nullptr, nullptr},
  };
  for (const Profile& p : profiles) {
    const std::wstring path = std::wstring(kProfiles) + L"\\" + p.key;
    const DWORD number = 4;
    ASSERT_EQ(p.name ? ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"ProfileName", REG_SZ,
                                         p.name, DWORD((wcslen(p.name) + 1) * sizeof(wchar_t)))
                     : ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"ProfileName",
                                         REG_DWORD, &number, sizeof(number)),
              ERROR_SUCCESS);
  }

  zelvora::RenameRegistryNetworkProfiles();

  for (const Profile& p : profiles) {
    const std::wstring path = std::wstring(kProfiles) + L"\\" + p.key;
    wchar_t value[300] = {};
    DWORD size = sizeof(value);
    DWORD type = 0;
    EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"ProfileName", RRF_RT_ANY, &type,
                             value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(p.after ? REG_SZ : REG_DWORD));
    if (p.after) EXPECT_EQ(std::wstring(value), p.after);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
  }
}

}  // namespace
