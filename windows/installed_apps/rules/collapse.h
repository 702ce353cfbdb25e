// Merging of entries that describe one program: the same product registered twice (32- and
// 64-bit keys, per-user and per-machine installs, a Store and a desktop copy), or one
// executable's file name reached through differently named entries.
#pragma once

#include <string>
#include <string_view>

#include "installed_apps/rules/entry_table.h"

namespace installed_apps {

// "Example Tool 1.2.3 (64-bit)" -> "example tool": lower case, without bitness suffixes and
// trailing version numbers.
std::wstring NormalizeNameForCollapse(std::wstring_view name);

// Which of two entries for one program to keep: the better executable, Store copies, and
// entries that know their version and install date.
int PreferenceScore(const Entry& entry);

// True when two names plausibly describe one program ("Example" and "Example Link").
bool DisplayNamesCompatibleForBasenameMerge(const Entry& a, const Entry& b);

// Keeps one entry per normalized display name (and drops entries whose name normalizes to
// nothing).
void CollapseByDisplayName(EntryTable& table);
// Keeps one entry per executable file name among entries with compatible names.
void CollapseByExeBasename(EntryTable& table);

}  // namespace installed_apps
