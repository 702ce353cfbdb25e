#include "ipc/wire_format.h"

#include <vector>

namespace zelvora::ipc {

namespace {

void AppendUint32Le(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xFFu));
  }
}

std::uint32_t ReadUint32Le(const char bytes[4]) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  }
  return value;
}

bool StartsWith(const std::string& text, const char* prefix, std::size_t prefix_length) {
  return text.size() >= prefix_length && text.compare(0, prefix_length, prefix) == 0;
}

}  // namespace

const char* CommandLogName(std::uint32_t value) {
  switch (value) {
    case static_cast<std::uint32_t>(Command::Ping):
      return "ping";
    case static_cast<std::uint32_t>(Command::Start):
      return "start";
    case static_cast<std::uint32_t>(Command::Stop):
      return "stop";
    case static_cast<std::uint32_t>(Command::Status):
      return "status";
    default:
      return "unknown";
  }
}

std::string EncodeRequestHeader(Command command, std::uint32_t payload_length) {
  std::string header;
  header.reserve(8);
  AppendUint32Le(header, static_cast<std::uint32_t>(command));
  AppendUint32Le(header, payload_length);
  return header;
}

std::string BuildStartPayload(const std::string& config_utf8, bool proxy_only) {
  std::string payload;
  payload.reserve(config_utf8.size() + 2);
  payload.push_back(proxy_only ? '1' : '0');
  payload.push_back('\n');
  payload += config_utf8;
  return payload;
}

bool ReadResponseFrame(const ExactReader& read_exact, std::string* body) {
  char length_bytes[4];
  if (!read_exact(length_bytes, sizeof(length_bytes))) return false;
  const std::uint32_t length = ReadUint32Le(length_bytes);
  if (length > kMaxResponseBodyBytes) return false;
  std::string received(length, '\0');
  if (length > 0 && !read_exact(&received[0], length)) return false;
  if (body) *body = std::move(received);
  return true;
}

Reply ClassifyReply(const std::string& body) {
  Reply reply;
  if (StartsWith(body, "ERR:", 4)) {
    reply.kind = ReplyKind::Refused;
    reply.reason = body.substr(4);
  } else if (StartsWith(body, "OK", 2)) {
    reply.kind = ReplyKind::Ok;
  }
  return reply;
}

}  // namespace zelvora::ipc
