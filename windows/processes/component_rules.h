// Where the engine looks for the core's programs and what it says when one is missing
// (no Win32: folders come in as text, file tests through a callback).
#pragma once

#include <functional>
#include <string>
#include <vector>

// The folders searched, in order, for the core's programs and data files: the application's
// own folder and its Flutter assets first, so an installed app always runs the programs it
// shipped with; the current folder's tree only after them, for development runs whose app
// folder holds none. Never the search path, a user profile or another product's folder. An
// empty argument drops the folders built on it.
std::vector<std::wstring> ComponentFolders(const std::wstring& cwd, const std::wstring& exe_dir);

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
