#include "windows_test_support.h"

// Needs windows.h (from the header) first.
#include <objidl.h>
// GDI+ expects the classic min/max helpers, which NOMINMAX removes from windows.h.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <flutter/method_result_functions.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "installed_apps/file_facts/icon_png.h"

namespace apps_test {
namespace {

// Windows maps ".exe" to "exefile", whose DefaultIcon "%1" makes the shell read a program's
// own icon. Fresh Wine prefixes lack the mapping and give every program the generic icon, so
// the tests add it for their run (and only when it is missing).
class ExeIconAssociation : public ::testing::Environment {
 public:
  void SetUp() override {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          &disposition) != ERROR_SUCCESS) {
      return;
    }
    if (disposition == REG_CREATED_NEW_KEY) {
      created_ = true;
      static const wchar_t kClass[] = L"exefile";
      ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kClass),
                       sizeof(kClass));
    }
    ::RegCloseKey(key);
  }
  void TearDown() override {
    if (created_) ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
  }

 private:
  static constexpr wchar_t kKey[] = L"Software\\Classes\\.exe";
  bool created_ = false;
};

[[maybe_unused]] ::testing::Environment* const kExeIconAssociation =
    ::testing::AddGlobalTestEnvironment(new ExeIconAssociation);

}  // namespace

std::wstring FixturePath(const std::wstring& fixture) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (std::filesystem::path(self).parent_path() / fixture).wstring();
}

void CopyFixture(const std::wstring& fixture, const std::wstring& destination) {
  const std::filesystem::path target(destination);
  std::filesystem::create_directories(target.parent_path());
  std::filesystem::copy_file(FixturePath(fixture), target,
                             std::filesystem::copy_options::overwrite_existing);
}

void RemoveTestRoot() {
  std::error_code ignored;
  std::filesystem::remove_all(kTestRoot, ignored);
}

RegistryKeys::~RegistryKeys() { DeleteAll(); }

void RegistryKeys::Write(HKEY root, REGSAM view, const std::wstring& path,
                         const RegValues& values) {
  HKEY key = nullptr;
  ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                    nullptr);
  if (key == nullptr) return;
  created_.push_back({root, view, path});
  for (const auto& [name, value] : values) {
    if (value.is_text) {
      ::RegSetValueExW(key, name.c_str(), 0, value.expandable ? REG_EXPAND_SZ : REG_SZ,
                       reinterpret_cast<const BYTE*>(value.text.c_str()),
                       static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
    } else {
      ::RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value.number), sizeof(DWORD));
    }
  }
  ::RegCloseKey(key);
}

void RegistryKeys::DeleteAll() {
  for (const Created& c : created_) ::RegDeleteKeyExW(c.root, c.path.c_str(), c.view, 0);
  created_.clear();
}

WorkerAnswer CallWorker(const std::function<void(installed_apps::AppsMethodResult)>& start,
                        DWORD timeout_ms) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    WorkerAnswer answer;
  };
  auto shared = std::make_shared<Shared>();
  const auto complete = [shared](const flutter::EncodableValue* success) {
    std::lock_guard<std::mutex> lock(shared->mutex);
    ++(success ? shared->answer.successes : shared->answer.other_completions);
    shared->answer.completed = true;
    if (success) shared->answer.value = *success;
    shared->done.notify_all();
  };
  static const flutter::EncodableValue kNull;
  auto result = std::make_unique<flutter::MethodResultFunctions<flutter::EncodableValue>>(
      [complete](const flutter::EncodableValue* value) { complete(value ? value : &kNull); },
      [complete](const std::string&, const std::string&, const flutter::EncodableValue*) {
        complete(nullptr);
      },
      [complete]() { complete(nullptr); });
  start(std::move(result));
  std::unique_lock<std::mutex> lock(shared->mutex);
  shared->done.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [&] { return shared->answer.completed; });
  return shared->answer;
}

const flutter::EncodableValue* Member(const flutter::EncodableMap& map, const char* key) {
  auto found = map.find(flutter::EncodableValue(key));
  return found == map.end() ? nullptr : &found->second;
}

std::string StringMember(const flutter::EncodableMap& map, const char* key) {
  const flutter::EncodableValue* value = Member(map, key);
  const auto* text = value ? std::get_if<std::string>(value) : nullptr;
  return text ? *text : std::string("<missing>");
}

DecodedImage DecodePng(const std::vector<uint8_t>& png) {
  DecodedImage image;
  if (png.size() < 8 || std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8) != 0) return image;
  if (!installed_apps::EnsureGdiplusStarted()) return image;
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return image;
  ULONG written = 0;
  stream->Write(png.data(), static_cast<ULONG>(png.size()), &written);
  LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  {
    Gdiplus::Bitmap bitmap(stream);
    if (bitmap.GetLastStatus() == Gdiplus::Ok) {
      image.width = static_cast<int>(bitmap.GetWidth());
      image.height = static_cast<int>(bitmap.GetHeight());
      Gdiplus::Rect all(0, 0, image.width, image.height);
      Gdiplus::BitmapData data{};
      if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) ==
          Gdiplus::Ok) {
        image.bgra.resize(static_cast<size_t>(image.width) * image.height * 4);
        for (int y = 0; y < image.height; ++y) {
          std::memcpy(image.bgra.data() + static_cast<size_t>(y) * image.width * 4,
                      static_cast<const uint8_t*>(data.Scan0) + y * data.Stride,
                      static_cast<size_t>(image.width) * 4);
        }
        bitmap.UnlockBits(&data);
        image.ok = true;
      }
    }
  }
  stream->Release();
  return image;
}

}  // namespace apps_test
