#include "vpn_engine/adapter_routes/wintun_holder.h"

#include <chrono>
#include <thread>

#include "common/text_encoding.h"
#include "tunnel_log/tunnel_log.h"

namespace zelvora {
namespace {

constexpr std::chrono::milliseconds kSettleAfterPurge{200};
constexpr std::chrono::milliseconds kSettleAfterRelease{300};

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }

bool ContainsIgnoringAsciiCase(const std::wstring& text, const std::wstring& needle) {
  if (needle.size() > text.size()) return false;
  for (size_t start = 0; start + needle.size() <= text.size(); ++start) {
    size_t i = 0;
    while (i < needle.size() && LowerAscii(text[start + i]) == LowerAscii(needle[i])) ++i;
    if (i == needle.size()) return true;
  }
  return false;
}

std::wstring WithoutTrailingSeparators(std::wstring folder) {
  while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

}  // namespace

bool IsZelvoraAdapterName(const wchar_t* name) {
  return name != nullptr && IsZelvoraAdapterName(std::wstring(name));
}

bool IsZelvoraAdapterName(const std::wstring& name) {
  static const std::wstring kBase = kTunnelAdapterName;
  if (name == kBase) return true;
  if (name.size() < kBase.size() + 2 || name.compare(0, kBase.size(), kBase) != 0 ||
      name[kBase.size()] != L' ') {
    return false;
  }
  for (size_t i = kBase.size() + 1; i < name.size(); ++i) {
    if (name[i] < L'0' || name[i] > L'9') return false;
  }
  return true;
}

unsigned long long ZelvoraAdapterNumber(const std::wstring& name) {
  static const size_t kDigitsFrom = std::wstring(kTunnelAdapterName).size() + 1;
  unsigned long long number = 0;
  for (size_t i = kDigitsFrom; i < name.size(); ++i) {
    if (number < 1000000000000ull) number = number * 10 + static_cast<unsigned>(name[i] - L'0');
  }
  return number;
}

bool IsOrphanAdapter(const std::wstring& name, const std::wstring& description,
                     const std::wstring& instance_id, bool include_own) {
  if (ContainsIgnoringAsciiCase(instance_id, L"ExpressVPN")) return false;
  if (!include_own && ContainsIgnoringAsciiCase(instance_id, kTunnelAdapterGuid)) return false;
  const bool wintun = ContainsIgnoringAsciiCase(instance_id, L"SWD\\Wintun\\");
  if (name != kTunnelAdapterName && IsZelvoraAdapterName(name)) return true;
  if (name == kTunnelAdapterName) return wintun;
  if (!wintun) return false;
  return ContainsIgnoringAsciiCase(name, L"tun2socks") ||
         ContainsIgnoringAsciiCase(description, L"tun2socks");
}

std::vector<std::wstring> WintunDllCandidates(const std::wstring& exe_folder) {
  if (exe_folder.empty()) return {};
  const std::wstring exe = WithoutTrailingSeparators(exe_folder);
  return {exe + L"\\xray\\wintun.dll", exe + L"\\wintun.dll",
          exe + L"\\data\\flutter_assets\\xray\\wintun.dll"};
}

std::string FindTunnelAdapterName(HostNetwork& network) {
  std::vector<AdapterInfo> adapters;
  if (network.ListAdapters(AdapterListing::kAllInterfaces, &adapters) != ReadStatus::kOk) {
    return std::string();
  }
  std::string exact;
  std::string numbered;
  unsigned long long lowest = 0;
  for (const AdapterInfo& adapter : adapters) {
    if (!IsZelvoraAdapterName(adapter.friendly_name)) continue;
    if (adapter.friendly_name == kTunnelAdapterName) {
      exact = WideToUtf8(adapter.friendly_name);
      continue;
    }
    const unsigned long long number = ZelvoraAdapterNumber(adapter.friendly_name);
    if (numbered.empty() || number < lowest) {
      numbered = WideToUtf8(adapter.friendly_name);
      lowest = number;
    }
  }
  return exact.empty() ? numbered : exact;
}

bool IsAdapterPresent(HostNetwork& network) { return !FindTunnelAdapterName(network).empty(); }

WintunHolder::WintunHolder(AdapterDriver& driver, std::function<std::wstring()> find_dll,
                           std::function<void()> registry_pass)
    : driver_(driver), find_dll_(std::move(find_dll)), registry_pass_(std::move(registry_pass)) {}

WintunHolder::~WintunHolder() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (adapter_ != 0 && loaded_) driver_.CloseAdapter(adapter_);
  adapter_ = 0;
  if (loaded_) driver_.UnloadWintun();
  loaded_ = false;
}

