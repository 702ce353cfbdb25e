#include "installed_apps/rules/name_rules.h"

#include <algorithm>
#include <climits>

#include "installed_apps/rules/path_text.h"

namespace installed_apps {
namespace {

constexpr wchar_t kReplacementChar = 0xFFFD;

bool IsControl(wchar_t c) { return c < 0x20; }
bool IsSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsPrivateUse(wchar_t c) { return c >= 0xE000 && c <= 0xF8FF; }

bool HasControlCharacter(std::wstring_view text) {
  return std::any_of(text.begin(), text.end(), IsControl);
}

// Well-known programs whose executable is the program itself, never a helper.
constexpr std::wstring_view kKnownAppExes[] = {
    L"firefox.exe", L"chrome.exe", L"msedge.exe",  L"brave.exe",    L"opera.exe",    L"vivaldi.exe",
    L"discord.exe", L"steam.exe",  L"spotify.exe", L"telegram.exe", L"whatsapp.exe", L"zoom.exe",
    L"teams.exe",   L"slack.exe",  L"vlc.exe",     L"obs64.exe",
};

bool IsIdentifierCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'-' || c == L'.' || c == L'_';
}

bool IsAsciiLetters(std::wstring_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
  });
}

// First labels of reverse-domain identifiers ("com.vendor.tool", "io.github.app").
constexpr std::wstring_view kReverseDomainHeads[] = {L"com", L"org", L"net", L"io", L"de",
                                                     L"dev", L"app", L"co",  L"uk", L"edu"};
// Endings that real program names carry after a dot: "Battle.net", "paint.net", "Node.js".
constexpr std::wstring_view kNameSuffixes[] = {L"net", L"js", L"io",  L"ai", L"app",
                                               L"fm",  L"tv", L"org", L"com"};

// Name looks like "com.vendor.tool" or "Vendor.App_1.2": no blank, an inner dot, and only
// identifier characters. A single word with a dotted ending that names use ("Battle.net",
// "Node.js") is a program's name, unless the word itself is a domain head ("com.vendor").
bool LooksLikePackageIdentifier(std::wstring_view name) {
  if (name.find(L' ') != std::wstring_view::npos) return false;
  bool inner_dot = false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == L'.' && i != 0 && i + 1 != name.size()) inner_dot = true;
  }
  if (!inner_dot || !std::all_of(name.begin(), name.end(), IsIdentifierCharacter)) return false;
  const std::wstring lower = ToLower(name);
  const size_t first_dot = lower.find(L'.');
  const std::wstring_view head = std::wstring_view(lower).substr(0, first_dot);
  for (std::wstring_view domain : kReverseDomainHeads) {
    if (head == domain) return true;
  }
  const size_t last_dot = lower.rfind(L'.');
  if (first_dot != last_dot || !IsAsciiLetters(head)) return true;
  const std::wstring_view tail = std::wstring_view(lower).substr(last_dot + 1);
  for (std::wstring_view suffix : kNameSuffixes) {
    if (tail == suffix) return false;
  }
  return true;
}

// File-name parts of programs that install, update, report crashes or run in the background
// for the real program: bypassing them bypasses nothing the user runs. "appvlp" and
// "integrator" are Office Click-to-Run's App-V launcher and its integration tool, which sit
// in folders that list before the suite's programs.
constexpr std::wstring_view kAuxiliaryNameParts[] = {
    L"setup",  L"install", L"unins",      L"update", L"crash",  L"service",
    L"helper", L"redist",  L"clicktorun", L"elevat", L"appvlp", L"integrator",
};

// Calls `fn` with every word of a program's name (split at blanks) of 4 or more units, lower
// case: shorter ones ("the", "pro", versions) say nothing about a file name.
template <typename Fn>
void ForEachNameWord(std::wstring_view hint, Fn&& fn) {
  const std::wstring words = ToLower(hint);
  size_t pos = 0;
  while (words.size() >= pos + 4) {
    size_t end = words.find(L' ', pos);
    if (end == std::wstring::npos) end = words.size();
    const std::wstring_view word = std::wstring_view(words).substr(pos, end - pos);
    if (word.size() >= 4) fn(word);
    pos = end + 1;
  }
}
// Folders that hold only installers: the Burn bundle cache and Windows Installer's cache,
// whose ".exe" files are often icons of an MSI product.
constexpr std::wstring_view kAuxiliaryFolders[] = {L"\\package cache\\", L"\\windows\\installer\\"};

}  // namespace

bool IsAuxiliaryExe(std::wstring_view exe_path, std::wstring_view hint) {
  if (IsUninstallerExe(exe_path)) return true;
  const std::wstring lower = ToLower(exe_path);
  for (std::wstring_view folder : kAuxiliaryFolders) {
    if (Contains(lower, folder)) return true;
  }
  const std::wstring base = ToLower(Basename(exe_path));
  const std::wstring name = ToLower(hint);
  if (EndsWith(base, L"svc.exe")) return true;
  for (std::wstring_view part : kAuxiliaryNameParts) {
    // The program's own name may say it installs or updates ("Visual Studio Installer"):
    // then that word marks the program, not a helper of it.
    if (Contains(base, part) && !Contains(name, part)) return true;
  }
  return false;
}

size_t NameLettersInExeName(std::wstring_view exe_path, std::wstring_view hint) {
  const std::wstring base = ToLower(Basename(exe_path));
  size_t letters = 0;
  ForEachNameWord(hint, [&](std::wstring_view word) {
    if (Contains(base, word)) letters += word.size();
  });
  return letters;
}

