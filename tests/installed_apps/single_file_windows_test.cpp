// "getAppInfo" and "pickExecutable" through their workers, and version resources.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>

#include "common/text_encoding.h"
#include "installed_apps/catalogue_workers.h"
#include "installed_apps/file_facts/exe_version.h"
#include "windows_test_support.h"

namespace apps_test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

TEST(GetAppInfo, AnswersTheFileNameAndTheIconOnlyWhenAsked) {
  const WorkerAnswer empty = CallWorker([](installed_apps::AppsMethodResult result) {
    installed_apps::StartGetAppInfoWorker("", true, std::move(result));
  });
  EXPECT_EQ(empty.successes, 1);
  EXPECT_TRUE(empty.value.IsNull()) << "no path, no app";

  // The path as the app sends it: UTF-8 (the build folder has non-ASCII letters).
  const std::string path = WideToUtf8(FixturePath(L"apps_fixture_alpha.exe"));
  for (const bool with_icon : {true, false}) {
    const WorkerAnswer answer = CallWorker([&](installed_apps::AppsMethodResult result) {
      installed_apps::StartGetAppInfoWorker(path, with_icon, std::move(result));
    });
    EXPECT_EQ(answer.successes, 1);
    const auto* map = std::get_if<EncodableMap>(&answer.value);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(StringMember(*map, "name"), "Apps_fixture_alpha");
    EXPECT_EQ(StringMember(*map, "packageName"), path);
    const EncodableValue* icon = Member(*map, "icon");
    ASSERT_NE(icon, nullptr);
    if (with_icon) {
      const DecodedImage image = DecodePng(std::get<std::vector<uint8_t>>(*icon));
      EXPECT_TRUE(image.ok);
      EXPECT_EQ(image.width, ::GetSystemMetrics(SM_CXICON));
    } else {
      EXPECT_TRUE(icon->IsNull());
    }
  }
}

// The system dialog stands in as a function: a real one under Wine either fails at once or,
// now and then, waits for a display that never answers.
TEST(PickExecutable, OwnedDialogAnswersTheChoiceOrNullAndOnlyOneOpensAtATime) {
  const HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
  const std::wstring chosen =
      L"C:\\Users\\J\u00F6rg M\u00FCller\\Apps\\Caf\u00E9 Player\\player.exe";
  const std::string chosen_utf8 =
      "C:\\Users\\J\xC3\xB6rg M\xC3\xBCller\\Apps\\Caf\xC3\xA9 Player\\player.exe";
  struct Case {
    bool user_picks;
    EncodableValue expected;
  } cases[] = {{true, EncodableValue(chosen_utf8)}, {false, EncodableValue()}};
  for (const Case& c : cases) {
    std::atomic<bool> release{false};
    std::atomic<bool> shown{false};
    HWND seen_owner = nullptr;
    DWORD flags = 0;
    WorkerAnswer second;
    const WorkerAnswer first = CallWorker([&](installed_apps::AppsMethodResult result) {
      installed_apps::StartPickExecutableWorker(
          std::move(result), owner, [&](OPENFILENAMEW& dialog) {
            seen_owner = dialog.hwndOwner;
            flags = dialog.Flags;
            shown = true;
            while (!release) ::Sleep(1);
            if (c.user_picks) wcsncpy(dialog.lpstrFile, chosen.c_str(), dialog.nMaxFile);
            return c.user_picks;
          });
      // While the first dialog is open, a second request gets null at once and no dialog.
      while (!shown) ::Sleep(1);
      second = CallWorker([&](installed_apps::AppsMethodResult r) {
        installed_apps::StartPickExecutableWorker(std::move(r), owner,
                                                  [](OPENFILENAMEW&) -> bool { std::abort(); });
      });
      release = true;
    });
    EXPECT_EQ(first.successes, 1);
    EXPECT_EQ(first.value, c.expected);
    EXPECT_EQ(seen_owner, owner);
    EXPECT_EQ(flags & (OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR),
              DWORD{OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR});
    EXPECT_EQ(second.successes, 1);
    EXPECT_TRUE(second.value.IsNull());
  }
}

TEST(ExeVersion, ProductVersionThenFileVersionInTheFirstLanguage) {
  EXPECT_EQ(installed_apps::ReadExeFileVersion(FixturePath(L"apps_fixture_alpha.exe")), L"4.5.6");
  EXPECT_EQ(installed_apps::ReadExeFileVersion(FixturePath(L"apps_fixture_file_version.exe")),
            L"1.0.0.7");
  EXPECT_EQ(installed_apps::ReadExeFileVersion(FixturePath(L"apps_fixture_plain.exe")), L"");
  EXPECT_EQ(installed_apps::ReadExeFileVersion(L"C:\\does\\not\\exist.exe"), L"");
  EXPECT_EQ(installed_apps::ReadExeFileVersion(L""), L"");
}

}  // namespace
}  // namespace apps_test
