// The tunnel service's answer to a status request, as the plug-in uses it.
#pragma once

#include <cstdint>
#include <string>

namespace zelvora::ipc {

struct StatusPayload {
  bool running = false;  // the service has a session up
  bool tunnel = false;   // the tunnel carries traffic
  std::uint64_t up = 0;  // uplink byte total of the session
  std::uint64_t down = 0;
};

// Reads a status body: "OK" then whitespace-separated key=value tokens. Unknown keys, tokens
// without "=" and numbers that do not parse leave the record as it was; a repeated key wins
// over the earlier one. A body that does not begin with "OK" fails and becomes the error text.
// `payload` and `error` may be null; each is written only on its own outcome.
bool ParseStatusResponse(const std::string& body, StatusPayload* payload, std::string* error);

}  // namespace zelvora::ipc
