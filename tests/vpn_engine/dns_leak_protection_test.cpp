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
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ipc/tunnel_log_watch.h"
#include "machine_files.h"
#include "simulated_host/home_machine.h"
#include "simulated_host/simulated_host.h"
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

std::string Joined(const std::vector<std::string>& list) {
  std::string text;
  for (const auto& item : list) text += item + ",";
  return text;
}

// What differs between two host states, readable in a failure message.
std::string Difference(const HostState& a, const HostState& b) {
  std::string text;
  if (a.adapters.size() != b.adapters.size()) text += "adapter count; ";
  for (size_t i = 0; i < std::min(a.adapters.size(), b.adapters.size()); ++i) {
    const auto& x = a.adapters[i];
    const auto& y = b.adapters[i];
    if (x == y) continue;
    text += "adapter " + std::to_string(x.if_index) + ": v4 [" + Joined(x.static_dns_v4) +
            "] vs [" + Joined(y.static_dns_v4) + "], v6 [" + Joined(x.static_dns_v6) + "] vs [" +
            Joined(y.static_dns_v6) + "], metric " + std::to_string(x.interface_metric) +
            (x.automatic_metric ? "a" : "") + " vs " + std::to_string(y.interface_metric) +
            (y.automatic_metric ? "a" : "") + "; ";
  }
  if (!(a.routes == b.routes)) text += "routes; ";
  if (a.ipv6_default_route != b.ipv6_default_route) text += "ipv6 default; ";
  if (!(a.devices == b.devices)) text += "devices; ";
  if (!(a.networks == b.networks)) text += "networks; ";
  return text;
}

// The tunnel adapter persists between connections and keeps the tunnel's DNS servers on
// purpose (the next connect sets them again); everything else must be as it was.
HostState UserVisible(HostState state) {
  for (auto& adapter : state.adapters) {
    if (adapter.name == L"Zelvora") adapter.static_dns_v4.clear();
  }
  return state;
}

#define EXPECT_SAME_HOST(a, b) \
  EXPECT_TRUE(UserVisible(a) == UserVisible(b)) << Difference(UserVisible(a), UserVisible(b))

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
    DeleteFileW(BackupPath().c_str());
    DeleteFileW(AsidePath().c_str());
    RemoveDirectoryW(BackupPath().c_str());
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

  bool Out(const std::string& program, bool tcp, const std::string& remote, uint16_t port,
           const std::wstring& adapter) const {
    return host_->WouldAllow({program, tcp, remote, port, 0}, adapter);
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

  void ExpectInOrder(const std::string& text, const std::vector<std::string>& lines) const {
    size_t from = 0;
    for (const auto& line : lines) {
      const size_t at = text.find(line, from);
      ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line;
      from = at + line.size();
    }
  }

  // Disconnect as the engine does it: cleanup, then the stop's wait.
  void Disconnect(Connection& connection) {
    RestoreDnsAsync(connection.context);
    WaitForDnsRestore(5000);
  }

  std::unique_ptr<SimulatedHost> host_;
  std::unique_ptr<WatchedRunner> runner_;
  planted::OwnerStandIn owners_;  // files the engine wrote are the administrators'
};

