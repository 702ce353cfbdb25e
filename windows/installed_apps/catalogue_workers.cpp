#include "installed_apps/catalogue_workers.h"

#include <atomic>
#include <utility>

#include "common/detached_worker.h"
#include "common/text_encoding.h"
#include "tunnel_log/log_message.h"

namespace installed_apps {
namespace {

using flutter::EncodableValue;

// Runs `work` on a detached thread and answers its value; `fallback` answers when the work
// throws, and when no thread can be started at all (then false is returned).
template <typename Work>
bool RunDetached(const char* method, AppsMethodResult result, Work work, EncodableValue fallback) {
  return zelvora::RunDetachedWorker(
      method, {nullptr, std::move(fallback), LogMessage}, std::move(result),
      [work = std::move(work)](const zelvora::SharedWorkerResult& answer) {
        answer->Success(work());
      });
}

}  // namespace

flutter::EncodableMap AppInfoToEncodable(const AppInfo& app) {
  flutter::EncodableMap map;
  map[EncodableValue("name")] = EncodableValue(app.name);
  map[EncodableValue("packageName")] = EncodableValue(app.package_name);
  map[EncodableValue("versionName")] = EncodableValue(app.version_name);
  map[EncodableValue("versionCode")] = EncodableValue(app.version_code);
  map[EncodableValue("installedTimestamp")] = EncodableValue(app.installed_timestamp);
  map[EncodableValue("isSystemApp")] = EncodableValue(app.is_system_app);
  map[EncodableValue("isLaunchableApp")] = EncodableValue(app.is_launchable_app);
  map[EncodableValue("icon")] = app.icon ? EncodableValue(*app.icon) : EncodableValue();
  return map;
}

void StartGetInstalledAppsWorker(AppsMethodResult result, CatalogueHooks hooks) {
  RunDetached(
      "getInstalledApps", std::move(result),
      [hooks = std::move(hooks)]() {
        const CatalogueResult catalogue = RunCatalogue(hooks);
        flutter::EncodableList list;
        list.reserve(catalogue.apps.size());
        for (const AppInfo& app : catalogue.apps) list.emplace_back(AppInfoToEncodable(app));
        return EncodableValue(std::move(list));
      },
      EncodableValue(flutter::EncodableList{}));
}

void StartGetAppInfoWorker(const std::string& package_name_utf8, bool with_icon,
                           AppsMethodResult result) {
  RunDetached(
      "getAppInfo", std::move(result),
      [path = Utf8ToWide(package_name_utf8), with_icon]() {
        if (path.empty()) return EncodableValue();
        return EncodableValue(AppInfoToEncodable(BuildAppInfoMap(path, with_icon)));
      },
      EncodableValue());
}

void StartPickExecutableWorker(AppsMethodResult result, HWND owner, OpenFileDialog show) {
  // One dialog at a time: a second click while the first dialog is coming up must not open
  // another one behind it.
  static std::atomic<bool> dialog_open{false};
  if (dialog_open.exchange(true)) {
    LogMessage("pickExecutable: a file dialog is already open");
    if (result) result->Success(EncodableValue());
    return;
  }
  const bool started = RunDetached(
      "pickExecutable", std::move(result),
      [owner, show = std::move(show)]() {
        struct Release {
          ~Release() { dialog_open = false; }
        } release;
        const std::optional<std::wstring> path = PickExecutableFile(owner, show);
        if (!path) return EncodableValue();
        return EncodableValue(WideToUtf8(*path));
      },
      EncodableValue());
  if (!started) dialog_open = false;
}

}  // namespace installed_apps
