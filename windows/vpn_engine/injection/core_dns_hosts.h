// The addresses the core's own DNS reaches on port 53, read from the "servers" of the
// configuration's top-level "dns" block in every form the core accepts for a plain DNS server:
// "1.1.1.1", "udp://1.1.1.1", "tcp://8.8.8.8:53", "tcp+local://9.9.9.9" and objects such as
// {"address": "8.8.4.4", "port": 53}. Servers on another port, DNS over HTTPS or QUIC, host
// names, "localhost" and "fakedns" are not reached on port 53 and are left out.
#pragma once

#include <string>
#include <vector>

// Dotted IPv4 addresses in the order the configuration names them, without repeats.
std::vector<std::string> CoreDnsPort53Hosts(const std::string& config);
