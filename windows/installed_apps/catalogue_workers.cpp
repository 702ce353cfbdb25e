#include "installed_apps/catalogue_workers.h"

#include <exception>
#include <functional>
#include <utility>

#include "common/detached_thread.h"
#include "common/text_encoding.h"
#include "installed_apps/file_picker.h"
#include "tunnel_log/log_message.h"

namespace installed_apps {
namespace {

using flutter::EncodableValue;
using SharedResult = std::shared_ptr<flutter::MethodResult<EncodableValue>>;

// Completes a result at most once: the work's answer, or the fallback when the work threw
// before answering.
class OnceResult {
 public:
  explicit OnceResult(SharedResult result) : result_(std::move(result)) {}

  void Answer(const EncodableValue& value) {
    if (answered_ || !result_) return;
    answered_ = true;  // before the call: a throwing completion must not be completed again
    result_->Success(value);
  }
  bool answered() const { return answered_; }

 private:
  SharedResult result_;
  bool answered_ = false;
};

// Runs `work` on a detached thread. `fallback` answers when the work throws, and when no
// thread can be started at all (then on the caller's thread).
void RunDetached(const char* method, AppsMethodResult result, std::function<EncodableValue()> work,
                 EncodableValue fallback) {
  SharedResult shared(std::move(result));
  auto body = [method, shared, work = std::move(work), fallback]() {
    OnceResult once(shared);
    try {
      once.Answer(work());
      return;
    } catch (const std::exception& e) {
      try {
        LogMessage(std::string(method) + " worker failed: " + e.what());
      } catch (...) {
      }
    } catch (...) {
      try {
        LogMessage(std::string(method) + " worker failed");
      } catch (...) {
      }
    }
    try {
      once.Answer(fallback);
    } catch (...) {
      // The result object itself failed; nothing is left to answer through.
    }
  };
  bool started = false;
  try {
    started = zelvora::StartDetachedThread(body);
  } catch (...) {
  }
  if (!started) {
    OnceResult once(shared);
    try {
      LogMessage(std::string(method) + " could not start a worker thread");
      once.Answer(fallback);
    } catch (...) {
    }
  }
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

void StartPickExecutableWorker(AppsMethodResult result) {
  RunDetached(
      "pickExecutable", std::move(result),
      []() {
        const std::optional<std::wstring> path = PickExecutableFile();
        if (!path) return EncodableValue();
        return EncodableValue(WideToUtf8(*path));
      },
      EncodableValue());
}

}  // namespace installed_apps