TEST_F(DnsLeakProtectionTest, ConnectLeaksNothingAndDisconnectGivesEverythingBack) {
  const struct {
    std::vector<std::string> configured;
    std::vector<std::string> tunnelDns;  // what the tunnel adapter gets
    int filters;
    std::optional<DWORD> smart, parallel;  // the policy values before
    // The core's own servers in other forms ("udp://1.1.1.1", "tcp://8.8.8.8:53").
    std::vector<std::string> coreHosts = {};
  } cases[] = {
      {{"1.1.1.1"}, {"1.1.1.1"}, 16, std::nullopt, std::nullopt},
      {{}, {"9.9.9.9", "149.112.112.112"}, 22, 0u, std::nullopt, {"1.1.1.1", "8.8.8.8"}},
      {{"8.8.8.8", "8.8.4.4", "1.1.1.1"}, {"8.8.8.8", "8.8.4.4", "1.1.1.1"}, 20, 0u, 1u},
      {{"8.8.8.8", "8.8.4.4", "1.1.1.1", "9.9.9.9"},
       {"8.8.8.8", "8.8.4.4", "1.1.1.1"},
       22,
       std::nullopt,
       0u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filters);
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
    TunnelLogWatch log;
    Connection connection(*host_, *runner_, c.configured);
    connection.context.coreDnsHosts = &c.coreHosts;

    ASSERT_TRUE(ApplyDnsLeakProtection(connection.context, "Zelvora"));

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
    EXPECT_EQ(static_cast<int>(host_->Filtering().CommittedFilters().size()), c.filters);
    EXPECT_GE(host_->FlushCount(), 1);

    // The leak questions.
    for (const bool tcp : {false, true}) {
      EXPECT_FALSE(Out(kFirefox, tcp, "8.8.8.8", 53, L"Ethernet"));
      EXPECT_FALSE(Out(kSvchost, tcp, "195.34.133.21", 53, L"WLAN K\u00fcche"));
      EXPECT_FALSE(Out(kSvchost, tcp, "192.168.56.1", 53, simhost::home::kUnsafeName));
      EXPECT_FALSE(Out(kFirefox, tcp, "2a00:1450:4001:82b::200e", 443, L"Ethernet"));
      EXPECT_FALSE(Out(kSvchost, tcp, "fd00::3a10:d5ff:fe12:3456", 53, L"Ethernet"));
      for (const auto& server : c.tunnelDns) {
        EXPECT_TRUE(Out(kXrayPath, tcp, server, 53, L"Ethernet")) << server;
        EXPECT_FALSE(Out(kFirefox, tcp, server, 53, L"WLAN K\u00fcche")) << server;
        EXPECT_TRUE(Out(kSvchost, tcp, server, 53, L"Zelvora")) << server;
      }
      for (const auto& server : c.coreHosts) {
        EXPECT_TRUE(Out(kXrayPath, tcp, server, 53, L"Ethernet")) << server;
      }
      EXPECT_FALSE(Out(kXrayPath, tcp, "208.67.222.222", 53, L"Ethernet"));
      EXPECT_TRUE(Out(kFirefox, tcp, "2a00:1450:4001:82b::200e", 443, L"Zelvora"));
      // The machine's own traffic keeps working: a local DNS forwarder and local services.
      EXPECT_TRUE(Out(kSvchost, tcp, "127.0.0.1", 53, L"Loopback Pseudo-Interface 1"));
      EXPECT_TRUE(Out(kFirefox, tcp, "::1", 8080, L"Loopback Pseudo-Interface 1"));
    }
    SimPacket dhcp6{kSvchost, false, "ff02::1:2", 547, 0};
    dhcp6.localPort = 546;
    EXPECT_TRUE(host_->WouldAllow(dhcp6, L"Ethernet"));
    const std::string first = c.tunnelDns[0];
    const std::string last_line =
        "dns-leak: Zelvora OS DNS set to " + first +
        (c.tunnelDns.size() > 1 ? " / " + c.tunnelDns[1] : std::string()) + "\r\n";
    ExpectInOrder(log.NewText(),
                  {"dns-leak: persisted 1 adapter DNS backup(s) to disk",
                   "dns-leak: raised metric on Ethernet",
                   "dns-leak: neutralized DNS on Ethernet (2 v4 server(s) saved)",
                   "dns-leak: persisted 2 adapter DNS backup(s) to disk",
                   "dns-leak: raised metric on " + kWifi,
                   "dns-leak: neutralized DNS on " + kWifi + " (3 v4 server(s) saved)",
                   "dns-leak: skip unsafe adapter name",
                   "dns-leak: persisted 2 adapter DNS backup(s) to disk",
                   "dns-guard: SMHNR / parallel DNS disabled for tunnel session",
                   "dns-guard: blocking DNS + IPv6 outbound on non-Zelvora interfaces (" +
                       std::to_string(c.filters) + " filters)",
                   last_line});
    // Time limits: the tunnel's server commands 2500 ms, everything else 1500 ms; only the
    // commands whose failure matters are logged.
    for (const auto& record : host_->Commands()) {
      const std::string& command = record.command;
      const bool tunnel_server = command.find("name=\"Zelvora\"") != std::string::npos &&
                                 command.find(" dns ") != std::string::npos &&
                                 command.find("delete") == std::string::npos;
      EXPECT_EQ(record.timeout_ms, tunnel_server ? 2500u : 1500u) << command;
      const bool logged = tunnel_server || command.find("static 127.0.0.1") != std::string::npos;
      EXPECT_EQ(record.log_failure, logged) << command;
    }

    host_->ClearCommands();
    runner_->before = nullptr;
    Disconnect(connection);

    EXPECT_SAME_HOST(host_->Snapshot(), before);
    EXPECT_EQ(ReadPolicy(kSmart), c.smart);
    EXPECT_EQ(ReadPolicy(kParallel), c.parallel);
    EXPECT_TRUE(host_->Filtering().CommittedFilters().empty());
    EXPECT_FALSE(ReadBytes(BackupPath()));
    // The hand-set Wi-Fi servers are written back in order; Ethernet goes back to DHCP.
    const auto commands = Commands();
    const std::string wifi = "name=\"" + kWifi + "\"";
    EXPECT_LT(IndexOf(commands, "ipv4 set dns " + wifi + " static 1.1.1.1 primary validate=no"),
              IndexOf(commands, "ipv4 add dns " + wifi + " 9.9.9.9 index=2 validate=no"));
    EXPECT_LT(IndexOf(commands, "ipv4 add dns " + wifi + " 9.9.9.9 index=2"),
              IndexOf(commands, "ipv4 add dns " + wifi + " 8.8.8.8 index=3 validate=no"));
    EXPECT_LT(IndexOf(commands, "netsh interface ipv4 set dns name=\"Ethernet\" dhcp"),
              commands.size());
    EXPECT_EQ(IndexOf(commands, "195.34.133.21"), commands.size());
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
    const auto saved = ReadBytes(BackupPath());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->rfind("v1\n", 0), 0u);
    EXPECT_NE(host_->Snapshot(), before);
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

TEST_F(DnsLeakProtectionTest, PlantedOrDamagedBackupNeverRunsUnsafeText) {
  std::string nine = "v1\n2\n" + kWifi + "\n7\n0\n1\n35\n1\n9\n";
  for (int i = 1; i <= 9; ++i) nine += "10.0.0." + std::to_string(i) + "\n";
  nine += "Ethernet\n12\n1\n1\n25\n1\n0\n";
  std::mt19937 random(20261206);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(random() & 0xFF);
  const struct {
    const char* what;
    std::string file;
    bool file_stays;
    std::vector<std::string> restored;  // adapters whose DNS is put back
    const char* line;
  } cases[] = {
      {"version line from a Windows editor",
       "v1\r\n1\nEthernet\n12\n1\n1\n25\n1\n0\n",
       true,
       {},
       "dns-leak: unknown DNS backup version"},
      {"command injection in a name",
       "v1\n2\nEthernet\" & calc & \"\n12\n1\n1\n25\n1\n0\n" + kWifi + "\n7\n1\n1\n35\n1\n0\n",
       false,
       {kWifi},
       "dns-leak: rejected unsafe adapter name from DNS backup"},
      {"server with a space",
       "v1\n1\nEthernet\n12\n0\n1\n25\n1\n1\n8.8.8.8 & calc\n",
       false,
       {"Ethernet"},
       nullptr},
      {"more than eight servers", nine, false, {kWifi, "Ethernet"}, nullptr},
      {"truncated",
       "v1\n2\nEthernet\n12\n1\n1\n25\n1\n0\n" + kWifi + "\n7\n0\n1\n35\n0\n3\n1.1",
       false,
       {"Ethernet"},
       nullptr},
      {"huge", "v1\n1\n" + std::string(3 << 20, 'x'), true, {}, nullptr},
      {"random bytes", noise, true, {}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    WriteBytes(BackupPath(), c.file);
    TunnelLogWatch log;
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
    if (c.line) EXPECT_TRUE(log.Saw(c.line));
  }
  // Of nine servers only the first eight go back, in their places.
  SetUp();
  WriteBytes(BackupPath(), nine);
  Connection connection(*host_, *runner_);
  RevertDnsLeakProtection(connection.context);
  const HostState after = host_->Snapshot();
  EXPECT_EQ(Adapter(after, L"WLAN K\u00fcche").static_dns_v4,
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
      {"filter add fails",
       [](SimulatedHost& host) {
         SimWfpFailures f;
         f.filterAddNumber = 5;
         host.Filtering().SetFailures(f);
       },
       "Zelvora", "dns-leak: ERROR WFP DNS guard install failed"},
      {"core unknown to WFP",
       [](SimulatedHost& host) {
         SimWfpFailures f;
         f.appId = 2;
         host.Filtering().SetFailures(f);
       },
       "Zelvora", "dns-guard: missing xray AppID — refusing permit-any DNS hosts"},
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
    EXPECT_TRUE(host_->Filtering().CommittedFilters().empty());
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
