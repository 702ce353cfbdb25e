// One application as the app receives it, before it becomes a channel map.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace installed_apps {

struct AppInfo {
  std::string name;          // UTF-8
  std::string package_name;  // UTF-8 path of the executable
  std::string version_name;  // UTF-8, may be empty
  int32_t version_code = 0;
  int32_t installed_timestamp = 0;
  bool is_system_app = false;
  bool is_launchable_app = true;
  std::optional<std::vector<uint8_t>> icon;  // PNG bytes; null on the channel when absent
};

}  // namespace installed_apps
