// The DNS guard: while the tunnel is up, DNS (port 53, UDP and TCP, IPv4 and IPv6) and all
// outbound IPv6 are blocked on every interface but the tunnel's, and only the Xray core may
// still reach the configured DNS servers directly. The filters live in a dynamic session, so
// they also vanish when the process dies.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "vpn_engine/dns_protection/dns_guard_filters.h"
#include "vpn_engine/host/filtering_engine.h"

// One per process in production (ProcessDnsGuard()); tests make one over the simulated
// filtering engine of their host (HostSeams::filtering).
class DnsGuard {
 public:
  explicit DnsGuard(FilteringEngine& engine) : engine_(engine) {}
  ~DnsGuard() { Remove(); }
  DnsGuard(const DnsGuard&) = delete;
  DnsGuard& operator=(const DnsGuard&) = delete;

  // Removes what an earlier install left, then adds the provider, the sublayer and every filter
  // in one transaction. True only when the transaction committed; on any failure nothing of it
  // stays in the engine.
  bool Install(uint64_t tunnel_luid, const std::string& xray_path,
               const std::vector<std::string>& servers);

  // Deletes the filters, the sublayer and the provider and closes the session. Writes nothing
  // to the log when nothing was installed.
  void Remove();

  bool installed() const;
  int filterCount() const;

 private:
  bool OpenEngine();
  // Adds `filters` in order; false at the first failure (logged by its role).
  bool AddFilters(const std::vector<DnsGuardFilter>& filters);

  FilteringEngine& engine_;
  mutable std::mutex mutex_;
  WfpSession session_ = 0;
  bool installed_ = false;
  bool provider_added_ = false;  // the committed install created the provider
  std::array<uint64_t, kDnsGuardFilterCapacity> filterIds_{};
  int filterCount_ = 0;
};

// The process's guard over the real filtering engine, created on first use and never destroyed:
// a destructor would run under the loader lock at process exit or unload, where calls into the
// filtering engine's RPC may deadlock. Its objects live in a dynamic session, which the system
// ends with the process; the engine's stop removes them before that.
DnsGuard& ProcessDnsGuard();
