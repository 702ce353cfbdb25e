// Proxy-only mode under Wine with the core stand-in and a server stand-in, in a world like a
// user's: their own proxy set, a realistic configuration, a temp folder with non-ASCII letters.
// A session from start to stop, a core that dies, a host that is killed, refusals.
#include "proxy_mode/xray_service.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "common/text_encoding.h"
#include "common/unique_handle.h"
#include "config_text/vpn_config_file.h"
#include "core_standin/outbound_server.h"
#include "core_standin/realistic_config.h"
#include "core_standin/standin_paths.h"
#include "probes/loopback_ports.h"
#include "proxy_mode/system_proxy.h"
#include "proxy_mode/system_proxy_guard.h"
#include "support/byte_files.h"
#include "support/local_http_server.h"
#include "support/planted_files.h"
#include "support/process_census.h"

namespace zelvora {
namespace {

const core_standin::UseAsCurrentFolder kUseStandin;

using Clock = std::chrono::steady_clock;

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// A realistic configuration whose server is `server_port`, on ports free right now.
core_standin::RealisticConfig Realistic(uint16_t server_port, const std::string& markers = "") {
  core_standin::RealisticConfig realistic;
  realistic.socks_port = FindFreeLoopbackPort();
  realistic.http_port = FindFreeLoopbackPort();
  realistic.server_port = server_port;
  realistic.markers = markers;
  return realistic;
}

// A proxy the user set up themselves (a company proxy with its own bypass list).
const ProxySettings kUsersProxy{PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, "corp-proxy.example:3128",
                                "<local>;*.corp.example", ""};

// The user's proxy set for one test, as WinINet reads it back (Wine drops some bits); the
// prefix's own setting returns afterwards, so other tests find the machine as it was.
class UsersProxy {
 public:
  UsersProxy() {
    EXPECT_TRUE(ReadProxySettings(&original_));
    EXPECT_TRUE(ApplyProxySettings(kUsersProxy));
    EXPECT_TRUE(ReadProxySettings(&read_back_));
    EXPECT_EQ(read_back_.server, kUsersProxy.server);
  }
  ~UsersProxy() { ApplyProxySettings(original_); }
  const ProxySettings& settings() const { return read_back_; }

