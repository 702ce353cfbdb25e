// Text helpers of the simulated host. Written here on purpose: the simulator must not read
// the engine's command lines with the engine's own parsers.
#pragma once

#include <cstdint>
#include <string>

namespace simhost {

// Strict dotted quad: four fields of 1 to 3 digits, each at most 255.
bool ParseDotted(const std::string& text, uint32_t* value);
std::string Dotted(uint32_t value);
uint32_t Ip(const char* dotted);  // for scenario tables; aborts on a bad literal
// An IPv6 address as inet_ntop writes it: hex groups, "::" at most once, no zone.
bool LooksLikeIpv6(const std::string& text);
// UTF-16 to UTF-8, as Windows converts friendly names for a UTF-8 caller.
std::string Utf8(const std::wstring& text);

}  // namespace simhost
