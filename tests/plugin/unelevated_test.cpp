// Without the tunnel service, a process that is not elevated cannot connect. Wine runs tests
// elevated, so the parent test runs this executable again with the limited token linked to
// its own, and the child cases run there.
#include <string>

#include "common/elevation.h"
#include "common/unique_handle.h"
#include "plugin_fixture.h"

namespace zelvora::testing {
namespace {

constexpr char kElevationRequired[] =
    "Administrator permission is required to create the VPN tunnel. Approve the UAC prompt "
    "when Zelvora asks for elevation.";

UniqueHandle LimitedPrimaryToken() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return UniqueHandle();
  UniqueHandle own(raw);
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!::GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof(linked), &size)) {
    return UniqueHandle();
  }
  UniqueHandle linked_token(linked.LinkedToken);
  HANDLE primary = nullptr;
  if (!::DuplicateTokenEx(linked_token.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                          TokenPrimary, &primary)) {
    return UniqueHandle();
  }
  return UniqueHandle(primary);
}

TEST(Unelevated, ChildCasesPassWithALimitedToken) {
  if (!IsProcessElevated()) GTEST_SKIP() << "already unelevated: the child cases run here";
  UniqueHandle token = LimitedPrimaryToken();
  ASSERT_TRUE(token) << "no linked limited token";
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring command =
      L"\"" + std::wstring(self) + L"\" --gtest_filter=UnelevatedChild.*:UnelevatedChildTest.*";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(::CreateProcessAsUserW(token.get(), nullptr, command.data(), nullptr, nullptr, FALSE,
                                     0, nullptr, nullptr, &startup, &info));
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  ASSERT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  DWORD exit_code = 1;
  ::GetExitCodeProcess(process.get(), &exit_code);
  EXPECT_EQ(exit_code, 0u) << "the child cases failed; their output is above";
}

class UnelevatedChildTest : public PluginTest {
 protected:
  void SetUp() override {
    if (IsProcessElevated()) GTEST_SKIP() << "runs only in the unelevated child";
    ASSERT_EQ(host_->Listen("tidewire/status").kind, ReplyKind::kSuccess);
    host_->TakeEvents("tidewire/status");
  }
  EncodableValue StartArgs(bool proxy_only) {
    return Map({{"remark", EncodableValue("r")},
                {"config", EncodableValue("{\"inbounds\":[]}")},
                {"proxy_only", EncodableValue(proxy_only)}});
  }
};

TEST_F(UnelevatedChildTest, StartsAndRestartsNeedElevationAndChangeNothing) {
  ExpectSuccess(Call("isProcessElevated"), EncodableValue(false));
  ExpectSuccess(Call("requestPermission"), EncodableValue(false));
  ExpectError(Call("startVless", StartArgs(false)), "ELEVATION_REQUIRED", kElevationRequired);
  ExpectError(Call("startVless", StartArgs(true)), "ELEVATION_REQUIRED", kElevationRequired);
  ExpectError(Call("restartVless", StartArgs(false)), "ELEVATION_REQUIRED", kElevationRequired);
  EXPECT_EQ(host_->PendingEventCount("tidewire/status"), 0u) << "no status before the check";
}

}  // namespace
}  // namespace zelvora::testing
