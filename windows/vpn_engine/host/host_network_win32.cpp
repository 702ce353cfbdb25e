// HostNetwork over IP Helper: one call (or the two-call sizing pattern) per operation.
#include "vpn_engine/host/host_network_win32.h"

// Winsock's headers must come before IP Helper's.
#include <winsock2.h>
#include <ws2tcpip.h>
//
#include <windows.h>
//
#include <iphlpapi.h>
#include <netioapi.h>

#include <memory>
#include <string>

#include "common/text_encoding.h"
#include "config_text/config_inspection.h"

namespace zelvora {
namespace {

// Hand-set DNS servers live in the interface's "NameServer" value (under Tcpip for IPv4, Tcpip6
// for IPv6); DHCP-given ones in "DhcpNameServer". IP Helper lists either without saying which.
bool HasStaticDns(const char* adapter_name, const char* stack) {
  if (adapter_name == nullptr || adapter_name[0] == '\0') return false;
  const std::string key = std::string("SYSTEM\\CurrentControlSet\\Services\\") + stack +
                          "\\Parameters\\Interfaces\\" + adapter_name;
  char value[1024] = {};
  DWORD size = sizeof(value) - 1;
  if (::RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "NameServer", RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS) {
    return false;
  }
  for (const char* c = value; *c != '\0'; ++c) {
    if (*c != ' ' && *c != ',') return true;
  }
  return false;
}

Ipv4Address FromNetworkOrder(DWORD value) { return ntohl(value); }

std::string SockaddrText(const SOCKADDR* address, bool* ipv4) {
  char text[INET6_ADDRSTRLEN] = {};
  *ipv4 = address != nullptr && address->sa_family == AF_INET;
  if (address == nullptr) return std::string();
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    if (::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text)) == nullptr) return std::string();
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text)) == nullptr) return std::string();
  } else {
    return std::string();
  }
  return text;
}

ULONG ListingFamily(AdapterListing listing) {
  return listing == AdapterListing::kIpv4 ? AF_INET : AF_UNSPEC;
}

ULONG ListingFlags(AdapterListing listing) {
  switch (listing) {
    case AdapterListing::kIpv4:
      return GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_INCLUDE_PREFIX;
    case AdapterListing::kAllFamilies:
      return GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST;
    case AdapterListing::kAllInterfaces:
      return GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_INCLUDE_ALL_INTERFACES;
  }
  return 0;
}

// An IPv4 unicast-address row of the interface (by LUID, or by index when the LUID is 0), with
// its default values and the address still to fill in.
MIB_UNICASTIPADDRESS_ROW Ipv4AddressRow(uint64_t luid, uint32_t if_index) {
  MIB_UNICASTIPADDRESS_ROW row;
  ::InitializeUnicastIpAddressEntry(&row);
  row.InterfaceLuid.Value = luid;
  row.InterfaceIndex = if_index;
  row.Address.si_family = AF_INET;
  row.Address.Ipv4.sin_family = AF_INET;
  return row;
}

// ---- Adapter DNS servers and the resolver cache ----

// DNS_INTERFACE_SETTINGS as Microsoft Learn documents it (netioapi.h, Windows 10 build 19041
// and later); MinGW's headers do not have it yet.
struct DnsInterfaceSettingsV1 {
  ULONG Version;
  ULONG64 Flags;
  PWSTR Domain;
  PWSTR NameServer;
  PWSTR SearchList;
  ULONG RegistrationEnabled;
  ULONG RegisterAdapterName;
  ULONG EnableLLMNR;
  ULONG QueryAdapterName;
  PWSTR ProfileNameServer;
};
constexpr ULONG kDnsInterfaceSettingsVersion1 = 1;
constexpr ULONG64 kDnsSettingIpv6 = 0x0001;
constexpr ULONG64 kDnsSettingNameServer = 0x0002;

using SetInterfaceDnsSettingsFunction = DWORD(WINAPI*)(GUID, const DnsInterfaceSettingsV1*);
using DnsFlushResolverCacheFunction = BOOL(WINAPI*)();

// Both DLLs stay loaded for the life of the process (iphlpapi.dll is linked anyway), so the
// addresses are looked up once.
template <typename Function>
Function SystemFunction(const wchar_t* dll, const char* name) {
  HMODULE module = ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module == nullptr ? nullptr : reinterpret_cast<Function>(::GetProcAddress(module, name));
}

}  // namespace

