// The persistent Wintun adapter "Zelvora" and the clean-up of adapters left by earlier runs.
//
// The holder loads wintun.dll, creates or opens the adapter once and keeps its handle for the
// life of the process, so the adapter is there whenever a tun2socks connection starts. It also
// removes leftover adapters (numbered duplicates, stale Zelvora Wintun adapters, tun2socks
// adapters) while sparing other products' adapters, gives its adapter up for Xray's own TUN
// mode, and renames the network profile Windows makes for the adapter.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "vpn_engine/host/adapter_driver.h"
#include "vpn_engine/host/host_network.h"

namespace zelvora {

inline constexpr wchar_t kTunnelAdapterName[] = L"Zelvora";
inline constexpr wchar_t kTunnelType[] = L"Zelvora";
// The GUID the adapter is created with, as text (it appears in the device's instance ID).
inline constexpr wchar_t kTunnelAdapterGuid[] = L"5A656C76-6F72-4E01-9A11-5A656C766F72";
inline constexpr wchar_t kNetworkProfileName[] = L"Zelvora Network";

// A friendly name belongs to the tunnel when it is exactly "Zelvora", or "Zelvora " followed by
// one or more decimal digits and nothing else (case-sensitive). A null name does not.
bool IsZelvoraAdapterName(const wchar_t* name);
bool IsZelvoraAdapterName(const std::wstring& name);
// N of a numbered tunnel name "Zelvora N" (saturating far beyond any real number); call it only
// for names that follow the rule and are not exactly "Zelvora".
unsigned long long ZelvoraAdapterNumber(const std::wstring& name);

// Whether a network device is a leftover to remove. Substring tests ignore ASCII case; the name
// tests do not. `include_own` also removes the adapter created with kTunnelAdapterGuid.
bool IsOrphanAdapter(const std::wstring& name, const std::wstring& description,
                     const std::wstring& instance_id, bool include_own);

// Where wintun.dll may lie, in the order they are tried: only the application's own folders
// (an elevated process must not load a library from the current folder). `exe_folder` empty:
// the module file name could not be read, so there is none.
std::vector<std::wstring> WintunDllCandidates(const std::wstring& exe_folder);

// The tunnel adapter's friendly name (UTF-8): "Zelvora" when present, else the lowest-numbered
// "Zelvora N"; empty when there is none or the adapters cannot be listed.
std::string FindTunnelAdapterName(HostNetwork& network);
bool IsAdapterPresent(HostNetwork& network);

class WintunHolder {
 public:
  // `find_dll` gives wintun.dll's path or empty; `registry_pass` renames the profiles kept in
  // the registry (may be empty).
  WintunHolder(AdapterDriver& driver, std::function<std::wstring()> find_dll,
               std::function<void()> registry_pass);
  ~WintunHolder();
  WintunHolder(const WintunHolder&) = delete;
  WintunHolder& operator=(const WintunHolder&) = delete;

  // The process's holder over the production driver, created on first use.
  static WintunHolder& Instance();

  // True when the persistent adapter is held (opened, or created when it did not exist).
  bool EnsureAdapter();
  // Removes leftover adapters, sparing the own one; the number removed.
  int PurgeOrphanAdapters();
  // Closes the held adapter and removes every adapter of this application, the own one too,
  // so tun2socks or Xray can create its own under the name; the number removed.
  int ReleaseForTunnelProcess();
  // Renames network profiles named like the tunnel adapter to "Zelvora Network".
  void RenameNetworkProfile();

  bool EnsureLoaded();
  int RemoveMatchingAdapters(bool include_own);
  bool RemoveDevice(const std::wstring& instance_id);

 private:
  AdapterDriver& driver_;
  std::function<std::wstring()> find_dll_;
  std::function<void()> registry_pass_;
  std::mutex mutex_;
  WintunAdapter adapter_ = 0;
  bool loaded_ = false;
};

}  // namespace zelvora
