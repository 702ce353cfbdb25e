// The filtering engine seam over the real Windows Filtering Platform (fwpuclnt.dll).
#pragma once

#include "vpn_engine/host/filtering_engine.h"

class WindowsFilteringEngine : public FilteringEngine {
 public:
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
};
