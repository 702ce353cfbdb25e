#pragma once

#include <string>

namespace installed_apps {

// The ProductVersion (else FileVersion) text of an executable's version resource, in its first
// listed language; empty when it has none.
std::wstring ReadExeFileVersion(const std::wstring& path);

}  // namespace installed_apps
