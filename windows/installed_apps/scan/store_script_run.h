// Running the Store scan script safely: under a name nobody can guess, from a file nobody can
// change while PowerShell reads it, with the PowerShell of the system folder.
#pragma once

#include <string>

#include "common/unique_handle.h"

namespace installed_apps {

// "zelvora_appx_" and 16 random hex digits.
std::wstring UnguessableScanName();

// Creates `path` (never an existing file) holding `bytes` and returns a handle that keeps it
// from being written, renamed or deleted until it is closed; empty on any failure, including
// text that changed before the file was locked.
UniqueHandle CreateLockedScript(const std::wstring& path, const std::string& bytes);

// Runs the script hidden with "%SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe"
// and returns what it printed.
std::string RunSystemPowerShell(const std::wstring& script_path);

}  // namespace installed_apps
