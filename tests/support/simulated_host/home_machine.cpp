#include "simulated_host/home_machine.h"

#include "simulated_host/sim_text.h"

namespace simhost {
namespace home {
const wchar_t* const kWifiName = L"WLAN K\u00fcche";
const wchar_t* const kUnsafeName = L"Lab \"VM\" & Test %PATH%";
const wchar_t* const kOwnGuid = L"5A656C76-6F72-4E01-9A11-5A656C766F72";
}  // namespace home

namespace {

// An adapter with an address and the on-link routes Windows keeps for it.
void AddInterface(HostState& state, Adapter adapter, const char* address, uint8_t prefix) {
  if (address != nullptr) {
    adapter.addresses.push_back({address, prefix});
    const uint32_t value = Ip(address);
    const uint32_t mask = prefix == 0 ? 0 : static_cast<uint32_t>(0xFFFFFFFFull << (32 - prefix));
    state.routes.push_back({value & mask, mask, value, adapter.if_index, 256});
    state.routes.push_back({value, 0xFFFFFFFFu, value, adapter.if_index, 256});
    if (prefix < 32) {
      state.routes.push_back({(value & mask) | ~mask, 0xFFFFFFFFu, value, adapter.if_index, 256});
    }
  }
  state.adapters.push_back(std::move(adapter));
}

}  // namespace

HostState HomeMachine() {
  HostState state;

  Adapter loopback;
  loopback.name = L"Loopback Pseudo-Interface 1";
  loopback.description = L"Software Loopback Interface 1";
  loopback.luid = 0x0018000000000000ull;
  loopback.if_index = 1;
  loopback.ipv6_if_index = 1;
  loopback.loopback = true;
  loopback.interface_metric = 75;
  AddInterface(state, loopback, "127.0.0.1", 8);

  Adapter ethernet;
  ethernet.name = L"Ethernet";
  ethernet.description = L"Intel(R) Ethernet Connection (7) I219-V";
  ethernet.instance_id = L"PCI\\VEN_8086&DEV_15BC&SUBSYS_86721043&REV_10\\3&11583659&0&FE";
  ethernet.luid = 0x0006000001000000ull;
  ethernet.if_index = home::kEthernetIndex;
  ethernet.ipv6_if_index = home::kEthernetIndex;
  ethernet.dhcpv4 = true;
  ethernet.lease_dns_v4 = {"195.34.133.21", "212.186.211.21"};
  ethernet.lease_dns_v6 = {"fd00::3a10:d5ff:fe12:3456"};
  ethernet.interface_metric = 25;
  AddInterface(state, ethernet, "192.168.178.23", 24);
  state.routes.push_back({0, 0, Ip(home::kEthernetGateway), home::kEthernetIndex, 0});

  Adapter wifi;
  wifi.name = home::kWifiName;
  wifi.description = L"Intel(R) Wi-Fi 6 AX200 160MHz";
  wifi.instance_id = L"PCI\\VEN_8086&DEV_2723&SUBSYS_00848086&REV_1A\\4&2D6E1A5C&0&00E4";
  wifi.luid = 0x0047000001000000ull;
  wifi.if_index = home::kWifiIndex;
  wifi.ipv6_if_index = home::kWifiIndex;
  wifi.dhcpv4 = true;
  wifi.lease_dns_v4 = {"192.168.1.1"};
  wifi.static_dns_v4 = {"1.1.1.1", "9.9.9.9", "8.8.8.8"};
  wifi.static_dns_v6 = {"2606:4700:4700::1111", "2620:fe::fe"};
  wifi.interface_metric = 35;
  AddInterface(state, wifi, "192.168.1.57", 24);
  state.routes.push_back({0, 0, Ip(home::kWifiGateway), home::kWifiIndex, 0});

  Adapter unplugged;
  unplugged.name = L"Ethernet 2";
  unplugged.description = L"Realtek USB GbE Family Controller";
  unplugged.instance_id = L"USB\\VID_0BDA&PID_8153\\000001000000";
  unplugged.luid = 0x0006000002000000ull;
  unplugged.if_index = 15;
  unplugged.ipv6_if_index = 15;
  unplugged.oper_up = false;
  unplugged.dhcpv4 = true;
  AddInterface(state, unplugged, nullptr, 0);

  Adapter lab;
  lab.name = home::kUnsafeName;
  lab.description = L"VirtualBox Host-Only Ethernet Adapter";
  lab.instance_id = L"ROOT\\NET\\0000";
  lab.luid = 0x0006000003000000ull;
  lab.if_index = 9;
  lab.ipv6_if_index = 9;
  AddInterface(state, lab, "192.168.56.1", 24);

  Adapter proton;
  proton.name = L"ProtonVPN";
  proton.description = L"ProtonVPN Tunnel";
  proton.instance_id = L"SWD\\Wintun\\{EAB2262D-9AB1-5975-7D92-334D06F4972B}";
  proton.luid = 0x0035000004000000ull;
  proton.if_index = 21;
  proton.ipv6_if_index = 21;
  proton.oper_up = false;
  AddInterface(state, proton, nullptr, 0);

  state.ipv6_default_route = true;

  state.devices = {
      {L"", L"WAN Miniport (IP)", L"SWD\\MSRRAS\\MS_NDISWANIP"},
      {L"Ethernet", ethernet.description, ethernet.instance_id},
      {wifi.name, wifi.description, wifi.instance_id},
      {L"", L"WAN Miniport (IPv6)", L"SWD\\MSRRAS\\MS_NDISWANIPV6"},
      {L"Ethernet 2", unplugged.description, unplugged.instance_id},
      {lab.name, lab.description, lab.instance_id},
      {L"ProtonVPN", proton.description, proton.instance_id},
  };
  state.networks = {
      {L"{8F2A1B3C-0D4E-4F50-9A6B-7C8D9E0F1A2B}", L"Heimnetz"},
      {L"{1B2C3D4E-5F60-4718-8293-A4B5C6D7E8F9}", L"FRITZ!Box 7590 XY"},
  };
  return state;
}

HostState HomeMachineWithTunnelAdapter() {
  HostState state = HomeMachine();
  Adapter tunnel;
  tunnel.name = L"Zelvora";
  tunnel.description = L"Zelvora Tunnel";
  tunnel.instance_id = std::wstring(L"SWD\\Wintun\\{") + home::kOwnGuid + L"}";
  tunnel.luid = 0x0035000007000000ull;
  tunnel.if_index = home::kTunnelIndex;
  tunnel.ipv6_if_index = home::kTunnelIndex;
  tunnel.dhcpv4 = true;
  tunnel.interface_metric = 5;
  AddInterface(state, tunnel, nullptr, 0);
  state.devices.push_back({L"Zelvora", tunnel.description, tunnel.instance_id});
  return state;
}

}  // namespace simhost
