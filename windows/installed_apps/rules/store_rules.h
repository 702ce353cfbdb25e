// Rules for Microsoft Store packages: which package keys are user applications, how a package
// is named when its manifest gives no usable name, and how the scan script's output and a
// package manifest are read. Pure functions; the scans that feed them live in store_scan.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace installed_apps {

// The last component of an install folder: "Publisher.Name_1.0.0.0_x64__publisherid".
std::wstring PackageFolderKey(std::wstring_view location);

// Runtime and framework packages (VCLibs, .NET, WebView2, codecs...) that no user launches.
bool IsFrameworkAppxKey(std::wstring_view key);
// Not a framework and not one of the Windows shell's own packages.
bool IsLikelyUserStorePackageKey(std::wstring_view key);

// "Contoso.NotesStudio_1.2.3.0_x64__8abcdefgh1234" -> "Notes Studio".
std::wstring HumanizePackageFamily(std::wstring_view key);

// The cleaned display text of a package, falling back to the humanised package family when
// the text is empty or a resource reference.
std::wstring NormalizeStoreDisplayName(std::wstring_view display, std::wstring_view location);

// One line of the scan script's output: "display|location|version" (UTF-8 in the file).
struct StoreScanLine {
  std::wstring name;
  std::wstring location;
  std::wstring version;
};

// Splits the script's output into lines with at least two "|" separators (CR LF or LF ends).
std::vector<StoreScanLine> ParseStoreScanOutput(std::string_view text);

// The display name for a scan line, or an empty string when the line does not describe a user
// application installed under a WindowsApps folder.
std::wstring AcceptedStoreDisplayName(const StoreScanLine& line);

// Every non-empty Executable="..." value of a package manifest, in document order, with ".exe"
// appended when missing. Values that would leave the package folder (absolute paths, drive
// letters, ".." segments) are left out: the result is joined to the package folder.
std::vector<std::wstring> ManifestExecutableValues(std::string_view manifest_utf8);

// The PowerShell script that lists the Store packages of the user named by the environment
// variable "ZELVORA_APPX_USER" (else %USERNAME%) into the file named by "ZELVORA_APPX_OUT"
// (CR LF line ends).
extern const char kStoreScanScript[];

}  // namespace installed_apps
