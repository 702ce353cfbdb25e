// DNS leak protection on the simulated home machine, whose filtering platform answers whether a
// query would get out; the policy values live in Wine's real registry and the backup files in
// its real ProgramData folder.
#include "vpn_engine/dns_protection/dns_leak_protection.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/text_encoding.h"
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
const std::string kWifi = u8"WLAN K\u00fcche";
const std::wstring kWifiWide = L"WLAN K\u00fcche";

using machine::kParallel;
using machine::kSmart;
using machine::ReadBytes;
using machine::ReadPolicy;
using machine::SetPolicy;

std::wstring BackupPath() { return machine::ZelvoraFile(L"dns_restore.v1"); }
std::wstring AsidePath() { return machine::ZelvoraFile(L"dns_restore.v1.unrestored"); }

// One write of an adapter's DNS servers, as the engine asks for it.
struct DnsWrite {
  std::wstring adapter;
  bool ipv6 = false;
  std::vector<std::string> servers;
};

// The simulated machine, letting a test act just before an adapter's DNS servers are written.
class WatchedHost : public SimulatedHost {
 public:
  using SimulatedHost::SimulatedHost;
  std::function<void(const DnsWrite&)> before;
  zelvora::SystemCallResult SetAdapterDnsServers(uint64_t luid, bool ipv6,
                                                 const std::vector<std::string>& servers) override {
    if (before) {
      DnsWrite write{L"", ipv6, servers};
      for (const simhost::Adapter& adapter : Snapshot().adapters) {
        if (adapter.luid == luid) write.adapter = adapter.name;
      }
      before(write);
    }
    return SimulatedHost::SetAdapterDnsServers(luid, ipv6, servers);
  }
};

// A Windows without the calls (Windows 10 before build 19041 has no SetInterfaceDnsSettings;
// DnsFlushResolverCache is undocumented): the engine runs netsh and ipconfig instead.
void WithoutDnsCalls(SimulatedHost& host) {
  host.RemoveSystemCall(simhost::Op::kSetDnsServers);
  host.RemoveSystemCall(simhost::Op::kFlushResolver);
}

// What the engine holds for one connection (one process's worth of memory).
struct Connection {
  explicit Connection(WatchedHost& host, std::vector<std::string> servers = {})
      : dnsServers(std::move(servers)), guard(host.Filtering()), context{host,       host,
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
    host_ = std::make_unique<WatchedHost>(simhost::HomeMachineWithTunnelAdapter());
    host_->Filtering().AddProgram(kXrayWide);
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
    for (const auto& a : state.adapters)
      if (a.name == name) return a;
    ADD_FAILURE() << "no adapter";
    return state.adapters.front();
  }

  // True when the engine ran a command holding `text`.
  bool Ran(const std::string& text) const {
    const auto lines = host_->Commands();
    return std::any_of(lines.begin(), lines.end(), [&](const simhost::CommandRecord& line) {
      return line.command.find(text) != std::string::npos;
    });
  }

  // A fresh machine with these policy values.
  HostState Fresh(std::optional<DWORD> smart, std::optional<DWORD> parallel) {
    SetUp();
    SetPolicy(kSmart, smart);
    SetPolicy(kParallel, parallel);
    return host_->Snapshot();
  }

  // Disconnect as the engine does it: cleanup, then the stop's wait.
  void Disconnect(Connection& connection) {
    RestoreDnsAsync(connection.context);
    WaitForDnsRestore(30000);  // catches a hang only
  }

  std::unique_ptr<WatchedHost> host_;
  planted::OwnerStandIn owners_;  // files the engine wrote are the administrators'
};

