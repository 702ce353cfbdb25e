// The name-resolution policy in Wine's real registry and ProgramData, and the real filtering
// engine's contract where the platform offers it.
#include "vpn_engine/dns_protection/name_resolution_policy.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "machine_files.h"
#include "support/planted_files.h"
#include "vpn_engine/host/windows_filtering_engine.h"

namespace {

using machine::kParallel;
using machine::kSmart;
using machine::ReadBytes;
using machine::ReadPolicy;
using machine::SetPolicy;

TEST(NameResolutionPolicyTest, SavesExactlyAndPutsBackWhatWasThere) {
  const planted::OwnerStandIn owners;
  const struct {
    std::optional<DWORD> smart, parallel;
    bool smart_as_text;
    const char* file;
  } cases[] = {
      {std::nullopt, std::nullopt, false, "v1\n0\n0\n0\n0\n"},
      {0u, 7u, false, "v1\n1\n0\n1\n7\n"},
      {1u, std::nullopt, true, "v1\n0\n0\n0\n0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    SetPolicy(kSmart, c.smart, c.smart_as_text);
    SetPolicy(kParallel, c.parallel);
    ApplyNameResolutionPolicy();
    EXPECT_EQ(ReadPolicy(kSmart), 1u);
    EXPECT_EQ(ReadPolicy(kParallel), 1u);
    EXPECT_EQ(ReadBytes(machine::ZelvoraFile(L"smhnr_restore.v1")), std::string(c.file));
    EXPECT_EQ(ReadBytes(machine::ZelvoraFile(L"smhnr_session_owned.flag")), std::string("1"));
    RestoreNameResolutionPolicy();
    EXPECT_EQ(ReadPolicy(kSmart), c.smart_as_text ? std::nullopt : c.smart);
    EXPECT_EQ(ReadPolicy(kParallel), c.parallel);
    EXPECT_FALSE(ReadBytes(machine::ZelvoraFile(L"smhnr_restore.v1")));
    EXPECT_FALSE(ReadBytes(machine::ZelvoraFile(L"smhnr_session_owned.flag")));
  }
}

// The previous values reach the disk before they change: when the backup cannot be written
// (a folder stands in its place), the policy stays as it is, and the failure is reported.
TEST(NameResolutionPolicyTest, NothingChangesBeforeItsBackupIsSaved) {
  const planted::OwnerStandIn owners;
  SetPolicy(kSmart, 0u);
  SetPolicy(kParallel, std::nullopt);
  const std::wstring file = machine::ZelvoraFile(L"smhnr_restore.v1");
  ASSERT_TRUE(CreateDirectoryW(file.c_str(), nullptr));
  EXPECT_FALSE(ApplyNameResolutionPolicy());
  ForgetNameResolutionPolicyMemory();  // the process ends while connected
  RemoveDirectoryW(file.c_str());
  RestoreNameResolutionPolicy();
  EXPECT_EQ(ReadPolicy(kSmart), 0u);
  EXPECT_EQ(ReadPolicy(kParallel), std::nullopt);
  SetPolicy(kSmart, std::nullopt);
  machine::ClearSessionBackups();
}

TEST(NameResolutionPolicyTest, AnUntrustworthyFileChangesNothing) {
  const planted::OwnerStandIn owners;
  // The last one is well formed, but a standard user planted it.
  const std::string planted_by_user = "v1\n1\n0\n1\n0\n";
  for (const std::string bad : {"v2\n1\n0\n1\n0\n", "v1\r\n1\n0\n1\n0\n", "v1\n1\n0\n",
                                "v1\n1\n0\nx\n0\n", "v1\n1\n-5\n1\n0\n", planted_by_user.c_str()}) {
    SCOPED_TRACE(bad);
    SetPolicy(kSmart, 1u);
    SetPolicy(kParallel, 1u);
    if (bad == planted_by_user) {
      ASSERT_TRUE(planted::PlantAsStandardUser(machine::ZelvoraFile(L"smhnr_restore.v1"), bad));
    } else {
      ASSERT_TRUE(machine::WriteBytes(machine::ZelvoraFile(L"smhnr_restore.v1"), bad));
    }
    RestoreNameResolutionPolicy();
    EXPECT_EQ(ReadPolicy(kSmart), 1u);
    EXPECT_EQ(ReadPolicy(kParallel), 1u);
    EXPECT_EQ(ReadBytes(machine::ZelvoraFile(L"smhnr_restore.v1")), bad);
  }
  machine::ClearSessionBackups();
  SetPolicy(kSmart, std::nullopt);
  SetPolicy(kParallel, std::nullopt);
}

// The production filtering engine against the platform. Wine has no filtering engine (its
// open fails and its transaction calls end the process), so this only runs where the open
// works: there it adds a permit filter for a documentation address inside a transaction and
// aborts it, which leaves the machine as it was.
TEST(WindowsFilteringEngineContractTest, OpensATransactionAndAbortsCleanly) {
  WindowsFilteringEngine engine;
  WfpSession session = 0;
  const uint32_t open = engine.OpenDynamicSession(&session);
  if (open != 0) {
    GTEST_SKIP() << "no filtering engine on this system (FwpmEngineOpen0 error " << open << ")";
  }
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::vector<uint8_t> app_id;
  EXPECT_EQ(engine.AppIdFromFileName(self, &app_id), 0u);
  ASSERT_EQ(engine.BeginTransaction(session), 0u);
  const WfpKey sublayer = {
      0x5A656C76, 0x5445, 0x5354, {0x43, 0x4F, 0x4E, 0x54, 0x52, 0x41, 0x43, 0x54}};
  EXPECT_EQ(engine.AddSublayer(session, {sublayer, std::nullopt, "contract test", 1}), 0u);
  const WfpFilterSpec filter{
      "contract test",
      std::nullopt,
      WfpLayer::kAleAuthConnectV4,
      sublayer,
      {{WfpField::kAppId, WfpMatch::kEqual, 0, app_id},
       {WfpField::kRemoteAddressV4, WfpMatch::kEqual, 0xC0000201, {}}},  // 192.0.2.1
      WfpAction::kPermit,
      1};
  uint64_t id = 0;
  EXPECT_EQ(engine.AddFilter(session, filter, &id), 0u);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(engine.AbortTransaction(session), 0u);
  engine.CloseSession(session);
}

}  // namespace
