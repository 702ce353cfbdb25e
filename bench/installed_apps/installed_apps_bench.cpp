// Times the installed-apps catalogue on 300 synthetic programs, phase by phase.
// Run under Wine: scripts/wine-run.sh PREFIX "build/windows/bin/Zelvora App é Ж
// 中/installed_apps_bench.exe" It writes Uninstall keys and C:\CatalogueBench and removes both when
// done.
#include <windows.h>
// Needs windows.h first.
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "installed_apps/catalogue.h"
#include "installed_apps/file_facts/exe_version.h"
#include "installed_apps/file_facts/icon_pixels.h"
#include "installed_apps/file_facts/icon_png.h"
#include "installed_apps/rules/collapse.h"
#include "installed_apps/scan/exe_locator.h"
#include "installed_apps/scan/store_scan.h"
#include "installed_apps/scan/uninstall_scan.h"

namespace {

using namespace installed_apps;
namespace fs = std::filesystem;

constexpr int kApps = 300;
const std::wstring kRoot = L"C:\\CatalogueBench";
const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

double Millis(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

std::wstring KeyName(int i) { return kUninstall + L"CatalogueBench." + std::to_wstring(i); }
std::wstring Folder(int i) { return kRoot + L"\\Vendor " + std::to_wstring(i) + L"\\Program"; }

void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool Build(const fs::path& program) {
  std::error_code error;
  for (int i = 0; i < kApps; ++i) {
    const fs::path folder(Folder(i));
    fs::create_directories(folder / L"bin" / L"plugins", error);
    const std::wstring name = L"benchapp" + std::to_wstring(i);
    // The main program, a helper, an uninstaller and a nested tool: a typical install.
    fs::copy_file(program, folder / (name + L".exe"), fs::copy_options::overwrite_existing, error);
    fs::copy_file(program, folder / L"crashhandler.exe", fs::copy_options::overwrite_existing,
                  error);
    fs::copy_file(program, folder / L"unins000.exe", fs::copy_options::overwrite_existing, error);
    fs::copy_file(program, folder / L"bin" / L"plugins" / L"tool.exe",
                  fs::copy_options::overwrite_existing, error);
    if (error) return false;

    HKEY raw = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, KeyName(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &raw, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    UniqueRegKey key(raw);
    SetString(key.get(), L"DisplayName", L"Bench App " + std::to_wstring(i));
    SetString(key.get(), L"InstallLocation", Folder(i));
    // Half name their executable in DisplayIcon; the other half must be found by the walk.
    if (i % 2 == 0) SetString(key.get(), L"DisplayIcon", Folder(i) + L"\\" + name + L".exe,0");
    if (i % 3 == 0) SetString(key.get(), L"DisplayVersion", L"1." + std::to_wstring(i));
  }
  return true;
}

// Fresh Wine prefixes lack the ".exe" -> "exefile" mapping that makes the shell read a
// program's own icon; without it every program gets the generic icon.
bool AddExeAssociation() {
  HKEY raw = nullptr;
  DWORD disposition = 0;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.exe", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &raw, &disposition) != ERROR_SUCCESS) {
    return false;
  }
  UniqueRegKey key(raw);
  if (disposition != REG_CREATED_NEW_KEY) return false;
  SetString(key.get(), nullptr, L"exefile");
  return true;
}

void CleanUp() {
  for (int i = 0; i < kApps; ++i) ::RegDeleteKeyW(HKEY_CURRENT_USER, KeyName(i).c_str());
  std::error_code ignored;
  fs::remove_all(kRoot, ignored);
}

}  // namespace

int main() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const fs::path program = fs::path(self).parent_path() / L"apps_fixture_alpha.exe";
  CleanUp();
  const bool added_association = AddExeAssociation();
  std::printf("setting up %d programs...\n", kApps);
  if (!Build(program)) {
    std::printf("setup failed (is apps_fixture_alpha.exe next to the benchmark?)\n");
    CleanUp();
    return 1;
  }

