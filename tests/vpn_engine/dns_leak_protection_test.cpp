// DNS leak protection on the simulated home machine: apply and restore, a crash while connected,
// planted and damaged backup files, and failures of the apply. The simulated host interprets
// every netsh command the engine runs and fails the test on any form it does not know; its
// filtering platform answers whether a query would get out; the policy values live in Wine's
// real registry and the backup files in its real ProgramData folder.
#include "vpn_engine/dns_protection/dns_leak_protection.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "machine_files.h"
#include "simulated_host/home_machine.h"
#include "simulated_host/simulated_host.h"
#include "support/host_compare.h"
#include "support/log_since.h"
#include "support/planted_files.h"
#include "vpn_engine/dns_protection/name_resolution_policy.h"

namespace {

using simhost::HostState;
using simhost::SimulatedHost;

const std::string kXrayPath =
    "C:\\Users\\Zo\xC3\xAB M\xC3\xBCller\\AppData\\Local\\Zelvora VPN\\xray\\xray.exe";
const std::wstring kXrayWide =
    L"C:\\Users\\Zo\u00EB M\u00FCller\\AppData\\Local\\Zelvora VPN\\xray\\xray.exe";
const std::string kFirefox = "C:\\Program Files\\Mozilla Firefox\\firefox.exe";
const std::string kSvchost = "C:\\Windows\\System32\\svchost.exe";
const std::string kWifi =
    "WLAN K\xC3\xBC"
    "che";

using machine::kParallel;
using machine::kSmart;
using machine::ReadBytes;
using machine::ReadPolicy;
using machine::SetPolicy;

std::wstring BackupPath() { return machine::ZelvoraFile(L"dns_restore.v1"); }
std::wstring AsidePath() { return machine::ZelvoraFile(L"dns_restore.v1.unrestored"); }

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  ASSERT_TRUE(machine::WriteBytes(path, bytes));
}

// ---- the engine's side ----

// Forwards to the simulated host and lets a test act just before a command runs.
class WatchedRunner : public zelvora::CommandRunner {
 public:
  explicit WatchedRunner(SimulatedHost& host) : host_(host) {}
  std::function<void(const std::string&)> before;
  bool Run(const std::string& command, uint32_t timeout_ms, bool log_failure) override {
    if (before) before(command);
    return host_.Run(command, timeout_ms, log_failure);
  }

 private:
  SimulatedHost& host_;
};

// What the engine holds for one connection (one process's worth of memory).
struct Connection {
  Connection(SimulatedHost& host, zelvora::CommandRunner& runner,
             std::vector<std::string> servers = {})
      : dnsServers(std::move(servers)), guard(host.Filtering()), context{host,       runner,
                                                                         guard,      running,
                                                                         backups,    blockedApps,
                                                                         dnsServers, xrayPath} {}
  std::atomic<bool> running{true};
  std::vector<DnsBackupRecord> backups;
  std::vector<std::string> blockedApps;
  std::vector<std::string> dnsServers;
  std::string xrayPath = kXrayPath;
  DnsGuard guard;
  DnsProtectionContext context;
};

class DnsLeakProtectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No record of an earlier case's backup may vouch for a file this case writes.
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelvora\\TrustedState", KEY_WOW64_64KEY, 0);
    TearDown();
    host_ = std::make_unique<SimulatedHost>(simhost::HomeMachineWithTunnelAdapter());
    host_->Filtering().AddProgram(kXrayWide);
    runner_ = std::make_unique<WatchedRunner>(*host_);
  }
  void TearDown() override {
    // The prefix is shared with the other tests and the demo: leave no backup (or the folder
    // one case plants in its place) behind.
    DeleteFileW(BackupPath().c_str());
    DeleteFileW(AsidePath().c_str());
    RemoveDirectoryW(BackupPath().c_str());
    SetPolicy(kSmart, std::nullopt);
    SetPolicy(kParallel, std::nullopt);
  }

  // Would a packet from `program` to `remote`:`port` leave on that adapter?
  bool Out(const std::string& program, const std::string& remote, uint16_t port,
           const std::wstring& adapter) const {
    return host_->WouldAllow({program, false, remote, port, 0}, adapter);
  }

  const simhost::Adapter& Adapter(const HostState& state, const std::wstring& name) const {
    for (const auto& a : state.adapters) {
      if (a.name == name) return a;
    }
    ADD_FAILURE() << "no adapter";
    return state.adapters.front();
  }

  std::vector<std::string> Commands() const {
    std::vector<std::string> lines;
    for (const auto& c : host_->Commands()) lines.push_back(c.command);
    return lines;
  }

  size_t IndexOf(const std::vector<std::string>& lines, const std::string& needle) const {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].find(needle) != std::string::npos) return i;
    }
    return lines.size();
  }

  // Disconnect as the engine does it: cleanup, then the stop's wait.
  void Disconnect(Connection& connection) {
    RestoreDnsAsync(connection.context);
    WaitForDnsRestore(30000);  // catches a hang only
  }

  std::unique_ptr<SimulatedHost> host_;
  std::unique_ptr<WatchedRunner> runner_;
  planted::OwnerStandIn owners_;  // files the engine wrote are the administrators'
};