ReadStatus Win32HostNetwork::ListAdapters(AdapterListing listing,
                                          std::vector<AdapterInfo>* adapters) {
  adapters->clear();
  const ULONG family = ListingFamily(listing);
  const ULONG flags = ListingFlags(listing);
  ULONG size = 0;
  if (::GetAdaptersAddresses(family, flags, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW ||
      size == 0) {
    return ReadStatus::kSizingFailed;
  }
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
  auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
  if (::GetAdaptersAddresses(family, flags, nullptr, first, &size) != NO_ERROR) {
    return ReadStatus::kReadFailed;
  }
  for (const IP_ADAPTER_ADDRESSES* entry = first; entry != nullptr; entry = entry->Next) {
    AdapterInfo info;
    if (entry->FriendlyName != nullptr) info.friendly_name = entry->FriendlyName;
    if (entry->Description != nullptr) info.description = entry->Description;
    info.luid = entry->Luid.Value;
    info.if_index = entry->IfIndex;
    info.ipv6_if_index = entry->Ipv6IfIndex;
    info.oper_up = entry->OperStatus == IfOperStatusUp;
    info.software_loopback = entry->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    info.dhcpv4_enabled = (entry->Flags & IP_ADAPTER_DHCP_ENABLED) != 0;
    info.dns_v4_static = HasStaticDns(entry->AdapterName, "Tcpip");
    info.dns_v6_static = HasStaticDns(entry->AdapterName, "Tcpip6");
    for (const IP_ADAPTER_DNS_SERVER_ADDRESS* dns = entry->FirstDnsServerAddress; dns != nullptr;
         dns = dns->Next) {
      DnsServerEntry server;
      server.text = SockaddrText(dns->Address.lpSockaddr, &server.ipv4);
      info.dns_servers.push_back(server);
    }
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = entry->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      bool ipv4 = false;
      const std::string text = SockaddrText(unicast->Address.lpSockaddr, &ipv4);
      if (!ipv4 || text.empty()) continue;
      info.ipv4_addresses.push_back({text, unicast->OnLinkPrefixLength});
    }
    adapters->push_back(std::move(info));
  }
  return ReadStatus::kOk;
}

ReadStatus Win32HostNetwork::ReadIpv4Routes(std::vector<Ipv4Route>* routes) {
  routes->clear();
  ULONG size = 0;
  if (::GetIpForwardTable(nullptr, &size, TRUE) != ERROR_INSUFFICIENT_BUFFER || size == 0) {
    return ReadStatus::kSizingFailed;
  }
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
  auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(buffer.get());
  if (::GetIpForwardTable(table, &size, TRUE) != NO_ERROR) return ReadStatus::kReadFailed;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IPFORWARDROW& row = table->table[i];
    routes->push_back({FromNetworkOrder(row.dwForwardDest), FromNetworkOrder(row.dwForwardMask),
                       FromNetworkOrder(row.dwForwardNextHop), row.dwForwardIfIndex,
                       row.dwForwardMetric1});
  }
  return ReadStatus::kOk;
}

bool Win32HostNetwork::DeleteIpv4Route(const Ipv4Route& route) {
  MIB_IPFORWARD_ROW2 row;
  ::InitializeIpForwardEntry(&row);
  row.InterfaceIndex = route.if_index;
  row.DestinationPrefix.Prefix.si_family = AF_INET;
  row.DestinationPrefix.Prefix.Ipv4.sin_family = AF_INET;
  row.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr = htonl(route.destination);
  UINT8 prefix = 0;
  for (Ipv4Address mask = route.mask; mask & 0x80000000u; mask <<= 1) ++prefix;
  row.DestinationPrefix.PrefixLength = prefix;
  row.NextHop.si_family = AF_INET;
  row.NextHop.Ipv4.sin_family = AF_INET;
  row.NextHop.Ipv4.sin_addr.s_addr = htonl(route.next_hop);
  return ::DeleteIpForwardEntry2(&row) == NO_ERROR;
}

uint32_t Win32HostNetwork::GetBestRoute(Ipv4Address destination, Ipv4Route* route) {
  MIB_IPFORWARDROW row{};
  const DWORD error = ::GetBestRoute(htonl(destination), 0, &row);
  if (error != NO_ERROR) return error;
  *route = {FromNetworkOrder(row.dwForwardDest), FromNetworkOrder(row.dwForwardMask),
            FromNetworkOrder(row.dwForwardNextHop), row.dwForwardIfIndex, row.dwForwardMetric1};
  return 0;
}

bool Win32HostNetwork::ReadIpv6DefaultRoute(bool* present) {
  *present = false;
  MIB_IPFORWARD_TABLE2* table = nullptr;
  if (::GetIpForwardTable2(AF_INET6, &table) != NO_ERROR || table == nullptr) return false;
  for (ULONG i = 0; i < table->NumEntries; ++i) {
    const IP_ADDRESS_PREFIX& prefix = table->Table[i].DestinationPrefix;
    if (prefix.Prefix.si_family == AF_INET6 && prefix.PrefixLength == 0) *present = true;
  }
  ::FreeMibTable(table);
  return true;
}

bool Win32HostNetwork::DeleteUnicastAddress(uint64_t luid, uint32_t if_index,
                                            const std::string& address) {
  MIB_UNICASTIPADDRESS_ROW row = Ipv4AddressRow(luid, if_index);
  if (::inet_pton(AF_INET, address.c_str(), &row.Address.Ipv4.sin_addr) != 1) return false;
  return ::DeleteUnicastIpAddressEntry(&row) == NO_ERROR;
}

