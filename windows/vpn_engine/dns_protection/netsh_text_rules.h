// What may be placed on a netsh command line. Names and addresses come from the adapter list and
// from a backup file in a folder other users can write to, so both are checked before use.
#pragma once

#include <string_view>

// 1 to 256 bytes and none of: LF, CR, '"', '%', '&', '<', '>', '^', '`', '|'. Bytes of 0x80 and
// above (UTF-8 letters) are allowed.
bool IsSafeNetshName(std::string_view name);

// Exactly four non-empty decimal fields, digits only, each at most 255, joined by three dots.
bool IsDottedIpv4Server(std::string_view text);

// An IPv6 address as inet_ntop writes it: 2 to 45 bytes of hexadecimal digits, ':' and '.'
// (an embedded IPv4 tail), with at least two ':' and no zone ("%").
bool IsIpv6ServerText(std::string_view text);