TEST_F(DnsLeakProtectionTest, ConnectLeaksNothingAndDisconnectGivesEverythingBack) {
  const struct {
    std::vector<std::string> configured;
    std::vector<std::string> tunnelDns;    // what the tunnel adapter gets
    std::optional<DWORD> smart, parallel;  // the policy values before
    // The core's own servers in other forms ("udp://1.1.1.1", "tcp://8.8.8.8:53").
    std::vector<std::string> coreHosts = {};
  } cases[] = {
      {{"1.1.1.1"}, {"1.1.1.1"}, std::nullopt, std::nullopt},
      {{}, {"9.9.9.9", "149.112.112.112"}, 0u, std::nullopt, {"1.1.1.1", "8.8.8.8"}},
      {{"8.8.8.8", "8.8.4.4", "1.1.1.1"}, {"8.8.8.8", "8.8.4.4", "1.1.1.1"}, 0u, 1u},
      {{"8.8.8.8", "8.8.4.4", "1.1.1.1", "9.9.9.9"},
       {"8.8.8.8", "8.8.4.4", "1.1.1.1"},
       std::nullopt,
       0u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.configured.size());
    SetUp();
    SetPolicy(kSmart, c.smart);
    SetPolicy(kParallel, c.parallel);
    const HostState before = host_->Snapshot();
    // Each physical adapter must be in the file on disk before its first command.
    runner_->before = [](const std::string& command) {
      for (const std::string& name : {std::string("Ethernet"), kWifi}) {
        if (command.find("name=\"" + name + "\"") == std::string::npos) continue;
        const auto file = ReadBytes(BackupPath());
        EXPECT_TRUE(file && file->find("\n" + name + "\n") != std::string::npos)
            << "touched before it was saved: " << command;
      }
    };
    Connection connection(*host_, *runner_, c.configured);
    connection.context.coreDnsHosts = &c.coreHosts;

    ASSERT_TRUE(ApplyDnsLeakProtection(connection.context, "Zelvora"));
    runner_->before = nullptr;

    const HostState on = host_->Snapshot();
    for (const std::wstring& name : {std::wstring(L"Ethernet"), std::wstring(L"WLAN K\u00fcche")}) {
      EXPECT_EQ(Adapter(on, name).ReportedDnsV4(), std::vector<std::string>{"127.0.0.1"});
      EXPECT_EQ(Adapter(on, name).interface_metric, 5000u);
      EXPECT_FALSE(Adapter(on, name).automatic_metric);
    }
    EXPECT_EQ(Adapter(on, L"Zelvora").ReportedDnsV4(), c.tunnelDns);
    EXPECT_EQ(Adapter(on, simhost::home::kUnsafeName), Adapter(before, simhost::home::kUnsafeName));
    EXPECT_EQ(ReadPolicy(kSmart), 1u);
    EXPECT_EQ(ReadPolicy(kParallel), 1u);
    EXPECT_GE(host_->FlushCount(), 1);

    // The leak questions, on this machine's adapters (the guard's own matrix is in its test):
    // only the core reaches the tunnel's DNS servers and its own outside the tunnel.
    EXPECT_FALSE(Out(kFirefox, "8.8.8.8", 53, L"Ethernet"));
    EXPECT_FALSE(Out(kSvchost, "195.34.133.21", 53, L"WLAN K\u00fcche"));
    EXPECT_FALSE(Out(kSvchost, "192.168.56.1", 53, simhost::home::kUnsafeName));
    EXPECT_FALSE(Out(kFirefox, "2a00:1450:4001:82b::200e", 443, L"Ethernet"));
    EXPECT_TRUE(Out(kFirefox, "2a00:1450:4001:82b::200e", 443, L"Zelvora"));
    EXPECT_FALSE(Out(kXrayPath, "208.67.222.222", 53, L"Ethernet"));
    for (const auto& server : c.tunnelDns) {
      EXPECT_TRUE(Out(kXrayPath, server, 53, L"Ethernet")) << server;
      EXPECT_FALSE(Out(kFirefox, server, 53, L"WLAN K\u00fcche")) << server;
      EXPECT_TRUE(Out(kSvchost, server, 53, L"Zelvora")) << server;
    }
    for (const auto& server : c.coreHosts) {
      EXPECT_TRUE(Out(kXrayPath, server, 53, L"Ethernet")) << server;
    }

    host_->ClearCommands();
    Disconnect(connection);
    EXPECT_SAME_HOST(before, host_->Snapshot());
    EXPECT_EQ(ReadPolicy(kSmart), c.smart);
    EXPECT_EQ(ReadPolicy(kParallel), c.parallel);
    EXPECT_TRUE(Out(kFirefox, "8.8.8.8", 53, L"Ethernet"));
    EXPECT_FALSE(ReadBytes(BackupPath()));
  }
}

