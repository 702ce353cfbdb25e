// Arbitrary bytes as what the pipe delivers: a length prefix and whatever follows, read by the
// response reader; the bytes as a body go through the reply and status parsers too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ipc/status_payload.h"
#include "ipc/wire_format.h"

using zelvora::ipc::ExactReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  std::size_t offset = 0;
  const ExactReader read_exact = [&](char* out, std::size_t count) {
    if (bytes.size() - offset < count) return false;
    bytes.copy(out, count, offset);
    offset += count;
    return true;
  };
  std::string body;
  if (zelvora::ipc::ReadResponseFrame(read_exact, &body)) {
    // The reader takes exactly the announced body and never more than the limit.
    if (body.size() > zelvora::ipc::kMaxResponseBodyBytes || offset != 4 + body.size()) {
      std::abort();
    }
  } else {
    body = bytes;
  }

  const zelvora::ipc::Reply reply = zelvora::ipc::ClassifyReply(body);
  if (reply.kind == zelvora::ipc::ReplyKind::Refused && reply.reason.size() + 4 != body.size()) {
    std::abort();
  }

  zelvora::ipc::StatusPayload status;
  std::string error;
  const bool parsed = zelvora::ipc::ParseStatusResponse(body, &status, &error);
  // The status parser and the reply reader agree on what counts as "OK".
  if (parsed != (reply.kind == zelvora::ipc::ReplyKind::Ok)) std::abort();
  if (!parsed && error != body) std::abort();
  if (status.up > 9223372036854775807ull || status.down > 9223372036854775807ull) std::abort();
  return 0;
}
