// The open-file dialog of "pickExecutable".
#pragma once

#include <windows.h>
// Needs windows.h first.
#include <commdlg.h>

#include <functional>
#include <optional>
#include <string>

namespace installed_apps {

// Shows a prepared dialog; true when the user chose a file (GetOpenFileNameW by default).
using OpenFileDialog = std::function<bool(OPENFILENAMEW& dialog)>;

// Shows the open-file dialog for a program, owned by `owner` (the app's top-level window) so
// it opens in front of the app and keeps the user from opening a second one beside it. The
// chosen path, or nothing when the user cancelled or no dialog can be shown.
std::optional<std::wstring> PickExecutableFile(HWND owner, const OpenFileDialog& show = {});

}  // namespace installed_apps