// After the crash the machine rebooted and Windows numbered two interfaces anew.
void SwapEthernetIndexes(HostState& state) {
  auto swap = [](uint32_t& index) {
    if (index == 12) {
      index = 15;
    } else if (index == 15) {
      index = 12;
    }
  };
  for (auto& adapter : state.adapters) {
    swap(adapter.if_index);
    swap(adapter.ipv6_if_index);
  }
  for (auto& route : state.routes) swap(route.if_index);
}

// After the crash the user renamed the Wi-Fi adapter.
void RenameWifi(HostState& state) {
  for (auto& adapter : state.adapters) {
    if (adapter.name == simhost::home::kWifiName) adapter.name = L"WLAN Wohnzimmer é";
  }
}

TEST_F(DnsLeakProtectionTest, NextConnectAfterACrashRestoresEverythingFirst) {
  // 3: renumbered and renamed, on a machine where the files an elevated administrator writes
  // are owned by that user's own account (as under Wine).
  for (const int variant : {0, 1, 2, 3}) {
    const bool stop_between_adapters = variant == 1;
    const bool renumbered = variant >= 2;
    const bool renamed = variant == 3;
    SCOPED_TRACE(variant);
    SetUp();
    owners_.SetPolicy(renamed ? planted::OwnerPolicy::kObjectCreator
                              : planted::OwnerPolicy::kAdministratorsGroup);
    SetPolicy(kSmart, std::nullopt);
    SetPolicy(kParallel, 0u);
    const HostState before = host_->Snapshot();
    TunnelLogWatch log;
    {
      auto crashed = std::make_unique<Connection>(*host_, *runner_);
      if (stop_between_adapters) {
        runner_->before = [&crashed](const std::string& command) {
          if (command.find("static 127.0.0.1") != std::string::npos) crashed->running = false;
        };
      }
      EXPECT_EQ(ApplyDnsLeakProtection(crashed->context, "Zelvora"), !stop_between_adapters);
      runner_->before = nullptr;
      // The process dies here: no restore runs, its memory and its WFP session are gone.
      ForgetNameResolutionPolicyMemory();
      host_->Filtering().DropAllSessions();
      crashed.release();  // its guard must not tidy up either
    }
    if (stop_between_adapters) {
      EXPECT_TRUE(log.Saw("dns-leak: aborted mid-apply (stop requested)"));
    } else {
      EXPECT_EQ(ReadPolicy(kSmart), 1u);
    }
    ASSERT_TRUE(ReadBytes(BackupPath()));
    HostState expected = before;
    if (renumbered) {
      host_->Edit(SwapEthernetIndexes);
      SwapEthernetIndexes(expected);
    }
    if (renamed) {
      host_->Edit(RenameWifi);
      RenameWifi(expected);
    }

    host_->ClearCommands();
    Connection next(*host_, *runner_);
    ASSERT_TRUE(ApplyDnsLeakProtection(next.context, "Zelvora"));
    const auto commands = Commands();
    const size_t first_neutralise = IndexOf(commands, "static 127.0.0.1");
    EXPECT_LT(IndexOf(commands, "netsh interface ipv6 set dns name=\"Ethernet\" dhcp"),
              first_neutralise);
    if (!stop_between_adapters) {
      const std::string wifi = renamed ? "WLAN Wohnzimmer \xC3\xA9" : kWifi;
      EXPECT_LT(IndexOf(commands, "netsh interface ipv6 set dns name=\"" + wifi +
                                      "\" static 2606:4700:4700::1111 primary validate=no"),
                first_neutralise);
      EXPECT_TRUE(log.Saw("dns-guard: SMHNR policy restored from disk backup"));
    }
    Disconnect(next);
    EXPECT_SAME_HOST(host_->Snapshot(), expected);
    EXPECT_EQ(ReadPolicy(kSmart), std::nullopt);
    EXPECT_EQ(ReadPolicy(kParallel), 0u);
    EXPECT_FALSE(ReadBytes(BackupPath()));
  }
}

