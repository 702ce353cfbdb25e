// Where proxy mode looks for xray.exe and its data files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zelvora {

// The places tried, in order, for `file_name` ("xray.exe"); any empty folder argument drops
// the candidates built on it.
std::vector<std::filesystem::path> ProxyXrayCandidates(const std::filesystem::path& cwd,
                                                       const std::filesystem::path& app_data,
                                                       const std::filesystem::path& program_files,
                                                       const std::filesystem::path& exe_dir);

// The first candidate that exists; empty when none does.
std::filesystem::path FindXrayExecutable();
// The folder holding "geoip.dat", searched beside `xray` first; empty when none.
std::filesystem::path FindXrayAssets(const std::filesystem::path& xray);

}  // namespace zelvora
