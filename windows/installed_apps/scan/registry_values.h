// Reading the registry values the catalogue needs. Every failure reads as empty or 0: a
// broken or hostile entry costs at most that entry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace installed_apps {

// Expands %VARIABLE% references; returns the input unchanged when it is empty or the expansion
// fails.
std::wstring ExpandEnv(const std::wstring& text);

// A REG_SZ or REG_EXPAND_SZ value up to its first NUL, environment-expanded unless `expand` is
// false; empty for any other type, a missing value or text longer than 2048 bytes.
std::wstring ReadRegistryString(HKEY key, const wchar_t* name, bool expand = true);

// A REG_DWORD value, else 0.
uint32_t ReadRegistryDword(HKEY key, const wchar_t* name);

}  // namespace installed_apps
