#include "vpn_engine/host/windows_filtering_engine.h"

#include <fwpmu.h>
#include <windows.h>

#include "common/text_encoding.h"
#include "vpn_engine/dns_protection/dns_guard.h"
#include "vpn_engine/host/wfp_identifiers.h"

namespace {

HANDLE Handle(WfpSession session) { return reinterpret_cast<HANDLE>(session); }

GUID ToGuid(const WfpKey& key) {
  GUID guid;
  guid.Data1 = key.data1;
  guid.Data2 = key.data2;
  guid.Data3 = key.data3;
  for (int i = 0; i < 8; ++i) guid.Data4[i] = key.data4[i];
  return guid;
}

const GUID& FieldKey(WfpField field) {
  switch (field) {
    case WfpField::kAppId:
      return wfp_ids::kConditionAleAppId;
    case WfpField::kIpProtocol:
      return wfp_ids::kConditionIpProtocol;
    case WfpField::kRemotePort:
      return wfp_ids::kConditionIpRemotePort;
    case WfpField::kRemoteAddressV4:
      return wfp_ids::kConditionIpRemoteAddress;
    case WfpField::kLocalPort:
      return wfp_ids::kConditionIpLocalPort;
    case WfpField::kFlags:
      return wfp_ids::kConditionFlags;
    case WfpField::kLocalInterface:
      break;
  }
  return wfp_ids::kConditionIpLocalInterface;
}

}  // namespace

uint32_t WindowsFilteringEngine::OpenDynamicSession(WfpSession* session) {
  FWPM_SESSION0 options = {};
  options.flags = wfp_ids::kSessionFlagDynamic;
  HANDLE engine = nullptr;
  const DWORD code = FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &options, &engine);
  *session = code == ERROR_SUCCESS ? reinterpret_cast<WfpSession>(engine) : 0;
  return code;
}

void WindowsFilteringEngine::CloseSession(WfpSession session) {
  if (session != 0) FwpmEngineClose0(Handle(session));
}

uint32_t WindowsFilteringEngine::BeginTransaction(WfpSession session) {
  return FwpmTransactionBegin0(Handle(session), 0);
}

uint32_t WindowsFilteringEngine::CommitTransaction(WfpSession session) {
  return FwpmTransactionCommit0(Handle(session));
}

uint32_t WindowsFilteringEngine::AbortTransaction(WfpSession session) {
  return FwpmTransactionAbort0(Handle(session));
}

uint32_t WindowsFilteringEngine::AddProvider(WfpSession session, const WfpProviderSpec& provider) {
  std::wstring name = Utf8ToWide(provider.displayName);
  FWPM_PROVIDER0 record = {};
  record.providerKey = ToGuid(provider.key);
  record.displayData.name = name.data();
  record.flags = 0;  // not persistent: it goes with the session
  return FwpmProviderAdd0(Handle(session), &record, nullptr);
}

uint32_t WindowsFilteringEngine::AddSublayer(WfpSession session, const WfpSublayerSpec& sublayer) {
  std::wstring name = Utf8ToWide(sublayer.displayName);
  FWPM_SUBLAYER0 record = {};
  record.subLayerKey = ToGuid(sublayer.key);
  record.displayData.name = name.data();
  record.flags = 0;
  record.weight = sublayer.weight;
  GUID provider_key{};
  if (sublayer.provider) {
    provider_key = ToGuid(*sublayer.provider);
    record.providerKey = &provider_key;
  }
  return FwpmSubLayerAdd0(Handle(session), &record, nullptr);
}