 private:
  ProxySettings original_;
  ProxySettings read_back_;
};

ProxySettings CurrentProxy() {
  ProxySettings read;
  EXPECT_TRUE(ReadProxySettings(&read));
  return read;
}

}  // namespace

void PrintTo(const ProxySettings& settings, std::ostream* out) {
  *out << "{flags " << settings.flags << ", server \"" << settings.server << "\", bypass \""
       << settings.bypass << "\", autoconfig \"" << settings.autoconfig_url << "\"}";
}

namespace {

// A session as a user has it: their own proxy configured, a realistic configuration whose SOCKS
// port another program holds, the server reached through the configured outbound. Everything
// the app asks for works, and the end gives the user's settings back.
TEST(XrayService, RealisticSessionThroughTheServerGivesTheUsersProxyBack) {
  const UsersProxy users_proxy;
  const ProxySettings& before = users_proxy.settings();
  LocalHttpServer site;
  const std::string url = "http://127.0.0.1:" + std::to_string(site.port()) + "/generate_204";
  OutboundServerStandin server;
  core_standin::RealisticConfig realistic = Realistic(server.port());
  realistic.socks_port = site.port();  // another program holds it
  const std::string config = core_standin::ProxyConfigText(realistic);

  XrayService service;
  ASSERT_FALSE(service.XrayPath().empty());
  ASSERT_TRUE(service.Start(config));
  const uint16_t served = service.SessionSocksPort();
  EXPECT_NE(served, realistic.socks_port) << "the busy port was moved";
  EXPECT_EQ(CurrentProxy().server, "socks=localhost:" + std::to_string(served));
  const std::wstring file = service.ConfigPath();
  EXPECT_TRUE(std::any_of(file.begin(), file.end(), [](wchar_t c) { return c > 0x7F; }))
      << "the test prefix's temp folder must have a non-ASCII name";

  const std::string written = ReadFileBytes(file);
  EXPECT_NE(written.find("\"port\": " + std::to_string(server.port())), std::string::npos)
      << "the server's port is never moved, although its port is busy on loopback\n"
      << written;
  EXPECT_EQ(written.find("allowInsecure"), std::string::npos);
  EXPECT_NE(written.find("\"listen\": \"" + service.ApiAddress() + "\""), std::string::npos);

  // The connected delay goes through the port really served, and through the server.
  EXPECT_GE(service.MeasureConnectedDelay(url), 1);
  EXPECT_EQ(server.relayed(), 1);
  uint64_t up = 0;
  uint64_t down = 0;
  ASSERT_TRUE(WaitFor([&] {
    service.GetTrafficTotals(&up, &down);
    return up > 0 && down > 0;
  }));
  EXPECT_GT(down, 40u) << "a response's worth of bytes";
  EXPECT_LT(up, 400u) << "one small request, counted once";
  EXPECT_EQ(service.GetCoreVersion().rfind("Xray 1.8.24 (Zelvora core stand-in)", 0), 0u);

  // The delay test's own instance reaches the same server on its unchanged port.
  EXPECT_GE(service.MeasureServerDelay(config, url), 1);
  EXPECT_EQ(server.relayed(), 2);
  EXPECT_EQ(CurrentProxy().server, "socks=localhost:" + std::to_string(served));

  service.Stop();
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(std::filesystem::exists(ProxyBackupPath()));
  EXPECT_EQ(HeadProbe(served, url), -1) << "the core is gone";
  EXPECT_EQ(CurrentProxy(), before) << "the user's own proxy is back, exactly";
  service.Stop();
  EXPECT_EQ(CurrentProxy(), before) << "a stop without a session leaves the user's proxy alone";
}

// A core that dies, at start or later, never leaves the user pointed at a dead port: a start
// fails, a running session ends, tells its owner, and gives the user's settings back.
TEST(XrayService, CoreDeathGivesTheUsersProxyBackAndIsReported) {
  struct Case {
    const char* name;
    int exit_after_ms;
    bool start_succeeds;
  };
  const Case cases[] = {// Which step sees it die depends on how fast the core starts.
                        {"dies while starting", 300, false},
                        {"dies during the session", 2500, true}};
  for (const Case& c : cases) {
    const UsersProxy users_proxy;
    const ProxySettings& before = users_proxy.settings();
    OutboundServerStandin server;
    const core_standin::RealisticConfig realistic =
        Realistic(server.port(), "standin_exit_after_ms:" + std::to_string(c.exit_after_ms));
    XrayService service;
    std::atomic<int> exits{0};
    service.SetCoreExitCallback([&] { ++exits; });
    EXPECT_EQ(service.Start(core_standin::ProxyConfigText(realistic)), c.start_succeeds) << c.name;
    const std::wstring file = service.ConfigPath();
    // The report comes last, once the user's settings are back and the file is gone.
    EXPECT_TRUE(WaitFor([&] { return c.start_succeeds ? exits > 0 : !service.IsRunning(); }))
        << c.name;
    EXPECT_EQ(exits, c.start_succeeds ? 1 : 0) << c.name << ": only a session's end is reported";
    EXPECT_EQ(CurrentProxy(), before) << c.name;
    EXPECT_FALSE(std::filesystem::exists(file)) << c.name << ": the server's details are gone";
    EXPECT_FALSE(std::filesystem::exists(ProxyBackupPath())) << c.name;
    service.Stop();
    EXPECT_EQ(CurrentProxy(), before) << c.name;
  }
}

// Run as a child by the test below (with kCrashHostVariable set): a session that its host never
// ends, because the host is killed.
constexpr wchar_t kCrashHostVariable[] = L"ZELVORA_TEST_CRASH_HOST_CONFIG";

TEST(CrashHost, RunsASessionUntilKilled) {
  wchar_t config_path[1024] = {};
  if (::GetEnvironmentVariableW(kCrashHostVariable, config_path, 1024) == 0) {
    GTEST_SKIP() << "only as the child of CrashedHostLeavesNothingBehind";
  }
  XrayService* service = new XrayService();  // never ended: the host dies with it
  ASSERT_TRUE(service->Start(ReadFileBytes(config_path)));
  ::Sleep(INFINITE);
}

std::vector<std::filesystem::path> ConfigFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(UserTempDirectory()) / L"tidewire", error)) {
    if (entry.path().filename().wstring().rfind(L"xray_config_", 0) == 0) {
      files.push_back(entry.path());
    }
  }
  return files;
}

