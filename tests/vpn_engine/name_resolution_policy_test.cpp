// The name-resolution policy in Wine's real registry and ProgramData, and the real filtering
// engine's contract where the platform offers it.
#include "vpn_engine/name_resolution_policy.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "vpn_engine/windows_filtering_engine.h"

namespace {

const wchar_t kSmartKey[] = L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\DNSClient";
const wchar_t kParallelKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Dnscache\\Parameters";

std::wstring DataFile(const wchar_t* name) {
  const wchar_t* data = _wgetenv(L"ProgramData");
  return std::wstring(data ? data : L"C:\\ProgramData") + L"\\Zelvora\\" + name;
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return std::nullopt;
  std::string bytes;
  char chunk[512];
  size_t got;
  while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.append(chunk, got);
  fclose(file);
  return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
  FILE* file = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

std::optional<DWORD> Read(const wchar_t* key, const wchar_t* name) {
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD, nullptr, &data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return data;
}

// A value of another type counts as absent for the policy.
void Set(const wchar_t* key, const wchar_t* name, std::optional<DWORD> value,
         bool as_text = false) {
  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                            nullptr),
            ERROR_SUCCESS);
  RegDeleteValueW(handle, name);
  if (value && as_text) {
    RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);
  } else if (value) {
    RegSetValueExW(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*value), 4);
  }
  RegCloseKey(handle);
}

TEST(NameResolutionPolicyTest, SavesExactlyAndPutsBackWhatWasThere) {
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
    Set(kSmartKey, L"DisableSmartNameResolution", c.smart, c.smart_as_text);
    Set(kParallelKey, L"DisableParallelAandAAAA", c.parallel);
    ApplyNameResolutionPolicy();
    EXPECT_EQ(Read(kSmartKey, L"DisableSmartNameResolution"), 1u);
    EXPECT_EQ(Read(kParallelKey, L"DisableParallelAandAAAA"), 1u);
    EXPECT_EQ(ReadBytes(DataFile(L"smhnr_restore.v1")), std::string(c.file));
    EXPECT_EQ(ReadBytes(DataFile(L"smhnr_session_owned.flag")), std::string("1"));
    RestoreNameResolutionPolicy();
    EXPECT_EQ(Read(kSmartKey, L"DisableSmartNameResolution"),
              c.smart_as_text ? std::nullopt : c.smart);
    EXPECT_EQ(Read(kParallelKey, L"DisableParallelAandAAAA"), c.parallel);
    EXPECT_FALSE(ReadBytes(DataFile(L"smhnr_restore.v1")));
    EXPECT_FALSE(ReadBytes(DataFile(L"smhnr_session_owned.flag")));
    RestoreNameResolutionPolicy();  // nothing left to do: nothing changes
    EXPECT_EQ(Read(kParallelKey, L"DisableParallelAandAAAA"), c.parallel);
  }
}

TEST(NameResolutionPolicyTest, AnUntrustworthyFileChangesNothing) {
  for (const std::string bad : {"v2\n1\n0\n1\n0\n", "v1\r\n1\n0\n1\n0\n", "v1\n1\n0\n",
                                "v1\n1\n0\nx\n0\n", "v1\n1\n-5\n1\n0\n"}) {
    SCOPED_TRACE(bad);
    Set(kSmartKey, L"DisableSmartNameResolution", 1u);
    Set(kParallelKey, L"DisableParallelAandAAAA", 1u);
    WriteBytes(DataFile(L"smhnr_restore.v1"), bad);
    RestoreNameResolutionPolicy();
    EXPECT_EQ(Read(kSmartKey, L"DisableSmartNameResolution"), 1u);
    EXPECT_EQ(Read(kParallelKey, L"DisableParallelAandAAAA"), 1u);
    EXPECT_EQ(ReadBytes(DataFile(L"smhnr_restore.v1")), bad);
  }
  DeleteFileW(DataFile(L"smhnr_restore.v1").c_str());
  Set(kSmartKey, L"DisableSmartNameResolution", std::nullopt);
  Set(kParallelKey, L"DisableParallelAandAAAA", std::nullopt);
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
  EXPECT_FALSE(app_id.empty());
  ASSERT_EQ(engine.BeginTransaction(session), 0u);
  const WfpKey sublayer = {
      0x5A656C76, 0x5445, 0x5354, {0x43, 0x4F, 0x4E, 0x54, 0x52, 0x41, 0x43, 0x54}};
  EXPECT_EQ(engine.AddSublayer(session, {sublayer, "contract test", 1}), 0u);
  WfpFilterSpec filter;
  filter.displayName = "contract test";
  filter.subLayerKey = sublayer;
  filter.action = WfpAction::kPermit;
  filter.weight = 1;
  WfpCondition app;
  app.field = WfpField::kAppId;
  app.appId = app_id;
  WfpCondition address;
  address.field = WfpField::kRemoteAddressV4;
  address.value = 0xC0000201;  // 192.0.2.1
  filter.conditions = {app, address};
  uint64_t id = 0;
  EXPECT_EQ(engine.AddFilter(session, filter, &id), 0u);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(engine.AbortTransaction(session), 0u);
  engine.CloseSession(session);
}

}  // namespace
