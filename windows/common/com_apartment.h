// Enters a COM apartment for a scope. The shell resolves a file's icon through COM objects
// (without COM on the thread it falls back to the generic icon of the file type); the network
// list manager is a COM object. Entering and leaving costs far more than one call inside, so
// long work enters once. COM interfaces are held by Microsoft::WRL::ComPtr (<wrl/client.h>).
#pragma once

#include <windows.h>
// Needs windows.h first.
#include <objbase.h>

namespace zelvora {

class ScopedComApartment {
 public:
  enum class Threading { kSingle, kMulti };
  explicit ScopedComApartment(Threading threading)
      : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, threading == Threading::kSingle
                                                             ? COINIT_APARTMENTTHREADED
                                                             : COINIT_MULTITHREADED))) {}
  ~ScopedComApartment() {
    if (initialized_) ::CoUninitialize();
  }
  ScopedComApartment(const ScopedComApartment&) = delete;
  ScopedComApartment& operator=(const ScopedComApartment&) = delete;

 private:
  bool initialized_;  // false when the thread already runs another apartment: use that one
};

}  // namespace zelvora
