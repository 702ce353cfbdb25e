#include "plugin/status_event.h"

namespace zelvora {

flutter::EncodableList MakeStatusEvent(int64_t duration_seconds, int64_t up_delta,
                                       int64_t down_delta, int64_t up_total, int64_t down_total,
                                       const std::string& state) {
  return flutter::EncodableList{
      flutter::EncodableValue(std::to_string(duration_seconds)),
      flutter::EncodableValue(std::to_string(up_delta)),
      flutter::EncodableValue(std::to_string(down_delta)),
      flutter::EncodableValue(std::to_string(up_total)),
      flutter::EncodableValue(std::to_string(down_total)),
      flutter::EncodableValue(state),
  };
}

flutter::EncodableList MakeIdleStatusEvent(const std::string& state) {
  return MakeStatusEvent(0, 0, 0, 0, 0, state);
}

}  // namespace zelvora