TEST_F(DnsLeakProtectionTest, ConnectLeaksNothingAndDisconnectGivesEverythingBack) {
  const struct {
    std::vector<std::string> configured;
    std::vector<std::string> tunnelDns;    // what the tunnel adapter gets
    std::optional<DWORD> smart, parallel;  // the policy values before
    // The core's own servers in other forms ("udp://1.1.1.1", "tcp://8.8.8.8:53").
    std::vector<std::string> coreHosts = {};
    bool old_windows = false;  // without SetInterfaceDnsSettings
  } cases[] = {
      {{"1.1.1.1"}, {"1.1.1.1"}, std::nullopt, std::nullopt},
      {{}, {"9.9.9.9", "149.112.112.112"}, 0u, std::nullopt, {"1.1.1.1", "8.8.8.8"}},
      {{"8.8.8.8", "8.8.4.4", "1.1.1.1"}, {"8.8.8.8", "8.8.4.4", "1.1.1.1"}, 0u, 1u},
      {{"8.8.8.8", "8.8.4.4", "1.1.1.1", "9.9.9.9"}, {"8.8.8.8", "8.8.4.4", "1.1.1.1"}, {}, 0u},
      {{"8.8.8.8", "8.8.4.4"}, {"8.8.8.8", "8.8.4.4"}, 0u, 1u, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.configured.size());
    const HostState before = Fresh(c.smart, c.parallel);
    if (c.old_windows) WithoutDnsCalls(*host_);
    // Each physical adapter is in the file on disk before its DNS servers are first written.
    host_->before = [](const DnsWrite& write) {
      if (write.adapter == L"Zelvora") return;
      const auto file = ReadBytes(BackupPath());
      EXPECT_TRUE(file && file->find("\n" + WideToUtf8(write.adapter) + "\n") != std::string::npos)
          << "touched before it was saved: " << WideToUtf8(write.adapter);
    };
    Connection connection(*host_, c.configured);
    connection.context.coreDnsHosts = &c.coreHosts;

    const int flushes = host_->FlushCount();
    ASSERT_TRUE(ApplyDnsLeakProtection(connection.context, "Zelvora"));
    host_->before = nullptr;
    // The resolver forgets what it learnt from the user's servers before the tunnel is used.
    EXPECT_GT(host_->FlushCount(), flushes);

    const HostState on = host_->Snapshot();
    for (const std::wstring& name : {std::wstring(L"Ethernet"), kWifiWide}) {
      EXPECT_EQ(Adapter(on, name).ReportedDnsV4(), std::vector<std::string>{"127.0.0.1"});
      EXPECT_EQ(Adapter(on, name).interface_metric, 5000u);
      EXPECT_FALSE(Adapter(on, name).automatic_metric);
    }
    EXPECT_EQ(Adapter(on, L"Zelvora").ReportedDnsV4(), c.tunnelDns);
    EXPECT_EQ(Adapter(on, simhost::home::kUnsafeName), Adapter(before, simhost::home::kUnsafeName));
    EXPECT_EQ(ReadPolicy(kSmart), 1u);
    EXPECT_EQ(ReadPolicy(kParallel), 1u);

    // The leak questions, on this machine's adapters (the guard's own matrix is in its test):
    // only the core reaches the tunnel's DNS servers and its own outside the tunnel.
    EXPECT_FALSE(Out(kSvchost, "192.168.56.1", 53, simhost::home::kUnsafeName));
    EXPECT_FALSE(Out(kFirefox, "2a00:1450:4001:82b::200e", 443, L"Ethernet"));
    EXPECT_TRUE(Out(kFirefox, "2a00:1450:4001:82b::200e", 443, L"Zelvora"));
    EXPECT_FALSE(Out(kXrayPath, "208.67.222.222", 53, L"Ethernet"));
    for (const auto* list : {&c.tunnelDns, &c.coreHosts}) {
      for (const auto& server : *list) {
        EXPECT_TRUE(Out(kXrayPath, server, 53, L"Ethernet")) << server;
        EXPECT_FALSE(Out(kFirefox, server, 53, kWifiWide)) << server;
      }
    }

    Disconnect(connection);
    EXPECT_SAME_HOST(before, host_->Snapshot());
    EXPECT_EQ(ReadPolicy(kSmart), c.smart);
    EXPECT_EQ(ReadPolicy(kParallel), c.parallel);
    EXPECT_TRUE(Out(kFirefox, "8.8.8.8", 53, L"Ethernet"));
    EXPECT_FALSE(ReadBytes(BackupPath()));
    // Where Windows has the calls, the whole session starts no program.
    EXPECT_EQ(host_->ProcessStarts() > 0, c.old_windows);
  }
}

// After the crash the machine rebooted and Windows numbered two interfaces anew.
void SwapEthernetIndexes(HostState& state) {
  auto swap = [](uint32_t& index) { index = index == 12 ? 15 : index == 15 ? 12 : index; };
  for (auto& adapter : state.adapters) {
    swap(adapter.if_index);
    swap(adapter.ipv6_if_index);
  }
  for (auto& route : state.routes) swap(route.if_index);
}