uint32_t WindowsFilteringEngine::AddFilter(WfpSession session, const WfpFilterSpec& filter,
                                           uint64_t* id) {
  std::wstring name = Utf8ToWide(filter.displayName);
  std::vector<FWPM_FILTER_CONDITION0> conditions(filter.conditions.size());
  // Blobs and 64-bit values are passed by pointer; these own them until the call returns.
  std::vector<FWP_BYTE_BLOB> blobs(filter.conditions.size());
  std::vector<UINT64> wide_values(filter.conditions.size());
  for (size_t i = 0; i < filter.conditions.size(); ++i) {
    const WfpCondition& from = filter.conditions[i];
    FWPM_FILTER_CONDITION0& to = conditions[i];
    to.fieldKey = FieldKey(from.field);
    to.matchType = from.match == WfpMatch::kEqual      ? FWP_MATCH_EQUAL
                   : from.match == WfpMatch::kNotEqual ? FWP_MATCH_NOT_EQUAL
                                                       : FWP_MATCH_FLAGS_ALL_SET;
    switch (from.field) {
      case WfpField::kAppId:
        blobs[i].size = static_cast<UINT32>(from.appId.size());
        blobs[i].data = const_cast<UINT8*>(from.appId.data());
        to.conditionValue.type = FWP_BYTE_BLOB_TYPE;
        to.conditionValue.byteBlob = &blobs[i];
        break;
      case WfpField::kIpProtocol:
        to.conditionValue.type = FWP_UINT8;
        to.conditionValue.uint8 = static_cast<UINT8>(from.value);
        break;
      case WfpField::kRemotePort:
      case WfpField::kLocalPort:
        to.conditionValue.type = FWP_UINT16;
        to.conditionValue.uint16 = static_cast<UINT16>(from.value);
        break;
      case WfpField::kRemoteAddressV4:
      case WfpField::kFlags:
        to.conditionValue.type = FWP_UINT32;
        to.conditionValue.uint32 = static_cast<UINT32>(from.value);
        break;
      case WfpField::kLocalInterface:
        wide_values[i] = from.value;
        to.conditionValue.type = FWP_UINT64;
        to.conditionValue.uint64 = &wide_values[i];
        break;
    }
  }
  FWPM_FILTER0 record = {};
  record.displayData.name = name.data();
  record.flags = 0;
  record.layerKey = filter.layer == WfpLayer::kAleAuthConnectV4 ? wfp_ids::kLayerAleAuthConnectV4
                                                                : wfp_ids::kLayerAleAuthConnectV6;
  record.subLayerKey = ToGuid(filter.subLayerKey);
  record.weight.type = FWP_UINT8;
  record.weight.uint8 = filter.weight;
  record.numFilterConditions = static_cast<UINT32>(conditions.size());
  record.filterCondition = conditions.data();
  record.action.type = filter.action == WfpAction::kPermit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;
  GUID provider_key{};
  if (filter.provider) {
    provider_key = ToGuid(*filter.provider);
    record.providerKey = &provider_key;
  }
  UINT64 filter_id = 0;
  const DWORD code = FwpmFilterAdd0(Handle(session), &record, nullptr, &filter_id);
  *id = filter_id;
  return code;
}

uint32_t WindowsFilteringEngine::DeleteFilterById(WfpSession session, uint64_t id) {
  return FwpmFilterDeleteById0(Handle(session), id);
}

uint32_t WindowsFilteringEngine::DeleteSublayerByKey(WfpSession session, const WfpKey& key) {
  const GUID guid = ToGuid(key);
  return FwpmSubLayerDeleteByKey0(Handle(session), &guid);
}

uint32_t WindowsFilteringEngine::DeleteProviderByKey(WfpSession session, const WfpKey& key) {
  const GUID guid = ToGuid(key);
  return FwpmProviderDeleteByKey0(Handle(session), &guid);
}

uint32_t WindowsFilteringEngine::AppIdFromFileName(const std::wstring& path,
                                                   std::vector<uint8_t>* app_id) {
  FWP_BYTE_BLOB* blob = nullptr;
  const DWORD code = FwpmGetAppIdFromFileName0(path.c_str(), &blob);
  app_id->clear();
  if (code == ERROR_SUCCESS && blob) app_id->assign(blob->data, blob->data + blob->size);
  if (blob) FwpmFreeMemory0(reinterpret_cast<void**>(&blob));
  return code;
}

DnsGuard& ProcessDnsGuard() {
  // Never destroyed (see the header): no filtering call ever runs from a static destructor.
  static DnsGuard* const guard = new DnsGuard(*new WindowsFilteringEngine);
  return *guard;
}
