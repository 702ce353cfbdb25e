// Where the engine looks for the core's programs and what it says when one is missing
// (no Win32: folders come in as text, file tests through a callback).
#pragma once

#include <functional>
#include <string>
#include <vector>

// Candidate paths for `file_name`, in the order they are tried: the current folder's tree
// first, then the application's own folder and its Flutter assets. `exe_dir` empty: the
// application's folder is unknown and only the current-folder candidates exist.
std::vector<std::wstring> EngineComponentCandidates(const std::wstring& cwd,
                                                    const std::wstring& exe_dir,
                                                    const std::wstring& file_name);

// The folder part of a path (up to, not including, the last '\' or '/'); empty when none.
std::wstring ParentFolder(const std::wstring& path);

// The text CheckComponents answers with, empty when everything is in place. `exists` tells
// whether a file in the xray folder exists.
std::string ComponentCheckText(bool have_xray, bool have_tun2socks, bool native_tun,
                               const std::function<bool(const std::wstring&)>& exists_in_folder);

// The application folder as the orphan cleanup compares it: the module path up to and including
// its last '\' or '/', lower-cased; empty when the path has no folder.
std::wstring LowerApplicationFolder(const std::wstring& module_path);
// True for a core process ("xray.exe" or "tun2socks.exe", any case) whose image lies under
// `lower_app_folder`.
bool IsOwnCoreProcess(const std::wstring& lower_app_folder, const std::wstring& exe_name,
                      const std::wstring& image_path);
