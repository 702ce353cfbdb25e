// The production AdapterDriver: wintun.dll, SetupAPI and the network list manager.
#pragma once

#include <windows.h>

#include "vpn_engine/host/adapter_driver.h"

namespace zelvora {

class Win32AdapterDriver : public AdapterDriver {
 public:
  ~Win32AdapterDriver() override;

  WintunLoadResult LoadWintun(const std::wstring& path, uint32_t* error) override;
  void UnloadWintun() override;
  WintunAdapter OpenAdapter(const std::wstring& name, uint32_t* error) override;
  WintunAdapter CreateAdapter(const std::wstring& name, const std::wstring& tunnel_type,
                              const std::wstring& requested_guid, uint32_t* error) override;
  void CloseAdapter(WintunAdapter adapter) override;

  bool ListNetDevices(std::vector<NetDevice>* devices, uint32_t* error) override;
  DeviceRemovalResult RemoveNetDevice(const std::wstring& instance_id, uint32_t* error) override;

  bool ListNetworks(std::vector<NetworkProfile>* networks) override;
  bool RenameNetwork(const std::wstring& id, const std::wstring& name) override;

 private:
  using CreateFn = void*(WINAPI*)(const wchar_t*, const wchar_t*, const GUID*);
  using OpenFn = void*(WINAPI*)(const wchar_t*);
  using CloseFn = void(WINAPI*)(void*);

  HMODULE module_ = nullptr;
  CreateFn create_ = nullptr;
  OpenFn open_ = nullptr;
  CloseFn close_ = nullptr;
};

}  // namespace zelvora