// The adapter of that name taken away (unplugged, or never made).
std::function<void(SimulatedHost&)> Unplug(const wchar_t* name) {
  return [name](SimulatedHost& host) {
    host.Edit([name](HostState& s) {
      s.adapters.erase(std::find_if(s.adapters.begin(), s.adapters.end(),
                                    [name](const auto& a) { return a.name == name; }));
    });
  };
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
    const HostState before = Fresh(std::nullopt, 0u);
    owners_.SetPolicy(renamed ? planted::OwnerPolicy::kObjectCreator
                              : planted::OwnerPolicy::kAdministratorsGroup);
    {
      auto crashed = std::make_unique<Connection>(*host_);
      if (stop_between_adapters) {
        host_->before = [&crashed](const DnsWrite& write) {
          if (write.servers == std::vector<std::string>{"127.0.0.1"}) crashed->running = false;
        };
      }
      EXPECT_EQ(ApplyDnsLeakProtection(crashed->context, "Zelvora"), !stop_between_adapters);
      host_->before = nullptr;
      // The process dies here: no restore runs, its memory and its WFP session are gone.
      ForgetNameResolutionPolicyMemory();
      host_->Filtering().DropAllSessions();
      crashed.release();  // its guard must not tidy up either
    }
    ASSERT_TRUE(ReadBytes(BackupPath()));
    HostState expected = before;
    for (const auto edit :
         {renumbered ? SwapEthernetIndexes : nullptr, renamed ? RenameWifi : nullptr}) {
      if (!edit) continue;
      host_->Edit(edit);
      edit(expected);
    }
    // The leftovers are put back before anything is recorded: had the Wi-Fi's stub been saved
    // as the user's, its hand-set servers would not come back below.
    Connection next(*host_);
    ASSERT_TRUE(ApplyDnsLeakProtection(next.context, "Zelvora"));
    Disconnect(next);
    EXPECT_SAME_HOST(host_->Snapshot(), expected);
    EXPECT_EQ(ReadPolicy(kSmart), std::nullopt);
    EXPECT_EQ(ReadPolicy(kParallel), 0u);
    EXPECT_FALSE(ReadBytes(BackupPath()));
  }
}

