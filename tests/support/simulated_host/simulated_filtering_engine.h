// A filtering engine that behaves like WFP as far as the DNS guard can tell, and answers the
// question that matters: would this packet be allowed out?
//
// Modelled on the platform's documented behaviour:
// - An object added through a dynamic session belongs to it and disappears when the session
//   closes (or the process dies: `DropAllSessions`).
// - Inside a transaction nothing is visible until the commit; an abort leaves nothing.
// - A filter needs an existing sublayer; a second provider or sublayer with the same key fails
//   with FWP_E_ALREADY_EXISTS.
// - Application ids come from file names: the device form of the path, lower-cased, as UTF-16LE
//   with its terminating zero. Only programs registered with `AddProgram` exist.
// - Arbitration: within a sublayer the matching filter of highest weight decides; a block in any
//   sublayer blocks; with no matching filter the packet is allowed.
//
// Assumption to check on a real machine: filters of equal weight in one sublayer are not
// ordered by the platform; the guard never relies on that (its permits outweigh its blocks).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "vpn_engine/host/filtering_engine.h"

// Error codes of the platform the simulation gives back.
namespace sim_wfp {
inline constexpr uint32_t kFilterNotFound = 0x80320003u;
inline constexpr uint32_t kSublayerNotFound = 0x80320007u;
inline constexpr uint32_t kAlreadyExists = 0x80320009u;
inline constexpr uint32_t kProviderNotFound = 0x80320005u;
inline constexpr uint32_t kNoTransaction = 0x8032000Du;
inline constexpr uint32_t kTransactionInProgress = 0x8032000Bu;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kInvalidHandle = 6;
}  // namespace sim_wfp

// A connection attempt at the ALE connect layers.
struct SimPacket {
  std::string program;  // full path of the sending program, e.g. "C:\\Program Files\\..."
  bool tcp = false;     // otherwise UDP
  std::string remote;   // "8.8.8.8" or an IPv6 text such as "2001:4860:4860::8888"
  uint16_t port = 53;
  uint64_t interfaceLuid = 0;  // the local interface it leaves through
  uint8_t protocol = 0;        // IP protocol when neither TCP nor UDP (58: ICMPv6)
  uint16_t localPort = 0;      // the sender's port, or the ICMP type
  bool loopback = false;       // sent to this machine through the loopback interface
};

// Failures to inject, per call kind; 0 means the call behaves normally.
struct SimWfpFailures {
  uint32_t open = 0;
  uint32_t begin = 0;
  uint32_t providerAdd = 0;
  uint32_t sublayerAdd = 0;
  uint32_t commit = 0;
  uint32_t appId = 0;
  int filterAddNumber = 0;  // the Nth AddFilter call from now on fails (1-based); 0: none
  uint32_t filterAddCode = 0x80070005u;
};

class SimulatedFilteringEngine : public FilteringEngine {
 public:
  struct Filter {
    uint64_t id = 0;
    WfpFilterSpec spec;
    WfpSession owner = 0;
  };

  // Makes a program exist, so its application id can be read.
  void AddProgram(const std::wstring& path);
  void SetFailures(const SimWfpFailures& failures);

  // The process died: every dynamic session ends and its objects go.
  void DropAllSessions();

  // What is visible to the system now (committed objects only).
  std::vector<Filter> CommittedFilters() const;
  bool ProviderPresent(const WfpKey& key) const;
  bool SublayerPresent(const WfpKey& key) const;
  // The provider a committed sublayer names, if it names one.
  std::optional<WfpKey> SublayerProvider(const WfpKey& key) const;
  int OpenSessionCount() const;

  // Whether the platform would let `packet` out, judging by the committed filters.
  bool WouldAllow(const SimPacket& packet) const;

  // FilteringEngine
  uint32_t OpenDynamicSession(WfpSession* session) override;
  void CloseSession(WfpSession session) override;
  uint32_t BeginTransaction(WfpSession session) override;
  uint32_t CommitTransaction(WfpSession session) override;
  uint32_t AbortTransaction(WfpSession session) override;
  uint32_t AddProvider(WfpSession session, const WfpProviderSpec& provider) override;
  uint32_t AddSublayer(WfpSession session, const WfpSublayerSpec& sublayer) override;
  uint32_t AddFilter(WfpSession session, const WfpFilterSpec& filter, uint64_t* id) override;
  uint32_t DeleteFilterById(WfpSession session, uint64_t id) override;
  uint32_t DeleteSublayerByKey(WfpSession session, const WfpKey& key) override;
  uint32_t DeleteProviderByKey(WfpSession session, const WfpKey& key) override;
  uint32_t AppIdFromFileName(const std::wstring& path, std::vector<uint8_t>* app_id) override;

 private:
  struct Keyed {
    WfpKey key;
    WfpSession owner = 0;
    uint16_t weight = 0;
    std::optional<WfpKey> provider;
  };
  struct State {
    std::vector<Keyed> providers;
    std::vector<Keyed> sublayers;
    std::vector<Filter> filters;
  };

  static std::vector<uint8_t> DeviceAppId(const std::wstring& path);
  static bool HasProvider(const State& state, const WfpKey& key);
  // The state a session's calls act on: its open transaction, or the committed one.
  State* Target(WfpSession session);
  bool Matches(const Filter& filter, const SimPacket& packet, bool v6) const;

  mutable std::mutex mutex_;
  std::set<std::wstring> programs_;
  SimWfpFailures failures_;
  int filterAddCalls_ = 0;
  WfpSession nextSession_ = 0x100;
  uint64_t nextFilterId_ = 70001;
  std::set<WfpSession> sessions_;
  State committed_;
  std::map<WfpSession, State> transactions_;
};
