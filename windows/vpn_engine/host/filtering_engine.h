// The Windows Filtering Platform as the DNS guard uses it: one dynamic session (everything added
// through it disappears when it closes or the process ends), transactions, a provider, a
// sublayer, filters of a few fixed shapes and application ids. The production implementation is
// one WFP call per operation; tests use a simulated engine with the same contract.
//
// Every call returns a Win32/WFP error code, 0 for success.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A GUID in its textual field order (Data1, Data2, Data3, Data4).
struct WfpKey {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};

  bool operator==(const WfpKey& other) const {
    if (data1 != other.data1 || data2 != other.data2 || data3 != other.data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (data4[i] != other.data4[i]) return false;
    }
    return true;
  }
};

enum class WfpLayer { kAleAuthConnectV4, kAleAuthConnectV6 };
enum class WfpField {
  kAppId,
  kIpProtocol,
  kRemotePort,
  kRemoteAddressV4,
  kLocalInterface,
  kLocalPort,  // also the ICMP type of an ICMP packet
  kFlags,      // FWP_CONDITION_FLAG_* bits of the connection
};
enum class WfpMatch { kEqual, kNotEqual, kFlagsAllSet };
enum class WfpAction { kBlock, kPermit };

// One condition. `value` holds the protocol (UINT8), a port or ICMP type (UINT16), the IPv4
// address (UINT32, host byte order as WFP expects), the flags (UINT32) or the interface LUID
// (UINT64). An application-id
// condition carries its byte blob in `appId`.
struct WfpCondition {
  WfpField field = WfpField::kIpProtocol;
  WfpMatch match = WfpMatch::kEqual;
  uint64_t value = 0;
  std::vector<uint8_t> appId;
};

struct WfpFilterSpec {
  std::string displayName;
  std::optional<WfpKey> provider;  // the provider it belongs to, when there is one
  WfpLayer layer = WfpLayer::kAleAuthConnectV4;
  WfpKey subLayerKey;
  std::vector<WfpCondition> conditions;  // all must hold
  WfpAction action = WfpAction::kBlock;
  uint8_t weight = 0;  // FWP_UINT8 weight
};

struct WfpProviderSpec {
  WfpKey key;
  std::string displayName;
};

struct WfpSublayerSpec {
  WfpKey key;
  std::optional<WfpKey> provider;  // the provider it belongs to, when there is one
  std::string displayName;
  uint16_t weight = 0;
};

// An open engine session; 0 is "none".
using WfpSession = uintptr_t;

// Error WFP gives for adding an object whose key already exists.
inline constexpr uint32_t kWfpErrorAlreadyExists = 0x80320009u;

class FilteringEngine {
 public:
  virtual ~FilteringEngine() = default;

  // Opens the local engine with Windows NT authentication in a dynamic session.
  virtual uint32_t OpenDynamicSession(WfpSession* session) = 0;
  virtual void CloseSession(WfpSession session) = 0;

  virtual uint32_t BeginTransaction(WfpSession session) = 0;
  virtual uint32_t CommitTransaction(WfpSession session) = 0;
  virtual uint32_t AbortTransaction(WfpSession session) = 0;

  virtual uint32_t AddProvider(WfpSession session, const WfpProviderSpec& provider) = 0;
  virtual uint32_t AddSublayer(WfpSession session, const WfpSublayerSpec& sublayer) = 0;
  virtual uint32_t AddFilter(WfpSession session, const WfpFilterSpec& filter, uint64_t* id) = 0;

  virtual uint32_t DeleteFilterById(WfpSession session, uint64_t id) = 0;
  virtual uint32_t DeleteSublayerByKey(WfpSession session, const WfpKey& key) = 0;
  virtual uint32_t DeleteProviderByKey(WfpSession session, const WfpKey& key) = 0;

  // The application id WFP derives from an executable's path (its device-form name).
  virtual uint32_t AppIdFromFileName(const std::wstring& path, std::vector<uint8_t>* app_id) = 0;
};