TEST_F(DnsLeakProtectionTest, AQuickReconnectWaitsForThePreviousRestore) {
  const HostState before = host_->Snapshot();
  Connection first(*host_, *runner_);
  ASSERT_TRUE(ApplyDnsLeakProtection(first.context, "Zelvora"));
  const std::vector<DnsBackupRecord> users_settings = first.backups;
  // The background restore is slow on its last adapter; the user connects again meanwhile.
  host_->InjectCommandFault("netsh interface ipv6 set dns name=\"" + kWifi + "\"",
                            simhost::CommandFault::kSlow, 1, std::chrono::milliseconds(400));
  first.running = false;
  RestoreDnsAsync(first.context);
  EXPECT_TRUE(first.backups.empty());
  Connection second(*host_, *runner_);
  ASSERT_TRUE(ApplyDnsLeakProtection(second.context, "Zelvora"));
  EXPECT_EQ(PendingDnsRestores(), 0);
  // Had it not waited, it would have saved the neutralised 127.0.0.1 as the user's settings.
  EXPECT_EQ(second.backups, users_settings);
  // And nothing of the old restore comes after it to undo the new protection.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Adapter(host_->Snapshot(), L"Ethernet").ReportedDnsV4(),
            std::vector<std::string>{"127.0.0.1"});
  EXPECT_TRUE(ReadBytes(BackupPath()));
  Disconnect(second);
  EXPECT_SAME_HOST(host_->Snapshot(), before);
}