// The host is killed in the middle of a session: its core ends with it, and the next start or
// stop gives the user's proxy back and removes the configuration file left behind.
TEST(XrayService, CrashedHostLeavesNothingBehind) {
  const planted::OwnerStandIn owners;  // the crashed host's backup is the administrators'
  const UsersProxy users_proxy;
  const ProxySettings& before = users_proxy.settings();
  OutboundServerStandin server;
  const std::string config = core_standin::ProxyConfigText(Realistic(server.port()));
  const std::filesystem::path config_file =
      std::filesystem::path(UserTempDirectory()) / L"crash host configuration é Ж.json";
  WriteFileBytes(config_file, config);
  for (const auto& file : ConfigFiles()) std::filesystem::remove(file);

  wchar_t self[1024] = {};
  ::GetModuleFileNameW(nullptr, self, 1024);
  std::wstring line =
      L"\"" + std::wstring(self) + L"\" --gtest_filter=CrashHost.RunsASessionUntilKilled";
  ::SetEnvironmentVariableW(kCrashHostVariable, config_file.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
  ::SetEnvironmentVariableW(kCrashHostVariable, nullptr);
  ASSERT_TRUE(started);
  UniqueHandle host(info.hProcess);
  UniqueHandle host_thread(info.hThread);
  const bool up = WaitFor([] { return CurrentProxy().server.rfind("socks=localhost:", 0) == 0; },
                          std::chrono::seconds(60));
  ::TerminateProcess(host.get(), 1);
  ::WaitForSingleObject(host.get(), 5000);
  ASSERT_TRUE(up) << "the host's session never came up";
  EXPECT_TRUE(
      WaitFor([] { return process_census::Count(L"xray.exe") == 0; }, std::chrono::seconds(30)))
      << "the core ends with its host";
  EXPECT_EQ(ConfigFiles().size(), 1u) << "left behind by the crash";
  EXPECT_NE(CurrentProxy(), before) << "still pointing at the dead core";

  XrayService next;
  next.Stop();
  EXPECT_EQ(CurrentProxy(), before) << "a stop restores the settings the backup holds";
  ASSERT_TRUE(next.Start(config));
  EXPECT_EQ(ConfigFiles(), std::vector<std::filesystem::path>{next.ConfigPath()})
      << "only the new session's file";
  next.Stop();
  EXPECT_EQ(CurrentProxy(), before);
  std::filesystem::remove(config_file);
}

// A standard user plants a backup naming the user's own proxy as "ours" and their proxy as
// the one before: a stop that trusted it would send the user's traffic through theirs. The
// same text in a backup an administrator wrote is restored.
TEST(XrayService, ProxyBackupPlantedByAStandardUserIsNotRestored) {
  const planted::OwnerStandIn owners;
  const std::string text =
      "zelvora-proxy-backup v1\nflags=3\nserver=203.0.113.8:8080\nbypass=\nautoconfig=\n"
      "ours=corp-proxy.example:3128\nend\n";
  for (const bool by_standard_user : {true, false}) {
    SCOPED_TRACE(by_standard_user ? "planted" : "written by an administrator");
    const UsersProxy users_proxy;
    if (by_standard_user) {
      ASSERT_TRUE(planted::PlantAsStandardUser(ProxyBackupPath(), text));
    } else {
      WriteFileBytes(ProxyBackupPath(), text);
    }
    XrayService service;
    service.Stop();
    EXPECT_EQ(CurrentProxy().server,
              by_standard_user ? kUsersProxy.server : std::string("203.0.113.8:8080"));
    EXPECT_EQ(std::filesystem::exists(ProxyBackupPath()), by_standard_user);
    std::filesystem::remove(ProxyBackupPath());
  }
}

TEST(XrayService, RefusalsAndAnswersWithoutASession) {
  XrayService service;
  EXPECT_FALSE(service.Start("{\"inbounds\": [{\"port\": 1}]"));
  EXPECT_EQ(service.MeasureServerDelay("{\"a\": \"open}", "http://127.0.0.1/"), -1);
  EXPECT_EQ(service.MeasureConnectedDelay("http://127.0.0.1/"), -1);
  EXPECT_EQ(service.GetCoreVersion(), "1.8.24") << "from -version without an API client";
}

TEST(XrayService, ApiCommandThatHangsReturnsAfterItsTimeOut) {
  XrayService service;
  std::string output = "old";
  const auto start = Clock::now();
  EXPECT_TRUE(service.RunXrayApiCommand("standin-sleep 60000", &output));
  // Only a hang: the command alone would take a minute, the limit is a few seconds.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(40));
  EXPECT_EQ(output, "");
}

TEST(WriteProxyConfig, FreshFilesWithoutInsecureMembers) {
  std::wstring first;
  std::wstring second;
  ASSERT_TRUE(WriteProxyConfig("{\"allowInsecure\": true, \"a\": 1}", &first));
  ASSERT_TRUE(WriteProxyConfig("{}", &second));
  EXPECT_NE(first, second) << "two writes never share a file";
  EXPECT_NE(first.find(L"\\tidewire\\xray_config_"), std::wstring::npos);
  EXPECT_EQ(ReadFileBytes(first).find("allowInsecure"), std::string::npos);
  EXPECT_EQ(DetectApiAddress(first), std::nullopt);
  std::filesystem::remove(first);
  std::filesystem::remove(second);
}

}  // namespace
}  // namespace zelvora
