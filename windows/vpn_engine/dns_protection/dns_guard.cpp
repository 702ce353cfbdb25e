#include "vpn_engine/dns_protection/dns_guard.h"

#include "common/text_encoding.h"
#include "tunnel_log/tunnel_log.h"

namespace {

std::string FilterFailureLine(const DnsGuardFilter& filter, uint32_t code) {
  const std::string number = std::to_string(code);
  switch (filter.role) {
    case DnsGuardFilterRole::kXrayPermit:
      return "dns-guard: permit filter failed " + number;
    case DnsGuardFilterRole::kDnsLeakGuard: {
      bool tcp = false;
      for (const WfpCondition& c : filter.spec.conditions) {
        if (c.field == WfpField::kIpProtocol) tcp = c.value == 6;
      }
      const bool v4 = filter.spec.layer == WfpLayer::kAleAuthConnectV4;
      return "dns-guard: FwpmFilterAdd failed " + number + (v4 ? " v4" : " v6") +
             (tcp ? " tcp" : " udp");
    }
    case DnsGuardFilterRole::kLocalPermit:
      return "dns-guard: local traffic permit failed " + number;
    case DnsGuardFilterRole::kIpv6LeakGuard:
      break;
  }
  return "dns-guard: IPv6 outbound block failed " + number;
}

}  // namespace

bool DnsGuard::installed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return installed_;
}

int DnsGuard::filterCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return filterCount_;
}

bool DnsGuard::OpenEngine() {
  if (session_ != 0) return true;
  WfpSession session = 0;
  const uint32_t code = engine_.OpenDynamicSession(&session);
  if (code != 0 || session == 0) {
    TunnelLogWrite("dns-guard: FwpmEngineOpen failed " + std::to_string(code));
    return false;
  }
  session_ = session;
  return true;
}

bool DnsGuard::AddFilters(const std::vector<DnsGuardFilter>& filters) {
  for (const DnsGuardFilter& filter : filters) {
    if (filterCount_ >= static_cast<int>(kDnsGuardFilterCapacity)) return false;
    uint64_t id = 0;
    const uint32_t code = engine_.AddFilter(session_, filter.spec, &id);
    if (code != 0) {
      TunnelLogWrite(FilterFailureLine(filter, code));
      return false;
    }
    filterIds_[static_cast<size_t>(filterCount_++)] = id;
  }
  return true;
}

bool DnsGuard::Install(uint64_t tunnel_luid, const std::string& xray_path,
                       const std::vector<std::string>& servers) {
  Remove();
  std::lock_guard<std::mutex> lock(mutex_);
  if (tunnel_luid == 0) {
    TunnelLogWrite("dns-guard: missing Zelvora LUID");
    return false;
  }
  if (!OpenEngine()) return false;
  uint32_t code = engine_.BeginTransaction(session_);
  if (code != 0) {
    TunnelLogWrite("dns-guard: TransactionBegin failed " + std::to_string(code));
    return false;
  }
  // The provider is ours only when this add creates it; one that exists belongs to another
  // session, which removes it, so nothing of ours refers to it.
  const bool own_provider = engine_.AddProvider(session_, DnsGuardProvider()) == 0;
  WfpSublayerSpec sublayer = DnsGuardSublayer();
  if (own_provider) sublayer.provider = kDnsGuardProviderKey;
  code = engine_.AddSublayer(session_, sublayer);
  if (code != 0) {
    // An existing sublayer of this key is another session's guard: filters added to it would
    // be removed with it, and removing it here would take that guard down.
    TunnelLogWrite("dns-guard: SubLayerAdd failed " + std::to_string(code) +
                   (code == kWfpErrorAlreadyExists ? " (held by another session)" : ""));
    engine_.AbortTransaction(session_);
    return false;
  }
  std::vector<uint8_t> app_id;
  if (!xray_path.empty()) {
    code = engine_.AppIdFromFileName(Utf8ToWide(xray_path), &app_id);
    if (code != 0) {
      TunnelLogWrite("dns-guard: FwpmGetAppIdFromFileName failed " + std::to_string(code));
      app_id.clear();
    }
  }
  if (app_id.empty()) {
    // Without the core's id the permits would have to let any program reach the DNS hosts.
    TunnelLogWrite("dns-guard: missing xray AppID — refusing permit-any DNS hosts");
    engine_.AbortTransaction(session_);
    return false;
  }
  const std::vector<uint32_t> hosts = DnsGuardPermittedHosts(servers);
  if (hosts.empty()) {
    TunnelLogWrite("dns-guard: no valid DNS permit hosts");
    engine_.AbortTransaction(session_);
    return false;
  }
  if (hosts.size() > kDnsGuardMaxPermittedHosts) {
    // Leaving some out would make the core's lookups to them fail in silence once connected.
    TunnelLogWrite("dns-guard: the configuration names " + std::to_string(hosts.size()) +
                   " DNS servers, more than the " + std::to_string(kDnsGuardMaxPermittedHosts) +
                   " the guard can let the core reach — refusing");
    engine_.AbortTransaction(session_);
    return false;
  }
  std::vector<DnsGuardFilter> filters = BuildDnsGuardFilters(tunnel_luid, app_id, hosts);
  if (own_provider) {
    for (DnsGuardFilter& filter : filters) filter.spec.provider = kDnsGuardProviderKey;
  }
  if (!AddFilters(filters)) {
    engine_.AbortTransaction(session_);
    filterCount_ = 0;
    TunnelLogWrite("dns-guard: install aborted");
    return false;
  }
  code = engine_.CommitTransaction(session_);
  if (code != 0) {
    TunnelLogWrite("dns-guard: commit failed " + std::to_string(code));
    filterCount_ = 0;
    return false;
  }
  installed_ = true;
  provider_added_ = own_provider;
  TunnelLogWrite("dns-guard: blocking DNS + IPv6 outbound on non-Zelvora interfaces (" +
                 std::to_string(filterCount_) + " filters)");
  return true;
}

void DnsGuard::Remove() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (session_ == 0 && !installed_) {
    filterCount_ = 0;
    return;
  }
  if (!OpenEngine()) {
    installed_ = false;
    filterCount_ = 0;
    return;
  }
  for (int i = 0; i < filterCount_; ++i) engine_.DeleteFilterById(session_, filterIds_[i]);
  filterIds_.fill(0);
  filterCount_ = 0;
  // Only what this guard added: after a failed install nothing of it is committed, and a
  // sublayer or provider of another session is not ours to delete.
  if (installed_) engine_.DeleteSublayerByKey(session_, kDnsGuardSublayerKey);
  if (installed_ && provider_added_) engine_.DeleteProviderByKey(session_, kDnsGuardProviderKey);
  installed_ = false;
  provider_added_ = false;
  engine_.CloseSession(session_);
  session_ = 0;
  TunnelLogWrite("dns-guard: removed");
}
