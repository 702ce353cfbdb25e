// Rules that judge and clean the names and executables that uninstall entries and Store
// packages report. Registry data is written by every installer there is, so the rules expect
// versions in names, resource references instead of names, stray control characters and
// half-decoded text, and keep only what reads like a program a user would pick.
#pragma once

#include <string>
#include <string_view>

namespace installed_apps {

// Longest display name handed to the application.
inline constexpr size_t kMaxDisplayNameLength = 96;

// How well `exe_path` represents the program called `hint`: well-known program names and
// words of the name found in the file name raise it; helpers, crash reporters, services,
// launchers and installers lower it. Uninstallers and an empty path score -1000.
int ScoreExeCandidate(std::wstring_view exe_path, std::wstring_view hint);

// Installers, updaters, crash reporters, services and helpers (by file name), and anything in
// the installer caches: programs that come with an application but are not the one the user
// runs. Uninstallers count too. A word that the program's own name `hint` carries does not
// make a helper ("vs_installer.exe" is the program of "Visual Studio Installer").
bool IsAuxiliaryExe(std::wstring_view exe_path, std::wstring_view hint = {});

// How many letters of the file name are words of the program's name `hint` (words of 4 or
// more units, as ScoreExeCandidate counts them): 0 for a file the name does not mention.
size_t NameLettersInExeName(std::wstring_view exe_path, std::wstring_view hint);

// How presentable a display name is: longer is better up to 48 units; control characters
// disqualify; surrogates and replacement characters and resource references cost heavily.
int DisplayNameQuality(std::wstring_view name);

// "ms-resource:" anywhere, or a short text with "@" (an indirect "@dll,-id" string).
bool LooksLikeResourceReference(std::wstring_view name);

// Keeps the text before the first control character or surrogate unit, drops U+FFFD and
// trailing blanks.
std::wstring TrimDisplayNameGarbage(std::wstring_view name);

// Cuts a name right after its first ".exe" when what follows looks like leftover bytes.
std::wstring TrimAfterSuspiciousExeSuffix(std::wstring_view name);

// The cleaned display name, or the cleaned `fallback` when the name is unusable; at most
// kMaxDisplayNameLength units.
std::wstring SanitizeDisplayName(std::wstring_view name, std::wstring_view fallback);

// "discord.exe" -> "Discord": a readable name made from an executable's file name.
std::wstring TitleCaseExeName(std::wstring_view basename);

// The plug-in's own application never appears in its list.
bool IsZelvoraEntry(std::wstring_view name, std::wstring_view exe_path);

// Shell extensions, helpers, SDKs, package managers and bare package identifiers.
bool IsJunkInstalledApp(std::wstring_view name, std::wstring_view exe_path);

}  // namespace installed_apps
