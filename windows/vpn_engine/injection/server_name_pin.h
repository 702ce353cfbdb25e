// Lets the core reach its server by name without asking Windows.
//
// While the tunnel is up, every name query Windows' DNS client sends goes through the tunnel and
// the proxy. The core dials a server given by name through the system resolver unless its
// outbound's "sockopt" names a "domainStrategy"; such a lookup would wait for the proxy, which
// waits for the server: once the resolver cache no longer holds the name, new connections
// would fail. So the configuration gains the server's addresses (resolved before the tunnel
// came up) as a static "hosts" entry of its "dns" block, and the outbound that names the server
// resolves through the core's own DNS ("domainStrategy": "UseIPv4"), which answers from that
// entry without sending a query anywhere.
#pragma once

#include <string>
#include <vector>

// The configuration with the pin, or unchanged when `host` is an address, `addresses` is
// empty, or no outbound names `host` as its server. The text must already have a top-level
// "dns" object (the injection gives it one).
std::string PinServerName(const std::string& config, const std::string& host,
                          const std::vector<std::string>& addresses);
