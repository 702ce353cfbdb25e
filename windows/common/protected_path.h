// Which folders on the way to a file must be checked for links before an elevated process
// touches the file. Pure text work, so it builds everywhere.
#pragma once

#include <string>
#include <vector>

namespace zelvora {

// Fills `folders` with every folder an operation on `path` passes through that a standard
// user may have replaced with a junction, outermost first: each folder strictly below
// `trusted_root` when `path` lies inside it, otherwise each folder below the drive root.
// The file's own name is not included. Forward slashes count as backslashes; a trailing
// backslash on `trusted_root` is ignored; letters compare without regard to case.
//
// Returns false (and leaves `folders` empty) for anything that is not a plain absolute
// drive path to a file below the root: relative or UNC paths, device paths, empty or "."
// or ".." components, a trailing backslash.
bool FoldersToCheck(const std::wstring& path, const std::wstring& trusted_root,
                    std::vector<std::wstring>* folders);

}  // namespace zelvora
