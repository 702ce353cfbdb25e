// Delay probes of the data path: one HTTP(S) request, timed, through Xray's local SOCKS port or
// straight out. Results are whole milliseconds (at least 1) or -1; probes log nothing.
#pragma once

#include <cstdint>
#include <string>

// GET through the SOCKS5 relay on 127.0.0.1:`socks_port`: the probe itself speaks SOCKS5 (CONNECT
// by host name) so the request really crosses the port; TLS for https and scheme-less URLs.
// Any HTTP response counts. 5000 ms per phase.
int32_t ProbeThroughSocks(uint16_t socks_port, const std::string& url);
// The same request with no proxy, from a socket bound to `source` (dotted IPv4): with the strong
// host model it leaves only through the interface that has that address.
int32_t ProbeDirect(const std::string& source, const std::string& url);
// The engine's delay through its running session: -1 unless it runs, its tunnel is ready and
// its SOCKS port is known.
int32_t MeasureConnectedDelay(uint16_t socks_port, bool running, bool tunnel_ready,
                              const std::string& url);

// The general form: `method` and a per-phase time-out in ms; the clock starts just before the
// connection to the relay and stops when the response's status line has arrived.
int32_t ProbeViaSocks(uint16_t socks_port, const std::string& url, const char* method,
                      uint32_t timeout_ms);
