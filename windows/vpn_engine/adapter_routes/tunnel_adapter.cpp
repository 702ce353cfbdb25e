#include "vpn_engine/adapter_routes/tunnel_adapter.h"

#include <vector>

#include "common/text_encoding.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"

namespace zelvora {
namespace {

TunnelAdapter Describe(const AdapterInfo& info) {
  TunnelAdapter adapter;
  adapter.luid = info.luid;
  adapter.if_index = info.if_index;
  adapter.name = WideToUtf8(info.friendly_name);
  if (!info.ipv4_addresses.empty()) adapter.address = info.ipv4_addresses.front().text;
  adapter.up = info.oper_up;
  return adapter;
}

}  // namespace

bool FindCarryingAdapter(HostNetwork& network, TunnelAdapter* adapter) {
  std::vector<AdapterInfo> adapters;
  if (network.ListAdapters(AdapterListing::kIpv4, &adapters) != ReadStatus::kOk) return false;
  for (const AdapterInfo& info : adapters) {
    if (!info.oper_up || !IsZelvoraAdapterName(info.friendly_name)) continue;
    *adapter = Describe(info);
    return true;
  }
  return false;
}

bool ReadTunnelAdapter(HostNetwork& network, uint64_t luid, TunnelAdapter* adapter) {
  if (luid == 0) return false;
  std::vector<AdapterInfo> adapters;
  if (network.ListAdapters(AdapterListing::kIpv4, &adapters) != ReadStatus::kOk) return false;
  for (const AdapterInfo& info : adapters) {
    if (info.luid != luid) continue;
    *adapter = Describe(info);
    return true;
  }
  return false;
}

}  // namespace zelvora
