#include "common/file_owner.h"

#include <aclapi.h>

#include <atomic>

#include "common/unique_handle.h"

namespace zelvora {
namespace {

std::atomic<FileOwnerQuery>& CurrentQuery() {
  static std::atomic<FileOwnerQuery> query{&QueryFileOwner};
  return query;
}

}  // namespace

FileOwner OwnerKindOfSid(PSID sid) {
  if (!sid || !::IsValidSid(sid)) return FileOwner::kUnknown;
  if (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return FileOwner::kAdministrators;
  if (::IsWellKnownSid(sid, WinLocalSystemSid)) return FileOwner::kLocalSystem;
  return FileOwner::kOtherAccount;
}

FileOwner QueryFileOwner(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &raw) != ERROR_SUCCESS) {
    return FileOwner::kUnknown;
  }
  UniqueLocalMemory descriptor(raw);  // `owner` points into it
  return OwnerKindOfSid(owner);
}

FileOwnerQuery SetFileOwnerQuery(FileOwnerQuery query) {
  return CurrentQuery().exchange(query ? query : &QueryFileOwner);
}

FileOwner OwnerOf(HANDLE file) { return CurrentQuery().load()(file); }

}  // namespace zelvora
