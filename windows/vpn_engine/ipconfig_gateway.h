// Reads the default gateway out of ipconfig's English output, for when the route table gives
// none.
#pragma once

#include <string>

namespace zelvora {

// The first IPv4 address listed under a "Default Gateway" label, on the label's line or on its
// continuation lines (ipconfig lists an IPv6 router first and the IPv4 gateway below it), that
// is not `excluded`. Empty when there is none.
std::string FirstIpconfigGateway(const std::string& output, const std::string& excluded);

}  // namespace zelvora
