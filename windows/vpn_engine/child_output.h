// What the engine prints and logs of its children's output (no Win32).
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The bytes of one read, up to the first zero byte.
std::string_view UpToFirstZero(std::string_view block);

// One read of tun2socks output as the line to report, or nothing: trailing CR/LF removed, empty
// blocks and blocks at the chatty "info"/"debug" levels dropped. A read counts as one line even
// when it holds several or part of one.
std::optional<std::string> Tun2socksReportLine(std::string_view block);
