#pragma once

#include <optional>
#include <string>

namespace installed_apps {

// Shows the open-file dialog for a program. The chosen path, or nothing when the user
// cancelled or no dialog can be shown.
std::optional<std::wstring> PickExecutableFile();

}  // namespace installed_apps
