// The six-string status event of "tidewire/status": connected seconds, uplink and downlink
// bytes since the previous event, uplink and downlink totals, and the state.
#pragma once

#include <flutter/encodable_value.h>

#include <cstdint>
#include <string>

namespace zelvora {

inline constexpr char kStateConnected[] = "CONNECTED";
inline constexpr char kStateConnecting[] = "CONNECTING";
inline constexpr char kStateDisconnected[] = "DISCONNECTED";

flutter::EncodableList MakeStatusEvent(int64_t duration_seconds, int64_t up_delta,
                                       int64_t down_delta, int64_t up_total, int64_t down_total,
                                       const std::string& state);

// The form the workers and the listen handler send: five "0" and the state.
flutter::EncodableList MakeIdleStatusEvent(const std::string& state);

}  // namespace zelvora