  // The two figures the user feels: the first opening of the list in a session, and every
  // later one. PowerShell is left out (it is not our work, and Wine runs no scripts).
  CatalogueHooks no_store;
  no_store.run_store_script = [](const std::wstring&) { return std::string(); };
  // What any program pays once for the shell and GDI+ in a fresh process (Wine loads and
  // starts them on first use), measured apart so the first call shows the catalogue's own work.
  const double startup_ms = Millis([&] {
    EnsureGdiplusStarted();
    ExtractFileIconPng(program.wstring());
    ReadExeFileVersion(program.wstring());
  });
  std::printf("one-time shell and GDI+ start-up %.1f ms\n", startup_ms);
  // The yardstick for the figures below, taken in the same run: one pass of the shell's
  // cheapest file read (each program's first icon) over all programs.
  const double yardstick_ms = Millis([&] {
    for (int i = 0; i < kApps; ++i) {
      HICON icon = nullptr;
      const std::wstring exe = Folder(i) + L"\\benchapp" + std::to_wstring(i) + L".exe";
      ::ExtractIconExW(exe.c_str(), 0, &icon, nullptr, 1);
      if (icon) ::DestroyIcon(icon);
    }
  });
  std::printf("yardstick (one ExtractIconExW per program) %.1f ms\n", yardstick_ms);
  size_t first_listed = 0;
  const double first_call_ms = Millis([&] { first_listed = RunCatalogue(no_store).apps.size(); });
  double repeat_call_ms = 1e300;
  for (int run = 0; run < 3; ++run) {
    repeat_call_ms = std::min(repeat_call_ms, Millis([&] { RunCatalogue(no_store); }));
  }
  std::printf("first call %.1f ms, repeat call (best of 3) %.1f ms, listed=%zu\n", first_call_ms,
              repeat_call_ms, first_listed);
  std::printf("first call / yardstick %.2fx, repeat call / yardstick %.2fx\n",
              first_call_ms / yardstick_ms, repeat_call_ms / yardstick_ms);

  EntryTable table;
  const double hive_ms = Millis([&] { ScanUninstallHives(table); });
  const size_t classic = table.size();

  // The executable choice alone, again for every program.
  const double choice_ms = Millis([&] {
    for (int i = 0; i < kApps; ++i) {
      const std::wstring icon =
          i % 2 == 0 ? Folder(i) + L"\\benchapp" + std::to_wstring(i) + L".exe,0" : L"";
      PickBestExe(icon, Folder(i), L"Bench App " + std::to_wstring(i));
    }
  });

  const double store_ms = Millis([&] { ScanMicrosoftStorePackages(table); });
  const size_t before_collapse = table.size();
  const double collapse_ms = Millis([&] {
    CollapseByDisplayName(table);
    CollapseByExeBasename(table);
  });

  std::vector<std::wstring> paths;
  for (const auto& node : table) paths.push_back(node.second.exe_path);
  const double version_ms = Millis([&] {
    for (const std::wstring& path : paths) ReadExeFileVersion(path);
  });
  // The way versions were read before: a size query, then the read, each loading the file.
  const double sized_version_ms = Millis([&] {
    for (const std::wstring& path : paths) {
      DWORD ignored = 0;
      const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
      std::vector<BYTE> block(size);
      if (size) ::GetFileVersionInfoW(path.c_str(), 0, size, block.data());
    }
  });
  std::vector<IconPixels> icons(paths.size());
  const double icon_ms = Millis([&] {
    for (size_t i = 0; i < paths.size(); ++i) LoadShellIconPixels(paths[i], icons[i]);
  });
  size_t png_bytes = 0;
  const double png_ms = Millis([&] {
    for (IconPixels& pixels : icons) {
      RepairIconAlpha(pixels.bgra);
      png_bytes += EncodePixelsAsPng(pixels).size();
    }
  });

  EntryTable fresh;
  ScanUninstallHives(fresh);
  CollapseByDisplayName(fresh);
  CollapseByExeBasename(fresh);
  const double build_ms = Millis([&] { BuildResult(fresh); });

  CatalogueResult whole;
  const double total_ms = Millis([&] { whole = RunCatalogue(); });
  const double total_no_ps_ms = Millis([&] { RunCatalogue(no_store); });

  const double n = static_cast<double>(paths.size());
  std::printf("entries: classic=%zu after store=%zu after collapse=%zu listed=%zu\n", classic,
              before_collapse, paths.size(), whole.apps.size());
  std::printf("%-34s %9s %12s\n", "phase", "ms", "ms per app");
  auto row = [&](const char* name, double ms) {
    std::printf("%-34s %9.1f %12.3f\n", name, ms, ms / n);
  };
  row("hive scan (incl. exe choice)", hive_ms);
  row("  exe choice alone", choice_ms);
  row("store scan (powershell+fallback)", store_ms);
  row("collapse (both)", collapse_ms);
  row("versions (resource reads)", version_ms);
  row("  size query first (before)", sized_version_ms);
  row("icons (shell + pixels)", icon_ms);
  row("png encoding (+alpha repair)", png_ms);
  row("BuildResult (versions+icons+png)", build_ms);
  row("whole catalogue", total_ms);
  row("whole catalogue, store stubbed", total_no_ps_ms);
  std::printf("png bytes total=%zu (%.0f per icon)\n", png_bytes, png_bytes / n);
  CleanUp();
  if (added_association) ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.exe");
  return 0;
}
