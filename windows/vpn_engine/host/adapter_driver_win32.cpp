// AdapterDriver over wintun.dll, SetupAPI and the network list manager.
#include "vpn_engine/host/adapter_driver_win32.h"

#include <initguid.h>
#include <netlistmgr.h>
#include <objbase.h>
#include <setupapi.h>
#include <wrl/client.h>

#include "common/com_apartment.h"

namespace zelvora {
namespace {

using Microsoft::WRL::ComPtr;

// The network device class {4D36E972-E325-11CE-BFC1-08002BE10318}.
const GUID kNetClass = {
    0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr DWORD kNoSuchDevinst = 0xE000020B;

// A device information set, destroyed on every path.
class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~DeviceInfoSet() {
    if (valid()) ::SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

// A device's string property into a 512-byte buffer; empty when it is missing.
std::wstring DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  wchar_t buffer[256] = {};
  if (!::SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof(buffer),
                                           nullptr)) {
    return std::wstring();
  }
  buffer[255] = L'\0';
  return buffer;
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[64] = {};
  ::StringFromGUID2(guid, text, 64);
  return text;
}

}  // namespace

Win32AdapterDriver::~Win32AdapterDriver() { UnloadWintun(); }

WintunLoadResult Win32AdapterDriver::LoadWintun(const std::wstring& path, uint32_t* error) {
  UnloadWintun();
  // By its full path, and its own imports only from its folder and System32: never from the
  // current folder or PATH.
  HMODULE module = ::LoadLibraryExW(
      path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    if (error != nullptr) *error = ::GetLastError();
    return WintunLoadResult::kLoadFailed;
  }
  create_ = reinterpret_cast<CreateFn>(::GetProcAddress(module, "WintunCreateAdapter"));
  open_ = reinterpret_cast<OpenFn>(::GetProcAddress(module, "WintunOpenAdapter"));
  close_ = reinterpret_cast<CloseFn>(::GetProcAddress(module, "WintunCloseAdapter"));
  if (create_ == nullptr || open_ == nullptr || close_ == nullptr) {
    create_ = nullptr;
    open_ = nullptr;
    close_ = nullptr;
    ::FreeLibrary(module);
    return WintunLoadResult::kMissingExports;
  }
  module_ = module;
  return WintunLoadResult::kLoaded;
}

void Win32AdapterDriver::UnloadWintun() {
  if (module_ != nullptr) ::FreeLibrary(module_);
  module_ = nullptr;
  create_ = nullptr;
  open_ = nullptr;
  close_ = nullptr;
}

WintunAdapter Win32AdapterDriver::OpenAdapter(const std::wstring& name, uint32_t* error) {
  if (open_ == nullptr) return 0;
  void* adapter = open_(name.c_str());
  if (adapter == nullptr && error != nullptr) *error = ::GetLastError();
  return reinterpret_cast<WintunAdapter>(adapter);
}

WintunAdapter Win32AdapterDriver::CreateAdapter(const std::wstring& name,
                                                const std::wstring& tunnel_type,
                                                const std::wstring& requested_guid,
                                                uint32_t* error) {
  if (create_ == nullptr) return 0;
  GUID guid{};
  std::wstring braced = L"{" + requested_guid + L"}";
  const bool has_guid = ::CLSIDFromString(braced.data(), &guid) == NOERROR;
  void* adapter = create_(name.c_str(), tunnel_type.c_str(), has_guid ? &guid : nullptr);
  if (adapter == nullptr && error != nullptr) *error = ::GetLastError();
  return reinterpret_cast<WintunAdapter>(adapter);
}

void Win32AdapterDriver::CloseAdapter(WintunAdapter adapter) {
  if (close_ != nullptr && adapter != 0) close_(reinterpret_cast<void*>(adapter));
}

bool Win32AdapterDriver::ListNetDevices(std::vector<NetDevice>* devices, uint32_t* error) {
  devices->clear();
  DeviceInfoSet set(::SetupDiGetClassDevsW(&kNetClass, nullptr, nullptr, 0));
  if (!set.valid()) {
    if (error != nullptr) *error = ::GetLastError();
    return false;
  }
  for (DWORD i = 0;; ++i) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!::SetupDiEnumDeviceInfo(set.get(), i, &device)) break;
    NetDevice entry;
    entry.friendly_name = DeviceProperty(set.get(), &device, SPDRP_FRIENDLYNAME);
    entry.description = DeviceProperty(set.get(), &device, SPDRP_DEVICEDESC);
    wchar_t id[512] = {};
    if (::SetupDiGetDeviceInstanceIdW(set.get(), &device, id, 512, nullptr)) entry.instance_id = id;
    devices->push_back(std::move(entry));
  }
  return true;
}

DeviceRemovalResult Win32AdapterDriver::RemoveNetDevice(const std::wstring& instance_id,
                                                        uint32_t* error) {
  DeviceInfoSet set(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
  if (!set.valid()) return DeviceRemovalResult::kOpenFailed;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  if (!::SetupDiOpenDeviceInfoW(set.get(), instance_id.c_str(), nullptr, 0, &device)) {
    return DeviceRemovalResult::kOpenFailed;
  }
  SP_REMOVEDEVICE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = DI_REMOVEDEVICE_GLOBAL;
  params.HwProfile = 0;
  if (!::SetupDiSetClassInstallParamsW(set.get(), &device, &params.ClassInstallHeader,
                                       sizeof(params))) {
    if (error != nullptr) *error = ::GetLastError();
    return DeviceRemovalResult::kParamsFailed;
  }
  if (!::SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &device)) {
    const DWORD code = ::GetLastError();
    if (code == kNoSuchDevinst) return DeviceRemovalResult::kAlreadyGone;
    if (error != nullptr) *error = code;
    return DeviceRemovalResult::kRemoveFailed;
  }
  return DeviceRemovalResult::kRemoved;
}

bool Win32AdapterDriver::ListNetworks(std::vector<NetworkProfile>* networks) {
  networks->clear();
  ScopedComApartment apartment(ScopedComApartment::Threading::kMulti);
  ComPtr<INetworkListManager> manager;
  if (FAILED(::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL,
                                IID_PPV_ARGS(&manager)))) {
    return false;
  }
  ComPtr<IEnumNetworks> list;
  if (FAILED(manager->GetNetworks(NLM_ENUM_NETWORK_ALL, &list)) || !list) {
    return false;
  }
  for (;;) {
    ComPtr<INetwork> network;
    ULONG fetched = 0;
    if (list->Next(1, &network, &fetched) != S_OK || fetched == 0) break;
    GUID id{};
    BSTR name = nullptr;
    if (FAILED(network->GetNetworkId(&id)) || FAILED(network->GetName(&name))) continue;
    networks->push_back({GuidText(id), name != nullptr ? std::wstring(name) : std::wstring()});
    ::SysFreeString(name);
  }
  return true;
}

bool Win32AdapterDriver::RenameNetwork(const std::wstring& id, const std::wstring& name) {
  GUID guid{};
  std::wstring text = id;
  if (::CLSIDFromString(text.data(), &guid) != NOERROR) return false;
  ScopedComApartment apartment(ScopedComApartment::Threading::kMulti);
  ComPtr<INetworkListManager> manager;
  if (FAILED(::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL,
                                IID_PPV_ARGS(&manager)))) {
    return false;
  }
  ComPtr<INetwork> network;
  if (FAILED(manager->GetNetwork(guid, &network)) || !network) return false;
  BSTR value = ::SysAllocString(name.c_str());
  const HRESULT result = network->SetName(value);
  ::SysFreeString(value);
  return SUCCEEDED(result);
}

}  // namespace zelvora
