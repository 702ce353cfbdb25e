// "getAppInfo" and "pickExecutable" through their workers, version resources, and the bound
// on a child process that never closes its output.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cwchar>

#include "installed_apps/catalogue_workers.h"
#include "installed_apps/file_facts/exe_version.h"
#include "processes/process_launch.h"
#include "windows_test_support.h"

namespace apps_test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

// The fixture's path as the app sends it: UTF-8 (the build folder has non-ASCII letters).
std::string Utf8Path(const std::wstring& fixture) {
  const std::wstring wide = FixturePath(fixture);
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                          nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), bytes,
                        nullptr, nullptr);
  return utf8;
}

TEST(GetAppInfo, AnswersTheFileNameAndTheIconOnlyWhenAsked) {
  const WorkerAnswer empty = CallWorker([](installed_apps::AppsMethodResult result) {
    installed_apps::StartGetAppInfoWorker("", true, std::move(result));
  });
  ASSERT_TRUE(empty.completed);
  EXPECT_EQ(empty.successes, 1);
  EXPECT_TRUE(empty.value.IsNull()) << "no path, no app";

  const std::string path = Utf8Path(L"apps_fixture_alpha.exe");
  for (const bool with_icon : {true, false}) {
    const WorkerAnswer answer = CallWorker([&](installed_apps::AppsMethodResult result) {
      installed_apps::StartGetAppInfoWorker(path, with_icon, std::move(result));
    });
    ASSERT_TRUE(answer.completed);
    EXPECT_EQ(answer.successes, 1);
    const auto* map = std::get_if<EncodableMap>(&answer.value);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(StringMember(*map, "name"), "Apps_fixture_alpha");
    EXPECT_EQ(StringMember(*map, "packageName"), path);
    EXPECT_EQ(StringMember(*map, "versionName"), "");
    EXPECT_EQ(*Member(*map, "isLaunchableApp"), EncodableValue(true));
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
  struct Case {
    bool user_picks;
    EncodableValue expected;
  } cases[] = {
      {true, EncodableValue(std::string("C:\\Users\\J\xC3\xB6rg M\xC3\xBCller\\Apps\\Caf\xC3\xA9 "
                                        "Player\\player.exe"))},
      {false, EncodableValue()},
  };
  for (const Case& c : cases) {
    std::atomic<bool> release{false};
    std::atomic<bool> shown{false};
    HWND seen_owner = nullptr;
    std::wstring title;
    DWORD flags = 0;
    WorkerAnswer second;
    const WorkerAnswer first = CallWorker([&](installed_apps::AppsMethodResult result) {
      installed_apps::StartPickExecutableWorker(
          std::move(result), owner, [&](OPENFILENAMEW& dialog) {
            seen_owner = dialog.hwndOwner;
            title = dialog.lpstrTitle ? dialog.lpstrTitle : L"";
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
    ASSERT_TRUE(first.completed);
    EXPECT_EQ(first.successes, 1);
    EXPECT_EQ(first.value, c.expected);
    EXPECT_EQ(seen_owner, owner);
    EXPECT_EQ(title, L"Select application");
    EXPECT_EQ(flags & (OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR),
              DWORD{OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR});
    ASSERT_TRUE(second.completed);
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

TEST(ProcessCapture, CollectsOutputAndEndsAChildThatNeverClosesIt) {
  CapturedOutput output;
  ASSERT_TRUE(RunCapturedProcess(L"cmd.exe /C echo hello", {}, &output));
  EXPECT_EQ(output.text, "hello\r\n");
  EXPECT_FALSE(RunCapturedProcess(L"C:\\no\\such\\program.exe", {}, &output));

  CaptureLimits limits;
  limits.read_ms = 1500;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(
      RunCapturedProcess(L"\"" + FixturePath(L"apps_fixture_hang.exe") + L"\"", limits, &output));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(output.text, "started\r\n");         // the child's C runtime writes text mode
  EXPECT_TRUE(output.timed_out);
  EXPECT_LT(elapsed, std::chrono::seconds(30));  // only a hang: the limit is 1.5 s
}

}  // namespace
}  // namespace apps_test