// A restore that does not happen as planned keeps what it could not put back, and the next
// start (or the start-up repair) finishes it: in the end the machine is as it was before the
// first connect. Each fault hits between connect and disconnect.
TEST_F(DnsLeakProtectionTest, ARestoreThatFailsKeepsItsRecordsUntilTheNextStart) {
  const std::string wifi_v4 = "netsh interface ipv4 set dns name=\"" + kWifi + "\" static";
  const struct {
    const char* what;
    std::function<void(SimulatedHost&)> fault;  // between connect and disconnect
    std::function<void(HostState&)> expected;   // what the user changed on purpose
    bool kept;                                  // a record is still on disk after disconnect
  } cases[] = {
      {"netsh killed at its time limit",
       [&](SimulatedHost& h) { h.InjectCommandFault(wifi_v4, simhost::CommandFault::kHang); },
       nullptr, true},
      {"netsh fails",
       [&](SimulatedHost& h) {
         h.InjectCommandFault("netsh interface ipv6 set dns name=\"" + kWifi + "\"",
                              simhost::CommandFault::kFail);
       },
       nullptr, true},
      {"netsh reports success without effect",
       [&](SimulatedHost& h) { h.InjectCommandFault(wifi_v4, simhost::CommandFault::kNoEffect); },
       nullptr, true},
      {"adapter renamed", [](SimulatedHost& h) { h.Edit(RenameWifi); }, RenameWifi, false},
      {"adapters renumbered", [](SimulatedHost& h) { h.Edit(SwapEthernetIndexes); },
       SwapEthernetIndexes, false},
      {"dock adapter unplugged",
       [](SimulatedHost& h) {
         h.Edit([](HostState& s) {
           s.adapters.erase(std::remove_if(s.adapters.begin(), s.adapters.end(),
                                           [](const auto& a) { return a.name == L"Ethernet"; }),
                            s.adapters.end());
         });
       },
       nullptr, true},
  };
  for (const auto& c : cases) {
    for (const bool repair : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (repair ? ", start-up repair" : ", next connect"));
      SetUp();
      const HostState before = host_->Snapshot();
      HostState expected = before;
      if (c.expected) c.expected(expected);
      Connection connection(*host_, *runner_);
      ASSERT_TRUE(ApplyDnsLeakProtection(connection.context, "Zelvora"));
      const HostState connected = host_->Snapshot();
      c.fault(*host_);
      const bool unplugged = std::string(c.what) == "dock adapter unplugged";
      Disconnect(connection);
      EXPECT_EQ(ReadBytes(BackupPath()).has_value(), c.kept);
      if (unplugged) {
        // Plugged in again, as the tunnel left it.
        host_->Edit([&](HostState& s) {
          simhost::Adapter back = Adapter(connected, L"Ethernet");
          s.adapters.insert(s.adapters.begin() + 1, back);
        });
      }
      if (repair) {
        EXPECT_TRUE(RestoreDnsFromBackupFile(*host_, *runner_));
      } else {
        Connection next(*host_, *runner_);
        ASSERT_TRUE(ApplyDnsLeakProtection(next.context, "Zelvora"));
        Disconnect(next);
      }
      EXPECT_SAME_HOST(host_->Snapshot(), expected);
      EXPECT_FALSE(ReadBytes(BackupPath()));
    }
  }
}

// Only settings that are the user's are ever saved as theirs: a backup that could not be read
// is kept aside rather than overwritten, and an adapter still showing the tunnel's DNS stub
// (from a backup lost some other way) gets Windows' defaults back, never 127.0.0.1.
TEST_F(DnsLeakProtectionTest, TheTunnelsOwnValuesAreNeverSavedAsTheUsers) {
  const std::string unreadable = "v1\r\n1\nEthernet\n12\n1\n1\n25\n1\n0\n";
  WriteBytes(BackupPath(), unreadable);
  host_->Edit([](HostState& s) {
    for (auto& a : s.adapters) {
      if (a.name != L"Ethernet") continue;
      a.static_dns_v4 = {"127.0.0.1"};
      a.interface_metric = 5000;
      a.automatic_metric = false;
    }
  });
  HostState expected = host_->Snapshot();
  for (auto& a : expected.adapters) {
    if (a.name != L"Ethernet") continue;
    a.static_dns_v4.clear();
    a.interface_metric = 0;
    a.automatic_metric = true;
  }
  Connection connection(*host_, *runner_);
  ASSERT_TRUE(ApplyDnsLeakProtection(connection.context, "Zelvora"));
  Disconnect(connection);
  EXPECT_SAME_HOST(host_->Snapshot(), expected);
  EXPECT_EQ(ReadBytes(AsidePath()), unreadable);
  EXPECT_FALSE(ReadBytes(BackupPath()));
}