bool WintunHolder::EnsureLoaded() {
  if (loaded_) return true;
  const std::wstring path = find_dll_ ? find_dll_() : std::wstring();
  if (path.empty()) {
    TunnelLogWrite("WintunHolder: wintun.dll not found");
    return false;
  }
  uint32_t error = 0;
  switch (driver_.LoadWintun(path, &error)) {
    case WintunLoadResult::kLoaded:
      loaded_ = true;
      TunnelLogWrite("WintunHolder: loaded " + WideToUtf8(path));
      return true;
    case WintunLoadResult::kLoadFailed:
      TunnelLogWrite("WintunHolder: LoadLibrary failed: " + std::to_string(error));
      return false;
    case WintunLoadResult::kMissingExports:
      TunnelLogWrite("WintunHolder: missing Wintun exports");
      return false;
  }
  return false;
}

bool WintunHolder::EnsureAdapter() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (adapter_ != 0) return true;
  if (!EnsureLoaded()) return false;
  uint32_t error = 0;
  WintunAdapter adapter = driver_.OpenAdapter(kTunnelAdapterName, &error);
  if (adapter == 0) {
    adapter = driver_.CreateAdapter(kTunnelAdapterName, kTunnelType, kTunnelAdapterGuid, &error);
  }
  if (adapter == 0) {
    TunnelLogWrite("WintunHolder: could not create/open Zelvora adapter: " + std::to_string(error));
    return false;
  }
  adapter_ = adapter;
  TunnelLogWrite("WintunHolder: persistent Zelvora adapter ready");
  return true;
}

bool WintunHolder::RemoveDevice(const std::wstring& instance_id) {
  uint32_t error = 0;
  switch (driver_.RemoveNetDevice(instance_id, &error)) {
    case DeviceRemovalResult::kRemoved:
    case DeviceRemovalResult::kAlreadyGone:
      TunnelLogWrite("WintunHolder: removed orphan adapter " + WideToUtf8(instance_id));
      return true;
    case DeviceRemovalResult::kOpenFailed:
      return false;
    case DeviceRemovalResult::kParamsFailed:
      TunnelLogWrite("WintunHolder: SetClassInstallParams failed for " + WideToUtf8(instance_id) +
                     " err=" + std::to_string(error));
      return false;
    case DeviceRemovalResult::kRemoveFailed:
      TunnelLogWrite("WintunHolder: DIF_REMOVE failed for " + WideToUtf8(instance_id) +
                     " err=" + std::to_string(error));
      return false;
  }
  return false;
}

int WintunHolder::RemoveMatchingAdapters(bool include_own) {
  std::vector<NetDevice> devices;
  uint32_t error = 0;
  if (!driver_.ListNetDevices(&devices, &error)) {
    TunnelLogWrite("WintunHolder: SetupDiGetClassDevs failed err=" + std::to_string(error));
    return 0;
  }
  std::vector<std::wstring> doomed;
  for (const NetDevice& device : devices) {
    if (IsOrphanAdapter(device.friendly_name, device.description, device.instance_id,
                        include_own)) {
      doomed.push_back(device.instance_id);
    }
  }
  int removed = 0;
  for (const std::wstring& instance_id : doomed) {
    if (RemoveDevice(instance_id)) ++removed;
  }
  return removed;
}

int WintunHolder::PurgeOrphanAdapters() {
  const int removed = RemoveMatchingAdapters(false);
  if (removed >= 1) {
    TunnelLogWrite("WintunHolder: purged " + std::to_string(removed) + " orphan Wintun adapter(s)");
    std::this_thread::sleep_for(kSettleAfterPurge);
  }
  return removed;
}

int WintunHolder::ReleaseForTunnelProcess() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (adapter_ != 0 && loaded_) {
      driver_.CloseAdapter(adapter_);
      adapter_ = 0;
    }
  }
  const int removed = RemoveMatchingAdapters(true);
  if (removed < 1) {
    TunnelLogWrite("WintunHolder: released persistent adapter for the tunnel");
  } else {
    TunnelLogWrite("WintunHolder: released for the tunnel; purged " + std::to_string(removed) +
                   " Zelvora Wintun adapter(s)");
    std::this_thread::sleep_for(kSettleAfterRelease);
  }
  return removed;
}

void WintunHolder::RenameNetworkProfile() {
  std::vector<NetworkProfile> networks;
  if (driver_.ListNetworks(&networks)) {
    for (const NetworkProfile& network : networks) {
      if (network.name == kNetworkProfileName || !IsZelvoraAdapterName(network.name)) continue;
      if (driver_.RenameNetwork(network.id, kNetworkProfileName)) {
        TunnelLogWrite("WintunHolder: renamed network profile to Zelvora Network");
      }
    }
  }
  if (registry_pass_) registry_pass_();
}

}  // namespace zelvora
