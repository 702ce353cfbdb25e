// "getAppInfo" and "pickExecutable" through their workers, version resources, and the bound
// on a child process that never closes its output.
#include <gtest/gtest.h>

#include <chrono>

#include "installed_apps/catalogue_workers.h"
#include "installed_apps/exe_version.h"
#include "installed_apps/process_capture.h"
#include "windows_test_support.h"

namespace apps_test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

std::string Utf8Path(const std::wstring& fixture) {
  const std::wstring wide = FixturePath(fixture);
  return std::string(wide.begin(), wide.end());  // the build folder path is ASCII
}

TEST(GetAppInfo, AnswersTheFileNameAndTheIconOnlyWhenAsked) {
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

TEST(GetAppInfo, EmptyPathAnswersNull) {
  const WorkerAnswer answer = CallWorker([](installed_apps::AppsMethodResult result) {
    installed_apps::StartGetAppInfoWorker("", true, std::move(result));
  });
  ASSERT_TRUE(answer.completed);
  EXPECT_EQ(answer.successes, 1);
  EXPECT_TRUE(answer.value.IsNull());
}

TEST(PickExecutable, WithoutADisplayAnswersNullLikeACancel) {
  const WorkerAnswer answer = CallWorker([](installed_apps::AppsMethodResult result) {
    installed_apps::StartPickExecutableWorker(std::move(result));
  });
  ASSERT_TRUE(answer.completed);
  EXPECT_EQ(answer.successes, 1);
  EXPECT_EQ(answer.other_completions, 0);
  EXPECT_TRUE(answer.value.IsNull());
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
  EXPECT_EQ(installed_apps::RunHiddenCaptureStdout(L"cmd.exe /C echo hello", {}), "hello\r\n");
  EXPECT_EQ(installed_apps::RunHiddenCaptureStdout(L"C:\\no\\such\\program.exe", {}), "");

  installed_apps::CaptureLimits limits;
  limits.read_ms = 1500;
  const auto start = std::chrono::steady_clock::now();
  const std::string output = installed_apps::RunHiddenCaptureStdout(
      L"\"" + FixturePath(L"apps_fixture_hang.exe") + L"\"", limits);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(output, "started\r\n");  // the child's C runtime writes text mode
  EXPECT_LT(elapsed, std::chrono::seconds(10));
}

}  // namespace
}  // namespace apps_test