// What the reader makes of damaged files is its own test's matter; here, what the restore does
// with them: no unsafe text on a command line, the file kept unless something was put back.
TEST_F(DnsLeakProtectionTest, PlantedOrDamagedBackupNeverRunsUnsafeText) {
  std::string nine = "v1\n2\n" + kWifi + "\n7\n0\n1\n35\n1\n9\n";
  for (int i = 1; i <= 9; ++i) nine += "10.0.0." + std::to_string(i) + "\n";
  nine += "Ethernet\n12\n1\n1\n25\n1\n0\n";
  const struct {
    const char* what;
    std::string file;
    bool file_stays;
    std::vector<std::string> restored;  // adapters whose DNS is put back
  } cases[] = {
      {"version line from a Windows editor", "v1\r\n1\nEthernet\n12\n1\n1\n25\n1\n0\n", true, {}},
      {"command injection in a name",
       "v1\n2\nEthernet\" & calc & \"\n12\n1\n1\n25\n1\n0\n" + kWifi + "\n7\n1\n1\n35\n1\n0\n",
       false,
       {kWifi}},
      {"huge", "v1\n1\n" + std::string(3 << 20, 'x'), true, {}},
      {"more than eight servers", nine, false, {kWifi, "Ethernet"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    WriteBytes(BackupPath(), c.file);
    Connection connection(*host_, *runner_);
    RevertDnsLeakProtection(connection.context);
    std::vector<std::string> restored;
    for (const auto& command : Commands()) {
      EXPECT_EQ(command.find_first_of("&|%^<>`\r\n"), std::string::npos) << command;
      const size_t open = command.find("name=\"");
      if (open == std::string::npos) continue;
      EXPECT_EQ(std::count(command.begin(), command.end(), '"'), 2) << command;
      const std::string name = command.substr(open + 6, command.find('"', open + 6) - (open + 6));
      if (restored.empty() || restored.back() != name) restored.push_back(name);
    }
    EXPECT_EQ(restored, c.restored);
    EXPECT_EQ(ReadBytes(BackupPath()).has_value(), c.file_stays);
    EXPECT_GE(host_->FlushCount(), 1);
  }
  // Of nine servers (the last case) only the first eight go back, in their places.
  EXPECT_EQ(Adapter(host_->Snapshot(), L"WLAN K\u00fcche").static_dns_v4,
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5",
                                      "10.0.0.6", "10.0.0.7", "10.0.0.8"}));
}

// A standard user plants both backups while nobody is connected, with values that look like
// the user's own: their DNS server for Ethernet, the policy values off. The elevated engine
// must not act on them, neither on its own nor when the administrator connects and
// disconnects; the same bytes in files an administrator wrote are restored.
TEST_F(DnsLeakProtectionTest, BackupsPlantedByAStandardUserRestoreNothing) {
  const std::string dns_file = "v1\n1\nEthernet\n12\n0\n1\n25\n0\n2\n203.0.113.53\n203.0.113.54\n";
  const std::string policy_file = "v1\n0\n0\n1\n0\n";
  const std::wstring policy_path = machine::ZelvoraFile(L"smhnr_restore.v1");
  auto attacker_dns_used = [this] {
    for (const auto& command : Commands()) {
      if (command.find("203.0.113.") != std::string::npos) return true;
    }
    return false;
  };
  for (const bool by_standard_user : {true, false}) {
    SCOPED_TRACE(by_standard_user ? "planted" : "written by an administrator");
    SetUp();
    SetPolicy(kSmart, 1u);
    SetPolicy(kParallel, std::nullopt);
    if (by_standard_user) {
      ASSERT_TRUE(planted::PlantAsStandardUser(BackupPath(), dns_file));
      ASSERT_TRUE(planted::PlantAsStandardUser(policy_path, policy_file));
    } else {
      WriteBytes(BackupPath(), dns_file);
      WriteBytes(policy_path, policy_file);
    }
    TunnelLogWatch log;
    Connection connection(*host_, *runner_);
    RevertDnsLeakProtection(connection.context);
    EXPECT_EQ(attacker_dns_used(), !by_standard_user);
    EXPECT_EQ(ReadPolicy(kSmart), by_standard_user ? std::optional<DWORD>(1u) : std::nullopt);
    EXPECT_EQ(ReadPolicy(kParallel), by_standard_user ? std::nullopt : std::optional<DWORD>(0u));
    // Planted files stay for an administrator to find; restored ones are done with.
    EXPECT_EQ(ReadBytes(BackupPath()).has_value(), by_standard_user);
    EXPECT_EQ(ReadBytes(policy_path).has_value(), by_standard_user);
    EXPECT_EQ(log.Saw("dns-leak: ignoring DNS backup not created by an administrator"),
              by_standard_user);
    EXPECT_EQ(log.Saw("dns-guard: ignoring SMHNR backup not created by an administrator"),
              by_standard_user);
  }

  // Planted again; now the administrator connects and disconnects.
  SetUp();
  SetPolicy(kSmart, 1u);
  SetPolicy(kParallel, std::nullopt);
  const HostState before = host_->Snapshot();
  ASSERT_TRUE(planted::PlantAsStandardUser(BackupPath(), dns_file));
  ASSERT_TRUE(planted::PlantAsStandardUser(policy_path, policy_file));
  Connection connection(*host_, *runner_);
  ASSERT_TRUE(ApplyDnsLeakProtection(connection.context, "Zelvora"));
  Disconnect(connection);
  EXPECT_FALSE(attacker_dns_used());
  EXPECT_SAME_HOST(host_->Snapshot(), before);
  EXPECT_EQ(ReadPolicy(kSmart), 1u);
  EXPECT_EQ(ReadPolicy(kParallel), std::nullopt);
  // The planted DNS file was moved aside, never overwritten; the connect's own backups are gone
  // with the disconnect.
  EXPECT_FALSE(ReadBytes(BackupPath()));
  EXPECT_EQ(ReadBytes(AsidePath()), dns_file);
  EXPECT_FALSE(ReadBytes(policy_path));
}

