// The frames that travel over the tunnel service's pipe, and how a reply body reads.
//
// One connection carries one request and one response. A request is the command and the
// payload length (both little-endian uint32) followed by the payload; a response is a
// little-endian uint32 body length followed by the body text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zelvora::ipc {

enum class Command : std::uint32_t {
  Ping = 1,
  Start = 2,
  Stop = 3,
  Status = 4,
};

// The word log lines use for a command value; "unknown" for values we never send.
const char* CommandLogName(std::uint32_t value);
inline const char* CommandLogName(Command command) {
  return CommandLogName(static_cast<std::uint32_t>(command));
}

// Largest body a response may announce. Anything bigger is a broken or hostile server, and the
// reader stops before allocating or reading a byte of it.
inline constexpr std::uint32_t kMaxResponseBodyBytes = 0x1000000;  // 16,777,216

// The 8-byte request header: command, then payload length.
std::string EncodeRequestHeader(Command command, std::uint32_t payload_length);

// "1" (proxy-only) or "0", a line feed, then the configuration text unchanged.
std::string BuildStartPayload(const std::string& config_utf8, bool proxy_only);

// Fills exactly `count` bytes at `data` or reports failure. The transport behind it decides
// about time limits; the frame reader only decides how many bytes to ask for.
using ExactReader = std::function<bool(char* data, std::size_t count)>;

// Reads one response frame: the length, then exactly that many body bytes. A zero length is
// an empty body; a length above kMaxResponseBodyBytes fails without reading further. `body` is
// only written on success.
bool ReadResponseFrame(const ExactReader& read_exact, std::string* body);

// What a response body means to the client.
enum class ReplyKind {
  Ok,       // begins with "OK"
  Refused,  // begins with "ERR:"; the rest is the reason
  NotOk,    // neither: a failure without a text of its own
};

struct Reply {
  ReplyKind kind = ReplyKind::NotOk;
  std::string reason;  // only for Refused
};

Reply ClassifyReply(const std::string& body);

}  // namespace zelvora::ipc
