#include "common/trusted_state_file.h"

#include <windows.h>

#include "common/unique_handle.h"

namespace zelvora {
namespace {

constexpr wchar_t kRecordKey[] = L"SOFTWARE\\Zelvora\\TrustedState";
// The bytes being written while the file is replaced; the value of the name is the last
// complete write.
constexpr wchar_t kNextSuffix[] = L".next";

std::wstring FileName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

UniqueRegKey OpenRecords(bool create) {
  HKEY raw = nullptr;
  const REGSAM access = KEY_WOW64_64KEY | KEY_QUERY_VALUE | (create ? KEY_SET_VALUE : 0);
  const LSTATUS status = create ? ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0,
                                                    access, nullptr, &raw, nullptr)
                                : ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, access, &raw);
  return UniqueRegKey(status == ERROR_SUCCESS ? raw : nullptr);
}

bool SetRecord(HKEY key, const std::wstring& name, const std::string& bytes) {
  return ::RegSetValueExW(key, name.c_str(), 0, REG_BINARY,
                          reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

// The recorded bytes of `name`; false when there is no such value.
bool GetRecord(HKEY key, const std::wstring& name, std::string* bytes) {
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_BINARY) {
    return false;
  }
  bytes->assign(size, '\0');
  if (size == 0) return true;
  return ::RegQueryValueExW(key, name.c_str(), nullptr, &type,
                            reinterpret_cast<BYTE*>(&(*bytes)[0]), &size) == ERROR_SUCCESS &&
         size == bytes->size();
}

}  // namespace

bool WriteTrustedStateFile(const std::wstring& path, const std::string& bytes) {
  UniqueRegKey key = OpenRecords(true);
  if (!key.valid()) return false;
  const std::wstring name = FileName(path);
  if (!SetRecord(key.get(), name + kNextSuffix, bytes)) return false;
  if (!ReplaceProtectedFile(path, bytes)) return false;
  SetRecord(key.get(), name, bytes);
  ::RegDeleteValueW(key.get(), (name + kNextSuffix).c_str());
  return true;
}

TrustedRead ReadTrustedStateFile(const std::wstring& path, std::string* contents) {
  contents->clear();
  std::string bytes;
  if (!ReadProtectedFile(path, &bytes)) return TrustedRead::kNone;
  UniqueRegKey key = OpenRecords(false);
  const std::wstring name = FileName(path);
  std::string recorded;
  std::string next;
  const bool has_record = key.valid() && GetRecord(key.get(), name, &recorded);
  const bool has_next = key.valid() && GetRecord(key.get(), name + kNextSuffix, &next);
  if (!has_record && !has_next) return ReadAdministratorsFile(path, contents);
  if ((has_record && bytes == recorded) || (has_next && bytes == next)) {
    *contents = std::move(bytes);
    return TrustedRead::kRead;
  }
  return TrustedRead::kUntrustedOwner;
}

bool DeleteTrustedStateFile(const std::wstring& path) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_WOW64_64KEY | KEY_SET_VALUE, &raw) ==
      ERROR_SUCCESS) {
    UniqueRegKey key(raw);
    const std::wstring name = FileName(path);
    ::RegDeleteValueW(key.get(), name.c_str());
    ::RegDeleteValueW(key.get(), (name + kNextSuffix).c_str());
  }
  return DeleteProtectedFile(path);
}

}  // namespace zelvora
