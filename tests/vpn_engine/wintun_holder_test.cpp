// The Wintun holder on the simulated host: which leftover adapters go, the persistent adapter's
// life, the tunnel adapter's name among numbered duplicates, and the profile rename.
#include "vpn_engine/adapter_routes/wintun_holder.h"

#include <gtest/gtest.h>

#include "simulated_host/home_machine.h"
#include "simulated_host/simulated_host.h"
#include "support/captured_log.h"

namespace {

using simhost::Device;
using simhost::HostState;

const std::wstring kOwnId = std::wstring(L"SWD\\Wintun\\{") + simhost::home::kOwnGuid + L"}";

struct OrphanCase {
  const wchar_t* name;
  const wchar_t* description;
  std::wstring instance_id;
  bool purge;    // removed when the own adapter is spared
  bool release;  // removed when it is not
};

TEST(WintunHolder, WhichDevicesAreOrphans) {
  const std::wstring other = L"SWD\\Wintun\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  const OrphanCase cases[] = {
      {L"Zelvora", L"Zelvora Tunnel", kOwnId, false, true},
      {L"Zelvora", L"Zelvora Tunnel", L"swd\\wintun\\{5a656c76-6f72-4e01-9a11-5a656c766f72}", false,
       true},
      {L"Zelvora 2", L"Zelvora Tunnel", other, true, true},
      {L"Zelvora 3", L"Realtek PCIe GbE", L"PCI\\VEN_10EC&DEV_8168\\01", true, true},
      {L"Zelvora", L"Zelvora Tunnel", other, true, true},
      {L"Zelvora", L"TAP-Windows Adapter V9", L"ROOT\\NET\\0003", false, false},
      {L"Zelvora", L"Zelvora Tunnel", L"SWD\\Wintun\\ExpressVPN{0F1E}", false, false},
      {L"Zelvora 2", L"Zelvora Tunnel", L"SWD\\WINTUN\\EXPRESSVPN-2", false, false},
      {L"wintun", L"tun2socks Tunnel", other, true, true},
      {L"TUN2SOCKS", L"Wintun Userspace Tunnel", other, true, true},
      {L"wintun", L"Wintun Userspace Tunnel", other, false, false},
      {L"xray0", L"Xray Tunnel", other, false, false},
      {L"tun2socks", L"tun2socks", L"ROOT\\NET\\0007", false, false},
      {L"zelvora 2", L"Zelvora Tunnel", other, false, false},
      {L"", L"WAN Miniport (IP)", L"SWD\\MSRRAS\\MS_NDISWANIP", false, false},
  };
  for (const OrphanCase& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
    EXPECT_EQ(zelvora::IsOrphanAdapter(c.name, c.description, c.instance_id, false), c.purge);
    EXPECT_EQ(zelvora::IsOrphanAdapter(c.name, c.description, c.instance_id, true), c.release);
  }
}

// The home machine after a few crashed runs (which devices are orphans is the table's business).
HostState MachineWithLeftovers() {
  HostState state = simhost::HomeMachineWithTunnelAdapter();
  state.devices.insert(
      state.devices.end(),
      {{L"Zelvora 2", L"Zelvora Tunnel", L"SWD\\Wintun\\{11111111-2222-3333-4444-555555555555}"},
       {L"Zelvora 3", L"Intel(R) 82574L Gigabit", L"PCI\\VEN_8086&DEV_10D3\\00"},
       {L"wintun", L"tun2socks Tunnel", L"SWD\\Wintun\\{66666666-7777-8888-9999-AAAAAAAAAAAA}"},
       {L"Zelvora", L"Zelvora Tunnel", L"SWD\\Wintun\\ExpressVPN{01}"},
       {L"xray0", L"Xray Tunnel", L"SWD\\Wintun\\{BBBBBBBB-CCCC-DDDD-EEEE-FFFFFFFFFFFF}"}});
  return state;
}

