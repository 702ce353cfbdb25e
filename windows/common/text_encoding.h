// Conversions between UTF-8 byte strings (configuration, channel strings, log lines) and
// UTF-16 wide strings (paths, registry values, Windows names).
//
// Both directions behave like the Windows code-page conversion with CP_UTF8 and no flags:
// malformed input never fails, it becomes U+FFFD. The code is portable so the exact same rules
// run natively under sanitizers; on Linux each wchar_t still holds one UTF-16 code unit.
#pragma once

#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// Drops a leading UTF-8 byte order mark (EF BB BF), if present.
std::string StripUtf8Bom(std::string text);
