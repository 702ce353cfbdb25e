// The method-channel side of the catalogue: "getInstalledApps", "getAppInfo" and
// "pickExecutable" each run on their own detached thread, which owns the call's result and
// completes it exactly once, whatever happens. Callers have already checked the arguments.
#pragma once

#include <flutter/encodable_value.h>
#include <flutter/method_result.h>

#include <memory>
#include <string>

#include "installed_apps/app_info.h"
#include "installed_apps/catalogue.h"
#include "installed_apps/file_picker.h"

namespace installed_apps {

using AppsMethodResult = std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>>;

// Answers the list of application maps (an empty list if the scan fails outright).
void StartGetInstalledAppsWorker(AppsMethodResult result, CatalogueHooks hooks = {});

// Answers the application map of `package_name_utf8` (an executable path), or null when the
// path is empty or the lookup fails.
void StartGetAppInfoWorker(const std::string& package_name_utf8, bool with_icon,
                           AppsMethodResult result);

// Answers the chosen path, or null when the user cancels or no dialog can be shown. The
// dialog is owned by `owner`; while one is open, a second request answers null at once.
// `show` stands in for the system dialog in tests.
void StartPickExecutableWorker(AppsMethodResult result, HWND owner, OpenFileDialog show = {});

// The channel form of one application.
flutter::EncodableMap AppInfoToEncodable(const AppInfo& app);

}  // namespace installed_apps
