// Shared pieces of the catalogue's Wine tests: fixture files, registry keys that clean up
// after themselves, calls through the channel workers, and PNG decoding.
#pragma once

#include <flutter/encodable_value.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "installed_apps/catalogue_workers.h"
#include "support/byte_files.h"

namespace apps_test {

// Root of every file the tests create. Its name must not contain the plug-in's own name,
// which the catalogue filters out.
inline const std::wstring kTestRoot = L"C:\\CatalogueTest";

// Copies the fixture program `fixture` (e.g. L"apps_fixture_alpha.exe", built next to the
// test) to `destination`, creating folders on the way.
void CopyFixture(const std::wstring& fixture, const std::wstring& destination);
void RemoveTestRoot();
std::wstring FixturePath(const std::wstring& fixture);

// A registry value: text (REG_SZ) or DWORD.
struct RegValue {
  RegValue(const wchar_t* text) : is_text(true), text(text) {}
  RegValue(const std::wstring& text) : is_text(true), text(text) {}
  RegValue(DWORD number) : is_text(false), number(number) {}
  // A REG_EXPAND_SZ value, as installers write "%LOCALAPPDATA%\..." paths.
  static RegValue Expandable(const std::wstring& text) {
    RegValue value(text);
    value.expandable = true;
    return value;
  }
  bool is_text;
  bool expandable = false;
  std::wstring text;
  DWORD number = 0;
};
using RegValues = std::map<std::wstring, RegValue>;

// Creates keys and deletes every key it created when it goes away.
class RegistryKeys {
 public:
  RegistryKeys() = default;
  RegistryKeys(const RegistryKeys&) = delete;
  RegistryKeys& operator=(const RegistryKeys&) = delete;
  ~RegistryKeys();
  // `view` is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
  void Write(HKEY root, REGSAM view, const std::wstring& path, const RegValues& values);
  void DeleteAll();

 private:
  struct Created {
    HKEY root;
    REGSAM view;
    std::wstring path;
  };
  std::vector<Created> created_;
};

inline const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// What a worker answered.
struct WorkerAnswer {
  bool completed = false;
  int successes = 0;
  int other_completions = 0;  // errors and not-implemented
  flutter::EncodableValue value;
};

// Starts a worker with a recording result and waits up to `timeout_ms` for its answer.
WorkerAnswer CallWorker(const std::function<void(installed_apps::AppsMethodResult)>& start,
                        DWORD timeout_ms = 60000);

// Looks up a string or other member of an application map.
const flutter::EncodableValue* Member(const flutter::EncodableMap& map, const char* key);
std::string StringMember(const flutter::EncodableMap& map, const char* key);

struct DecodedImage {
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgra;  // top-down, not premultiplied
};
DecodedImage DecodePng(const std::vector<uint8_t>& png);

}  // namespace apps_test