std::vector<std::wstring> DeviceIds(const HostState& state) {
  std::vector<std::wstring> ids;
  for (const Device& device : state.devices) ids.push_back(device.instance_id);
  return ids;
}

TEST(WintunHolder, PurgeSparesTheOwnAdapterAndReleaseRemovesIt) {
  simhost::SimulatedHost host(MachineWithLeftovers());
  const std::vector<std::wstring> all = DeviceIds(host.Snapshot());
  zelvora::WintunHolder holder(
      host, [] { return std::wstring(L"C:\\Zelvora VPN\\xray\\wintun.dll"); }, nullptr);

  EXPECT_EQ(holder.PurgeOrphanAdapters(), 3);
  std::vector<std::wstring> kept = all;
  for (const wchar_t* gone :
       {L"SWD\\Wintun\\{11111111-2222-3333-4444-555555555555}", L"PCI\\VEN_8086&DEV_10D3\\00",
        L"SWD\\Wintun\\{66666666-7777-8888-9999-AAAAAAAAAAAA}"}) {
    kept.erase(std::find(kept.begin(), kept.end(), gone));
  }
  EXPECT_EQ(DeviceIds(host.Snapshot()), kept);

  // The adapter exists from an earlier run: it is opened, not created a second time.
  EXPECT_TRUE(holder.EnsureAdapter());
  EXPECT_TRUE(holder.EnsureAdapter());
  EXPECT_EQ(DeviceIds(host.Snapshot()), kept);
  EXPECT_EQ(host.OpenWintunHandles(), 1u);

  // Xray's own TUN: the handle is closed and the own adapter removed too; others stay.
  EXPECT_EQ(holder.ReleaseForTunnelProcess(), 1);
  EXPECT_EQ(host.OpenWintunHandles(), 0u);
  kept.erase(std::find(kept.begin(), kept.end(), kOwnId));
  EXPECT_EQ(DeviceIds(host.Snapshot()), kept);
  EXPECT_FALSE(zelvora::IsAdapterPresent(host));

  // The next TUN-mode start creates it again, under its own GUID.
  EXPECT_TRUE(holder.EnsureAdapter());
  EXPECT_EQ(zelvora::FindTunnelAdapterName(host), "Zelvora");
  EXPECT_EQ(DeviceIds(host.Snapshot()).back(), kOwnId);
}

// No DLL, a failed load or a failed create: each try fails, and the next one starts over.
TEST(WintunHolder, FailuresAreRetried) {
  simhost::SimulatedHost host(simhost::HomeMachine());
  std::wstring dll;
  zelvora::WintunHolder holder(
      host, [&] { return dll; }, nullptr);
  ClearCapturedLog();
  EXPECT_FALSE(holder.EnsureAdapter());
  dll = L"C:\\Users\\J\u00f6rg M\u00fcller\\Zelvora\\xray\\wintun.dll";
  host.InjectFault(simhost::Op::kLoadWintun, 1, zelvora::ReadStatus::kOk, 193);
  EXPECT_FALSE(holder.EnsureAdapter());
  host.InjectFault(simhost::Op::kCreateAdapter, 1, zelvora::ReadStatus::kOk, 5);
  EXPECT_FALSE(holder.EnsureAdapter());
  EXPECT_TRUE(holder.EnsureAdapter());
  EXPECT_TRUE(CapturedLogContains("WintunHolder: loaded C:\\Users\\J\xC3\xB6rg M\xC3\xBCller"));
  EXPECT_EQ(zelvora::FindTunnelAdapterName(host), "Zelvora");

  // A removal that fails for one device does not stop the others.
  host.Edit([](HostState& s) {
    s.devices.push_back({L"Zelvora 2", L"", L"SWD\\Wintun\\{A}"});
    s.devices.push_back({L"Zelvora 3", L"", L"SWD\\Wintun\\{B}"});
  });
  host.InjectFault(simhost::Op::kRemoveDevice, 1, zelvora::ReadStatus::kOk, 5);
  EXPECT_EQ(holder.PurgeOrphanAdapters(), 1);
  EXPECT_EQ(DeviceIds(host.Snapshot()).back(), L"SWD\\Wintun\\{A}");
}

