// The adapter driver as the Wintun holder sees it: wintun.dll and its three entry points, the
// network-class devices with their removal, and the network list's profiles.
// The production implementation (adapter_driver_win32.cpp) is LoadLibrary/GetProcAddress,
// SetupAPI and the network list manager, one thin call per operation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelvora {

// Opaque Wintun adapter handle; 0 is none.
using WintunAdapter = uintptr_t;

enum class WintunLoadResult {
  kLoaded,          // the library is loaded and all three entry points were found
  kLoadFailed,      // the library could not be loaded (error set)
  kMissingExports,  // loaded, but an entry point is missing; the library was unloaded again
};

// One network-class device (present or not).
struct NetDevice {
  std::wstring friendly_name;  // empty when the property is missing
  std::wstring description;    // empty when the property is missing
  std::wstring instance_id;
};

enum class DeviceRemovalResult {
  kRemoved,
  kAlreadyGone,   // the class installer reported that the device no longer exists
  kOpenFailed,    // no device with that instance ID could be opened
  kParamsFailed,  // setting the removal parameters failed (error set)
  kRemoveFailed,  // the class installer failed (error set)
};

// One network of the network list (the profile Windows shows for a connection).
struct NetworkProfile {
  std::wstring id;  // the network's identity, as the driver needs it to rename
  std::wstring name;
};

class AdapterDriver {
 public:
  virtual ~AdapterDriver() = default;

  // wintun.dll. Calls other than LoadWintun need a loaded library.
  virtual WintunLoadResult LoadWintun(const std::wstring& path, uint32_t* error) = 0;
  virtual void UnloadWintun() = 0;
  // Null with the reason in `error` when there is no such adapter.
  virtual WintunAdapter OpenAdapter(const std::wstring& name, uint32_t* error) = 0;
  virtual WintunAdapter CreateAdapter(const std::wstring& name, const std::wstring& tunnel_type,
                                      const std::wstring& requested_guid, uint32_t* error) = 0;
  virtual void CloseAdapter(WintunAdapter adapter) = 0;

  // All network-class devices, present or not, in enumeration order.
  virtual bool ListNetDevices(std::vector<NetDevice>* devices, uint32_t* error) = 0;
  // Opens the device by instance ID and removes it with the class installer.
  virtual DeviceRemovalResult RemoveNetDevice(const std::wstring& instance_id, uint32_t* error) = 0;

  // The network list (connected and disconnected). False when the manager is unavailable.
  virtual bool ListNetworks(std::vector<NetworkProfile>* networks) = 0;
  virtual bool RenameNetwork(const std::wstring& id, const std::wstring& name) = 0;
};

}  // namespace zelvora