TEST_F(DnsLeakProtectionTest, AQuickReconnectWaitsForThePreviousRestore) {
  const HostState before = host_->Snapshot();
  Connection first(*host_);
  ASSERT_TRUE(ApplyDnsLeakProtection(first.context, "Zelvora"));
  const std::vector<DnsBackupRecord> users_settings = first.backups;
  // The background restore is slow on its last adapter; the user connects again meanwhile.
  std::atomic<bool> slowed{false};
  host_->before = [&slowed](const DnsWrite& write) {
    if (write.adapter == kWifiWide && write.ipv6 && !slowed.exchange(true)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
  };
  first.running = false;
  RestoreDnsAsync(first.context);
  EXPECT_TRUE(first.backups.empty());
  Connection second(*host_);
  ASSERT_TRUE(ApplyDnsLeakProtection(second.context, "Zelvora"));
  EXPECT_EQ(PendingDnsRestores(), 0);
  host_->before = nullptr;
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
    bool old_windows = false;                   // without SetInterfaceDnsSettings
  } cases[] = {
      {"netsh killed at its time limit",
       [&](SimulatedHost& h) { h.InjectCommandFault(wifi_v4, simhost::CommandFault::kHang); },
       {},
       true,
       true},
      {"write fails",
       [](SimulatedHost& h) { h.InjectFault(simhost::Op::kSetDnsServers); },
       {},
       true},
      {"write without effect",
       [](SimulatedHost& h) { h.InjectNoEffect(simhost::Op::kSetDnsServers); },
       {},
       true},
      {"adapter renamed", [](SimulatedHost& h) { h.Edit(RenameWifi); }, RenameWifi, false},
      {"adapters renumbered", [](SimulatedHost& h) { h.Edit(SwapEthernetIndexes); },
       SwapEthernetIndexes, false},
      {"dock adapter unplugged", Unplug(L"Ethernet"), {}, true},
  };
  for (const auto& c : cases) {
    for (const bool repair : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (repair ? ", start-up repair" : ", next connect"));
      SetUp();
      if (c.old_windows) WithoutDnsCalls(*host_);
      HostState expected = host_->Snapshot();
      if (c.expected) c.expected(expected);
      Connection connection(*host_);
      ASSERT_TRUE(ApplyDnsLeakProtection(connection.context, "Zelvora"));
      const HostState connected = host_->Snapshot();
      c.fault(*host_);
      Disconnect(connection);
      EXPECT_EQ(ReadBytes(BackupPath()).has_value(), c.kept);
      if (std::string(c.what) == "dock adapter unplugged") {  // plugged in as the tunnel left it
        host_->Edit([&](HostState& s) {
          s.adapters.insert(s.adapters.begin() + 1, Adapter(connected, L"Ethernet"));
        });
      }
      if (repair) {
        EXPECT_TRUE(RestoreDnsFromBackupFile(*host_, *host_));
      } else {
        Connection next(*host_);
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
  ASSERT_TRUE(machine::WriteBytes(BackupPath(), unreadable));
  const auto stub = [](bool on) {
    return [on](HostState& s) {
      for (auto& a : s.adapters) {
        if (a.name != L"Ethernet") continue;
        a.static_dns_v4 = on ? std::vector<std::string>{"127.0.0.1"} : std::vector<std::string>{};
        a.interface_metric = on ? 5000 : 0;
        a.automatic_metric = !on;
      }
    };
  };
  HostState expected = host_->Snapshot();
  stub(false)(expected);
  host_->Edit(stub(true));
  Connection connection(*host_);
  ASSERT_TRUE(ApplyDnsLeakProtection(connection.context, "Zelvora"));
  Disconnect(connection);
  EXPECT_SAME_HOST(host_->Snapshot(), expected);
  EXPECT_EQ(ReadBytes(AsidePath()), unreadable);
  EXPECT_FALSE(ReadBytes(BackupPath()));
}

// What the reader makes of damaged files is its own test's matter; here, what the restore does
// with them: an unreadable file stays for later; of a planted one, an unsafe name never reaches
// a command line (on a Windows where netsh writes the servers), the rest is put back (of nine
// servers the first eight) and the file is done.
TEST_F(DnsLeakProtectionTest, PlantedOrDamagedBackupNeverRunsUnsafeText) {
  WithoutDnsCalls(*host_);
  host_->Edit([](HostState& s) {
    for (auto& a : s.adapters)
      if (a.name == L"Ethernet") a.static_dns_v4 = {"10.9.9.9"};
  });
  const std::string unreadable = "v1\r\n1\nEthernet\n12\n1\n1\n25\n1\n0\n";
  std::string planted =
      "v1\n3\nEthernet\" & calc & \"\n12\n1\n1\n25\n1\n0\n" + kWifi + "\n7\n0\n1\n35\n1\n9\n";
  for (int i = 1; i <= 9; ++i) planted += "10.0.0." + std::to_string(i) + "\n";
  planted += "Ethernet\n12\n1\n1\n25\n1\n0\n";
  for (const std::string& file : {unreadable, planted}) {
    ASSERT_TRUE(machine::WriteBytes(BackupPath(), file));
    Connection connection(*host_);
    RevertDnsLeakProtection(connection.context);
    EXPECT_EQ(ReadBytes(BackupPath()).has_value(), file == unreadable);
  }
  EXPECT_FALSE(Ran("calc"));
  EXPECT_TRUE(Adapter(host_->Snapshot(), L"Ethernet").static_dns_v4.empty());
  EXPECT_EQ(Adapter(host_->Snapshot(), kWifiWide).static_dns_v4,
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
  for (const bool by_standard_user : {true, false}) {
    SCOPED_TRACE(by_standard_user ? "planted" : "written by an administrator");
    Fresh(1u, std::nullopt);
    const auto write = by_standard_user ? planted::PlantAsStandardUser : machine::WriteBytes;
    ASSERT_TRUE(write(BackupPath(), dns_file) && write(policy_path, policy_file));
    Connection connection(*host_);
    RevertDnsLeakProtection(connection.context);
    const std::vector<std::string> planted_servers = {"203.0.113.53", "203.0.113.54"};
    EXPECT_EQ(Adapter(host_->Snapshot(), L"Ethernet").static_dns_v4 == planted_servers,
              !by_standard_user);
    EXPECT_EQ(ReadPolicy(kSmart), by_standard_user ? std::optional<DWORD>(1u) : std::nullopt);
    EXPECT_EQ(ReadPolicy(kParallel), by_standard_user ? std::nullopt : std::optional<DWORD>(0u));
    // Planted files stay for an administrator to find; restored ones are done with.
    EXPECT_EQ(ReadBytes(BackupPath()).has_value(), by_standard_user);
    EXPECT_EQ(ReadBytes(policy_path).has_value(), by_standard_user);
  }

  // Planted again; now the administrator connects and disconnects.
  const HostState before = Fresh(1u, std::nullopt);
  ASSERT_TRUE(planted::PlantAsStandardUser(BackupPath(), dns_file) &&
              planted::PlantAsStandardUser(policy_path, policy_file));
  Connection connection(*host_);
  ASSERT_TRUE(ApplyDnsLeakProtection(connection.context, "Zelvora"));
  Disconnect(connection);
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
      {"no tunnel adapter", Unplug(L"Zelvora"), "Zelvora", "dns-leak: ERROR Zelvora LUID missing"},
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
       "dns-leak: DNS backup not saved", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh(0u, std::nullopt);
    c.arrange(*host_);
    const HostState before = host_->Snapshot();
    TunnelLogWatch log;
    Connection connection(*host_);
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
