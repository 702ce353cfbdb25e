// Files a standard user planted in the shared data folder, for tests under Wine.
//
// On Windows such a file is owned by the user who created it, while the engine's own files are
// owned by the Administrators group. Wine records no owner: every file belongs to the one user
// of the prefix. So a test plants a file here with plain Win32 calls, and the owner stand-in it
// installs answers "another account" for exactly those files and "administrators" for every
// other, such as the files the engine wrote itself. A file is recognised by its volume, file
// index and last-write time, so a later file that reuses a planted one's index is not taken
// for it.
#pragma once

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "common/file_owner.h"

namespace planted {

using Identity = std::tuple<DWORD, DWORD, DWORD, DWORD, DWORD>;

inline bool IdentityOf(HANDLE file, Identity* identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return false;
  *identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow,
               info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime};
  return true;
}

inline std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

inline std::vector<Identity>& Planted() {
  static std::vector<Identity> planted;
  return planted;
}

// Who owns what an elevated administrator creates: the Administrators group (Windows' default)
// or, with the "default owner = object creator" policy, that user's own account, the same
// account its non-elevated processes run as (and what Wine reports for every file).
enum class OwnerPolicy { kAdministratorsGroup, kObjectCreator };

inline OwnerPolicy& CurrentPolicy() {
  static OwnerPolicy policy = OwnerPolicy::kAdministratorsGroup;
  return policy;
}

inline zelvora::FileOwner StandInOwner(HANDLE file) {
  Identity identity;
  if (!IdentityOf(file, &identity)) return zelvora::FileOwner::kUnknown;
  std::lock_guard<std::mutex> lock(Lock());
  const auto& planted = Planted();
  if (std::find(planted.begin(), planted.end(), identity) != planted.end()) {
    return zelvora::FileOwner::kOtherAccount;
  }
  return CurrentPolicy() == OwnerPolicy::kObjectCreator ? zelvora::FileOwner::kOtherAccount
                                                        : zelvora::FileOwner::kAdministrators;
}

// Installs the stand-in for its lifetime; the files planted meanwhile are forgotten after.
class OwnerStandIn {
 public:
  explicit OwnerStandIn(OwnerPolicy policy = OwnerPolicy::kAdministratorsGroup)
      : previous_(zelvora::SetFileOwnerQuery(&StandInOwner)) {
    std::lock_guard<std::mutex> lock(Lock());
    CurrentPolicy() = policy;
  }
  ~OwnerStandIn() {
    zelvora::SetFileOwnerQuery(previous_);
    std::lock_guard<std::mutex> lock(Lock());
    Planted().clear();
    CurrentPolicy() = OwnerPolicy::kAdministratorsGroup;
  }
  // Switches the policy for what is created from now on (and, in this stand-in, before).
  void SetPolicy(OwnerPolicy policy) {
    std::lock_guard<std::mutex> lock(Lock());
    CurrentPolicy() = policy;
  }
  OwnerStandIn(const OwnerStandIn&) = delete;
  OwnerStandIn& operator=(const OwnerStandIn&) = delete;

 private:
  zelvora::FileOwnerQuery previous_;
};

// Creates (or overwrites) `path` with `bytes` as a standard user would; its folder is made
// when missing. False when it could not be written.
inline bool PlantAsStandardUser(const std::wstring& path, const std::string& bytes) {
  ::CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  const bool written =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
      wrote == bytes.size() && ::FlushFileBuffers(file);
  Identity identity;
  const bool known = written && IdentityOf(file, &identity);
  ::CloseHandle(file);
  if (!known) return false;
  std::lock_guard<std::mutex> lock(Lock());
  Planted().push_back(identity);
  return true;
}

}  // namespace planted
