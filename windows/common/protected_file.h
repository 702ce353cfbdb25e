// Files in the shared application-data folder, handled so that an elevated process never
// follows a link a standard user planted there.
//
// Standard users may create files and folders in C:\ProgramData. One who plants a junction
// in place of one of our folders, a symbolic link in place of one of our files, or a hard
// link to a file of their choice could otherwise make an elevated process rewrite the access
// rule of, overwrite, read or delete that file. So every operation here:
//   - opens the folders on the way (below ProgramData) without following reparse points,
//     refuses any that is one, and holds them open, unshared for deletion, until it is done,
//     so none can be swapped for a junction meanwhile;
//   - opens the file itself without following a reparse point, and refuses a reparse point
//     or a file with more than one hard link before reading it, writing it or changing its
//     access rule;
//   - renames, deletes and sets access rules through that checked handle, never by name.
//
// Every function returns false when it refused or failed, and never throws.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace zelvora {

// One checked file, open for as long as the object lives.
class ProtectedFile {
 public:
  ProtectedFile() = default;
  ProtectedFile(ProtectedFile&&) = default;
  ProtectedFile& operator=(ProtectedFile&&) = default;

  // CreateFileW's `access`, `share`, `disposition` and (for a file it creates) `security`.
  // Folders are refused unless `folder` is true. READ_ATTRIBUTES and SYNCHRONIZE are always
  // added to `access`.
  bool Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
            bool folder = false, SECURITY_ATTRIBUTES* security = nullptr);

  bool is_open() const { return file_.valid(); }
  HANDLE handle() const { return file_.get(); }

  bool ReadAll(std::string* contents) const;
  bool WriteAll(const std::string& bytes) const;
  // Replaces the access list with the DACL of `sddl`; owner, group and inheritance from the
  // parent stay. Needs WRITE_DAC.
  bool SetAccessRule(const wchar_t* sddl) const;
  // Renames to `new_path` in a checked folder of the same volume, replacing a file (or a
  // link, which is not followed) of that name. Needs DELETE.
  bool MoveTo(const std::wstring& new_path);
  // Deletes it once the handle closes (done here). Needs DELETE.
  bool Delete();

 private:
  std::vector<UniqueHandle> held_folders_;
  UniqueHandle file_;
  bool folder_ = false;
};

// The whole file, refused when it is a link or has another hard link.
bool ReadProtectedFile(const std::wstring& path, std::string* contents);

// Writes `bytes` to a new file beside `path` (with the access rule of `sddl` when it is not
// null), flushes it, then renames it over `path`: a reader sees the old or the new file,
// never a part. A link at `path` is replaced, not followed.
bool ReplaceProtectedFile(const std::wstring& path, const std::string& bytes,
                          const wchar_t* sddl = nullptr);

// Removes the name `path`. A link of that name is removed itself, never its target; a file
// with other hard links loses only this name. True also when there was nothing to delete.
bool DeleteProtectedFile(const std::wstring& path);

// Renames `from` to `to` (same volume), replacing what `to` names without following it.
bool RenameProtectedFile(const std::wstring& from, const std::wstring& to);

// Applies the DACL of `sddl` to the file or folder `path`.
bool SetProtectedAccessRule(const std::wstring& path, const wchar_t* sddl);

// Creates the folder `path` when missing (its parent must exist) and refuses it when it is a
// reparse point; applies the DACL of `sddl` when it is not null.
bool EnsureProtectedFolder(const std::wstring& path, const wchar_t* sddl = nullptr);

}  // namespace zelvora