bool Win32HostNetwork::GetInterfaceMetric(uint32_t if_index, InterfaceMetric* metric) {
  MIB_IPINTERFACE_ROW row;
  ::InitializeIpInterfaceEntry(&row);
  row.Family = AF_INET;
  row.InterfaceIndex = if_index;
  if (::GetIpInterfaceEntry(&row) != NO_ERROR) return false;
  metric->metric = row.Metric;
  metric->automatic = row.UseAutomaticMetric != FALSE;
  return true;
}

bool Win32HostNetwork::SetInterfaceMetric(uint32_t if_index, const InterfaceMetric& metric) {
  MIB_IPINTERFACE_ROW row;
  ::InitializeIpInterfaceEntry(&row);
  row.Family = AF_INET;
  row.InterfaceIndex = if_index;
  if (::GetIpInterfaceEntry(&row) != NO_ERROR) return false;
  row.Metric = metric.metric;
  row.UseAutomaticMetric = metric.automatic ? TRUE : FALSE;
  // SetIpInterfaceEntry rejects an IPv4 row that carries the site prefix length it reported.
  row.SitePrefixLength = 0;
  return ::SetIpInterfaceEntry(&row) == NO_ERROR;
}

// ---- Route and address changes ----

uint32_t Win32HostNetwork::AddIpv4Route(const Ipv4RouteToAdd& route) {
  MIB_IPFORWARD_ROW2 row;
  ::InitializeIpForwardEntry(&row);
  row.InterfaceLuid.Value = route.luid;
  row.InterfaceIndex = route.if_index;
  row.DestinationPrefix.Prefix.si_family = AF_INET;
  row.DestinationPrefix.Prefix.Ipv4.sin_family = AF_INET;
  row.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr = htonl(route.destination);
  row.DestinationPrefix.PrefixLength = route.prefix_length;
  row.NextHop.si_family = AF_INET;
  row.NextHop.Ipv4.sin_family = AF_INET;
  row.NextHop.Ipv4.sin_addr.s_addr = htonl(route.next_hop);
  row.Metric = route.metric;
  // A route set by hand, as route.exe and netsh mark theirs.
  row.Protocol = RouteProtocolNetMgmt;  // MIB_IPPROTO_NETMGMT
  return ::CreateIpForwardEntry2(&row);
}

uint32_t Win32HostNetwork::AddUnicastAddress(uint64_t luid, uint32_t if_index, Ipv4Address address,
                                             uint8_t prefix_length) {
  MIB_UNICASTIPADDRESS_ROW row = Ipv4AddressRow(luid, if_index);
  row.Address.Ipv4.sin_addr.s_addr = htonl(address);
  row.OnLinkPrefixLength = prefix_length;
  row.PrefixOrigin = IpPrefixOriginManual;
  row.SuffixOrigin = IpSuffixOriginManual;
  // From Windows 10 on, the address is usable at once instead of after about three seconds of
  // duplicate address detection; the tunnel's point-to-point link has no one to collide with.
  row.DadState = IpDadStatePreferred;
  return ::CreateUnicastIpAddressEntry(&row);
}

std::vector<std::string> Win32HostNetwork::ResolveIpv4(const std::string& name) {
  return ResolveServerIPv4(name);
}

SystemCallResult Win32HostNetwork::SetAdapterDnsServers(uint64_t luid, bool ipv6,
                                                        const std::vector<std::string>& servers) {
  static const auto set_dns =
      SystemFunction<SetInterfaceDnsSettingsFunction>(L"iphlpapi.dll", "SetInterfaceDnsSettings");
  if (set_dns == nullptr) return SystemCallResult::kMissing;
  NET_LUID net_luid;
  net_luid.Value = luid;
  GUID guid;
  if (::ConvertInterfaceLuidToGuid(&net_luid, &guid) != NO_ERROR) return SystemCallResult::kFailed;
  // NameServer is a comma- or blank-separated list; an empty one leaves the family to DHCP.
  std::string list;
  for (const std::string& server : servers) list += (list.empty() ? "" : ",") + server;
  std::wstring name_server = Utf8ToWide(list);
  DnsInterfaceSettingsV1 settings{};
  settings.Version = kDnsInterfaceSettingsVersion1;
  settings.Flags = kDnsSettingNameServer | (ipv6 ? kDnsSettingIpv6 : 0);
  settings.NameServer = &name_server[0];
  return set_dns(guid, &settings) == NO_ERROR ? SystemCallResult::kDone : SystemCallResult::kFailed;
}

SystemCallResult Win32HostNetwork::FlushResolverCache() {
  // Exported by dnsapi.dll since Windows 2000, but not documented: if it is ever missing,
  // the caller runs "ipconfig /flushdns" instead.
  static const auto flush =
      SystemFunction<DnsFlushResolverCacheFunction>(L"dnsapi.dll", "DnsFlushResolverCache");
  if (flush == nullptr) return SystemCallResult::kMissing;
  return flush() ? SystemCallResult::kDone : SystemCallResult::kFailed;
}

}  // namespace zelvora
