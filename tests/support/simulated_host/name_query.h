// Where a name query (or any connection) leaves the simulated machine while a tunnel is up:
// Windows' DNS client as documented, the route lookup, the filtering platform, and the core's
// routing for what reaches it through the tunnel. Tests ask these questions; they never write
// the answer down. Sources in ASSUMPTIONS.md.
#pragma once

#include <cstdint>
#include <string>

#include "simulated_host/simulated_host.h"

namespace simhost {

enum class Exit {
  kNoServer,       // no adapter has a DNS server to ask
  kBlocked,        // the filtering platform (or the core) drops it
  kLocal,          // it stays on this machine (loopback)
  kOutsideTunnel,  // it leaves a physical adapter as it is, from the user's own address
  kThroughProxy,   // the core carries it to the server inside the proxy connection
  kLoop,           // it comes back to the core it left (a lookup waiting for itself)
};

struct Path {
  std::string server;    // the DNS server asked (name queries)
  std::wstring sent_on;  // the adapter the first packet went to
  Exit exit = Exit::kNoServer;
  std::wstring leaves_on;  // the adapter it leaves the machine through, when it does
};

// The core the tunnel leads to: the configuration it runs and its program path.
struct CoreView {
  std::string config;
  std::string program;
};

// An app asks Windows to resolve a name: the DNS client sends the query to the first server of
// the preferred adapter (lowest interface metric among those with servers), bound to it.
Path AppNameQuery(SimulatedHost& host, const CoreView& core);

// A connection `program` opens to `remote`:`port` without binding it (an app's DNS over HTTPS,
// a local service): the route lookup picks the adapter.
Path Connection(SimulatedHost& host, const CoreView& core, const std::string& program, bool tcp,
                const std::string& remote, uint16_t port);

// The core resolving its own server's name: not at all when the outbound names an address, or
// when it resolves with its own DNS ("sockopt" "domainStrategy" other than "AsIs") and that
// DNS holds the name in its static "hosts"; otherwise through Windows, as an app would.
// `needed` is false when no query is sent.
Path CoreServerLookup(SimulatedHost& host, const CoreView& core, bool* needed);

}  // namespace simhost