TEST_F(DnsLeakProtectionTest, FailedApplyIsRefusedLoudlyAndTheCleanupUndoesIt) {
  const struct {
    const char* what;
    std::function<void(SimulatedHost&)> arrange;
    std::string tunnel;
    const char* line;
    bool untouched = false;  // refused before any adapter was changed
  } cases[] = {
      {"no tunnel adapter",
       [](SimulatedHost& host) {
         host.Edit([](HostState& s) {
           s.adapters.erase(std::remove_if(s.adapters.begin(), s.adapters.end(),
                                           [](const auto& a) { return a.name == L"Zelvora"; }),
                            s.adapters.end());
         });
       },
       "Zelvora",
       "dns-leak: ERROR Zelvora LUID missing — refusing CONNECTED without WFP DNS guard"},
      {"guard cannot be installed",
       [](SimulatedHost& host) {
         SimWfpFailures failures;
         failures.filterAddNumber = 5;
         host.Filtering().SetFailures(failures);
       },
       "Zelvora", "dns-leak: ERROR WFP DNS guard install failed"},
      {"adapter list unreadable",
       [](SimulatedHost& host) { host.InjectFault(simhost::Op::kListAdapters); }, "Zelvora",
       "dns-leak: GetAdaptersAddresses size failed", true},
      {"unsafe tunnel name", [](SimulatedHost&) {}, "Zelvora\" & calc",
       "dns-leak: refusing unsafe Zelvora adapter name for netsh", true},
      {"backup cannot be written",
       [](SimulatedHost&) { CreateDirectoryW(BackupPath().c_str(), nullptr); }, "Zelvora",
       "dns-leak: DNS backup not saved — Ethernet left untouched", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    SetPolicy(kSmart, 0u);
    c.arrange(*host_);
    const HostState before = host_->Snapshot();
    TunnelLogWatch log;
    Connection connection(*host_, *runner_);
    EXPECT_FALSE(ApplyDnsLeakProtection(connection.context, c.tunnel));
    EXPECT_TRUE(log.Saw(c.line));
    EXPECT_TRUE(Out(kFirefox, "8.8.8.8", 53, L"Ethernet")) << "a guard was left behind";
    if (c.untouched) EXPECT_SAME_HOST(host_->Snapshot(), before);
    host_->Filtering().SetFailures({});
    connection.running = false;
    Disconnect(connection);
    EXPECT_SAME_HOST(host_->Snapshot(), before);
    EXPECT_EQ(ReadPolicy(kSmart), 0u);
    EXPECT_EQ(ReadPolicy(kParallel), std::nullopt);
    EXPECT_FALSE(ReadBytes(BackupPath()));
  }
}

}  // namespace
