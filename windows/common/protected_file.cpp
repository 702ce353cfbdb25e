#include "common/protected_file.h"

#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common/protected_path.h"

namespace zelvora {
namespace {

// Folders are read only for their attributes and shared for everything but deletion, so
// nobody can rename or replace one of them while we hold it.
constexpr DWORD kFolderHoldAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kFolderHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr unsigned long long kMaxReadBytes = 64ull * 1024 * 1024;

// C:\ProgramData on this machine; standard users cannot replace it, only its contents.
const std::wstring& TrustedRoot() {
  static const std::wstring root = [] {
    std::wstring path;
    PWSTR known = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &known)) && known) {
      path = known;
    }
    ::CoTaskMemFree(known);
    return path;
  }();
  return root;
}

bool IsReparsePoint(const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsFolder(const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Opens each folder on the way to `path` without following it and keeps it open. `missing`
// (when not null) tells whether it failed because a folder does not exist.
bool HoldFolderChain(const std::wstring& path, std::vector<UniqueHandle>* held,
                     bool* missing = nullptr) {
  if (missing) *missing = false;
  std::vector<std::wstring> folders;
  if (!FoldersToCheck(path, TrustedRoot(), &folders)) return false;
  for (const std::wstring& folder : folders) {
    UniqueHandle handle(
        ::CreateFileW(folder.c_str(), kFolderHoldAccess, kFolderHoldShare, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) {
      const DWORD error = ::GetLastError();
      if (missing) *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
      return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle.get(), &info)) return false;
    if (IsReparsePoint(info) || !IsFolder(info)) return false;
    held->push_back(std::move(handle));
  }
  return true;
}

bool ApplyDacl(HANDLE handle, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!sddl || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw,
                                                                       nullptr)) {
    return false;
  }
  UniqueLocalMemory descriptor(raw);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(raw, &present, &dacl, &defaulted) || !present) return false;
  return ::SetSecurityInfo(handle, SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// A name beside `path` that nobody holds yet: CREATE_NEW on it cannot open a planted link.
std::wstring SiblingTempName(const std::wstring& path, unsigned attempt) {
  return path + L".new-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(attempt);
}

}  // namespace

bool ProtectedFile::Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                         bool folder, SECURITY_ATTRIBUTES* security) {
  held_folders_.clear();
  file_.reset();
  folder_ = folder;
  try {
    std::vector<UniqueHandle> held;
    if (!HoldFolderChain(path, &held)) return false;
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    if (folder) flags |= FILE_FLAG_BACKUP_SEMANTICS;
    UniqueHandle file(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    share, security, disposition, flags, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return false;
    if (IsReparsePoint(info) || IsFolder(info) != folder) return false;
    if (!folder && info.nNumberOfLinks != 1) return false;
    held_folders_ = std::move(held);
    file_ = std::move(file);
    return true;
  } catch (...) {
    return false;
  }
}

bool ProtectedFile::ReadAll(std::string* contents) const {
  contents->clear();
  LARGE_INTEGER size{};
  if (!file_ || folder_ || !::GetFileSizeEx(file_.get(), &size)) return false;
  if (static_cast<unsigned long long>(size.QuadPart) > kMaxReadBytes) return false;
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) return false;
  try {
    contents->resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < contents->size()) {
      DWORD got = 0;
      if (!::ReadFile(file_.get(), &(*contents)[done], static_cast<DWORD>(contents->size() - done),
                      &got, nullptr)) {
        contents->clear();
        return false;
      }
      if (got == 0) break;  // shrank meanwhile
      done += got;
    }
    contents->resize(done);
    return true;
  } catch (...) {
    contents->clear();
    return false;
  }
}

bool ProtectedFile::WriteAll(const std::string& bytes) const {
  if (!file_ || folder_) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD wrote = 0;
    if (!::WriteFile(file_.get(), bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) {
      return false;
    }
    done += wrote;
  }
  return true;
}

bool ProtectedFile::SetAccessRule(const wchar_t* sddl) const {
  return file_ && ApplyDacl(file_.get(), sddl);
}

bool ProtectedFile::MoveTo(const std::wstring& new_path) {
  if (!file_ || folder_) return false;
  try {
    std::vector<UniqueHandle> target_folders;
    if (!HoldFolderChain(new_path, &target_folders)) return false;
    const size_t name_bytes = new_path.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes + sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(info->FileName, new_path.c_str(), name_bytes);
    return ::SetFileInformationByHandle(file_.get(), FileRenameInfo, info,
                                        static_cast<DWORD>(buffer.size())) != FALSE;
  } catch (...) {
    return false;
  }
}

bool ProtectedFile::Delete() {
  if (!file_) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (!::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition,
                                    sizeof(disposition))) {
    return false;
  }
  file_.reset();
  return true;
}

bool ReadProtectedFile(const std::wstring& path, std::string* contents) {
  contents->clear();
  ProtectedFile file;
  return file.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING) && file.ReadAll(contents);
}

bool ReplaceProtectedFile(const std::wstring& path, const std::string& bytes, const wchar_t* sddl) {
  try {
    ProtectedFile temp;
    std::wstring temp_path;
    for (unsigned attempt = 0; attempt < 4 && !temp.is_open(); ++attempt) {
      temp_path = SiblingTempName(path, attempt);
      temp.Open(temp_path, GENERIC_WRITE | DELETE | WRITE_DAC | READ_CONTROL, 0, CREATE_NEW);
    }
    if (!temp.is_open()) return false;
    const bool written = temp.WriteAll(bytes) && ::FlushFileBuffers(temp.handle()) &&
                         (!sddl || temp.SetAccessRule(sddl));
    if (written && temp.MoveTo(path)) return true;
    temp.Delete();
    return false;
  } catch (...) {
    return false;
  }
}

bool DeleteProtectedFile(const std::wstring& path) {
  std::vector<UniqueHandle> held;
  bool missing = false;
  if (!HoldFolderChain(path, &held, &missing)) return missing;
  // The name itself, whatever it is: a link is opened and removed as a link.
  UniqueHandle file(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != FALSE;
}

bool RenameProtectedFile(const std::wstring& from, const std::wstring& to) {
  ProtectedFile file;
  return file.Open(from, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   OPEN_EXISTING) &&
         file.MoveTo(to);
}

bool SetProtectedAccessRule(const std::wstring& path, const wchar_t* sddl) {
  ProtectedFile object;
  const DWORD access = WRITE_DAC | READ_CONTROL;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  const bool folder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return object.Open(path, access, share, OPEN_EXISTING, folder) && object.SetAccessRule(sddl);
}

bool EnsureProtectedFolder(const std::wstring& path, const wchar_t* sddl) {
  std::vector<UniqueHandle> held;
  if (!HoldFolderChain(path, &held)) return false;
  ::CreateDirectoryW(path.c_str(), nullptr);  // an existing folder (or link) is judged below
  ProtectedFile folder;
  const DWORD access = sddl ? (WRITE_DAC | READ_CONTROL) : 0;
  if (!folder.Open(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, true)) {
    return false;
  }
  return !sddl || folder.SetAccessRule(sddl);
}

}  // namespace zelvora