int ScoreExeCandidate(std::wstring_view exe_path, std::wstring_view hint) {
  if (exe_path.empty() || IsUninstallerExe(exe_path)) return -1000;
  const std::wstring base = ToLower(Basename(exe_path));
  int score = 0;
  if (std::find(std::begin(kKnownAppExes), std::end(kKnownAppExes), base) !=
      std::end(kKnownAppExes)) {
    score = 120;
  }
  // Each word of the program's name (4+ units, so "the", "pro" and versions do not count)
  // found in the file name is evidence that this is the program's main executable.
  ForEachNameWord(hint, [&](std::wstring_view word) {
    if (Contains(base, word)) score += 40;
  });
  if (Contains(base, L"helper")) score -= 50;
  if (Contains(base, L"crash")) score -= 50;
  if (Contains(base, L"service")) score -= 35;
  if (Contains(base, L"launcher")) score -= 25;
  if (Contains(base, L"install")) score -= 40;
  return score;
}

int DisplayNameQuality(std::wstring_view name) {
  if (name.empty() || HasControlCharacter(name)) return -1000;
  int bad = 0;
  for (wchar_t c : name) {
    if (IsSurrogate(c) || c == kReplacementChar) bad += 4;
  }
  int score = static_cast<int>(std::min<size_t>(name.size(), 48)) - 25 * bad;
  const bool resource = LooksLikeResourceReference(name);
  if (name.size() < 97) {
    if (resource) score -= 200;
  } else {
    score -= resource ? 320 : 120;
  }
  return score;
}

bool LooksLikeResourceReference(std::wstring_view name) {
  if (Contains(ToLower(name), L"ms-resource:")) return true;
  return Contains(name, L"@") && name.size() < 96;
}

std::wstring TrimDisplayNameGarbage(std::wstring_view name) {
  std::wstring out;
  out.reserve(name.size());
  for (wchar_t c : name) {
    if (IsControl(c) || IsSurrogate(c)) break;
    if (c != kReplacementChar) out.push_back(c);
  }
  return TrimTrailingBlanks(out);
}

std::wstring TrimAfterSuspiciousExeSuffix(std::wstring_view name) {
  const size_t exe = ToLower(name).find(L".exe");
  if (exe == std::wstring::npos) return std::wstring(name);
  const size_t tail_start = exe + 4;
  if (tail_start >= name.size()) return std::wstring(name);
  const std::wstring_view tail = name.substr(tail_start);
  int suspicion = 0;
  for (wchar_t c : tail) {
    if (IsControl(c) || c == kReplacementChar || IsSurrogate(c)) suspicion += 3;
    if (IsPrivateUse(c)) suspicion += 2;
  }
  if (suspicion >= 1 || tail.size() >= 5) return std::wstring(name.substr(0, tail_start));
  return std::wstring(name);
}

std::wstring SanitizeDisplayName(std::wstring_view name, std::wstring_view fallback) {
  std::wstring out = TrimAfterSuspiciousExeSuffix(TrimDisplayNameGarbage(name));
  if (out.empty() || LooksLikeResourceReference(out) || HasControlCharacter(out) ||
      DisplayNameQuality(out) < 0) {
    out.clear();
  }
  if (out.empty() && !fallback.empty()) out = TrimDisplayNameGarbage(fallback);
  // Both texts are free of surrogates here, so the cut never splits a pair.
  if (out.size() > kMaxDisplayNameLength) out.resize(kMaxDisplayNameLength);
  return out;
}

std::wstring TitleCaseExeName(std::wstring_view basename) {
  std::wstring out(basename);
  if (out.size() > 4 && EndsWith(ToLower(out), L".exe")) out.resize(out.size() - 4);
  if (!out.empty() && out[0] >= L'a' && out[0] <= L'z') {
    out[0] = static_cast<wchar_t>(out[0] - L'a' + L'A');
  }
  return out;
}

bool IsZelvoraEntry(std::wstring_view name, std::wstring_view exe_path) {
  const std::wstring lower_path = ToLower(exe_path);
  return Contains(ToLower(name), L"zelvora") || Contains(lower_path, L"zelvora") ||
         Contains(lower_path, L"zel_vora");
}

bool IsJunkInstalledApp(std::wstring_view name, std::wstring_view exe_path) {
  if (!IsValidAppExePath(exe_path)) return true;
  const std::wstring lname = ToLower(name);
  const std::wstring lbase = ToLower(Basename(exe_path));

  for (std::wstring_view ext : {L".ico", L".dll", L".lnk", L".msi", L".bat", L".cmd"}) {
    if (EndsWith(lname, ext)) return true;
  }
  if (EndsWith(lbase, L".ico")) return true;

  if (Contains(lbase, L"contextmenu") || lbase == L"browser_helper.exe" || lbase == L"winget.exe" ||
      Contains(lbase, L"windowspackagemanager") || Contains(lbase, L"crashpad") ||
      Contains(lbase, L"notification_helper") || lbase == L"runtimebroker.exe") {
    return true;
  }

  if (Contains(lname, L"contextmenu") || Contains(lname, L"windows software development kit") ||
      Contains(lname, L"windows sdk") || Contains(lname, L"windows web experience pack") ||
      Contains(lname, L"windows package manager") || lname == L"winget" ||
      lname == L"browser_helper") {
    return true;
  }

  return LooksLikePackageIdentifier(name);
}

}  // namespace installed_apps
