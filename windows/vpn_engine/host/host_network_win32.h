// The production HostNetwork: IP Helper and the system resolver.
#pragma once

#include "vpn_engine/host/host_network.h"

namespace zelvora {

class Win32HostNetwork : public HostNetwork {
 public:
  ReadStatus ListAdapters(AdapterListing listing, std::vector<AdapterInfo>* adapters) override;
  ReadStatus ReadIpv4Routes(std::vector<Ipv4Route>* routes) override;
  bool DeleteIpv4Route(const Ipv4Route& route) override;
  uint32_t GetBestRoute(Ipv4Address destination, Ipv4Route* route) override;
  bool ReadIpv6DefaultRoute(bool* present) override;
  bool DeleteUnicastAddress(uint64_t luid, uint32_t if_index, const std::string& address) override;
  bool GetInterfaceMetric(uint32_t if_index, InterfaceMetric* metric) override;
  bool SetInterfaceMetric(uint32_t if_index, const InterfaceMetric& metric) override;
  // Route and address changes.
  uint32_t AddIpv4Route(const Ipv4RouteToAdd& route) override;
  uint32_t AddUnicastAddress(uint64_t luid, uint32_t if_index, Ipv4Address address,
                             uint8_t prefix_length) override;
  std::vector<std::string> ResolveIpv4(const std::string& name) override;

  // Adapter DNS servers and the resolver cache.
  SystemCallResult SetAdapterDnsServers(uint64_t luid, bool ipv6,
                                        const std::vector<std::string>& servers) override;
  SystemCallResult FlushResolverCache() override;
};

}  // namespace zelvora