// The tunnel adapter among numbered duplicates and names that only look like its own.
TEST(WintunHolder, TunnelAdapterNameAmongNumberedDuplicates) {
  struct Case {
    std::vector<const wchar_t*> names;
    std::string found;
  };
  const Case cases[] = {
      {{L"Zelvora 3", L"Zelvora 2"}, "Zelvora 2"},
      {{L"Zelvora 10", L"Zelvora 9", L"Zelvora Network"}, "Zelvora 9"},
      {{L"Zelvora 2", L"Zelvora", L"Zelvora 1"}, "Zelvora"},
      {{L"Zelvora 007", L"ProtonVPN"}, "Zelvora 007"},
      // Only "Zelvora" or "Zelvora <digits>", exactly.
      {{L"zelvora", L"zelvora 2", L"Zelvora 2x", L"Zelvora ", L"Zelvora  2", L"Zelvora Network",
        L"Zelvora2", L"", L"ZELVORA", L"Zelvora \u0662", L"ProtonVPN"},
       ""},
  };
  for (const Case& c : cases) {
    HostState state = simhost::HomeMachine();
    uint32_t index = 40;
    for (const wchar_t* name : c.names) {
      simhost::Adapter adapter;
      adapter.name = name;
      adapter.if_index = index++;
      state.adapters.push_back(adapter);
    }
    simhost::SimulatedHost host(state);
    EXPECT_EQ(zelvora::FindTunnelAdapterName(host), c.found);
    EXPECT_EQ(zelvora::IsAdapterPresent(host), !c.found.empty());
  }
  simhost::SimulatedHost unreadable(simhost::HomeMachineWithTunnelAdapter());
  unreadable.InjectFault(simhost::Op::kListAdapters);
  EXPECT_EQ(zelvora::FindTunnelAdapterName(unreadable), "");
}

TEST(WintunHolder, NetworkListProfilesNamedLikeTheAdapterAreRenamed) {
  HostState state = simhost::HomeMachine();
  state.networks.push_back({L"{A}", L"Zelvora 4"});
  state.networks.push_back({L"{B}", L"Zelvora Network"});
  state.networks.push_back({L"{C}", L"Zelvora"});
  simhost::SimulatedHost host(state);
  bool registry_pass_ran = false;
  zelvora::WintunHolder holder(host, nullptr, [&] { registry_pass_ran = true; });
  holder.RenameNetworkProfile();
  std::vector<std::wstring> names;
  for (const simhost::Network& network : host.Snapshot().networks) names.push_back(network.name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Heimnetz", L"FRITZ!Box 7590 XY", L"Zelvora Network",
                                              L"Zelvora Network", L"Zelvora Network"}));
  EXPECT_TRUE(registry_pass_ran);
}

// Only the application's own folders: never the current folder an elevated process runs in.
TEST(WintunHolder, DllCandidatesOnlyInTheApplicationsFolders) {
  const std::wstring exe = L"C:\\Users\\J\u00f6rg M\u00fcller\\Apps\\Zel Vora\\";
  EXPECT_EQ(zelvora::WintunDllCandidates(exe),
            (std::vector<std::wstring>{
                L"C:\\Users\\J\u00f6rg M\u00fcller\\Apps\\Zel Vora\\xray\\wintun.dll",
                L"C:\\Users\\J\u00f6rg M\u00fcller\\Apps\\Zel Vora\\wintun.dll",
                L"C:\\Users\\J\u00f6rg M\u00fcller\\Apps\\Zel "
                L"Vora\\data\\flutter_assets\\xray\\wintun.dll"}));
  EXPECT_TRUE(zelvora::WintunDllCandidates(L"").empty());
}

}  // namespace
