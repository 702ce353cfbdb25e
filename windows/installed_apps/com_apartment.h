// Enters a single-threaded COM apartment for a scope. The shell resolves a file's icon through
// COM objects; without COM on the calling thread it falls back to the generic icon of the file
// type. Entering and leaving costs far more than the icon itself, so long work enters once and
// the per-icon entries inside it only count up and down.
#pragma once

#include <windows.h>
// Needs windows.h first.
#include <objbase.h>

namespace installed_apps {

class ScopedComApartment {
 public:
  ScopedComApartment()
      : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ScopedComApartment() {
    if (initialized_) ::CoUninitialize();
  }
  ScopedComApartment(const ScopedComApartment&) = delete;
  ScopedComApartment& operator=(const ScopedComApartment&) = delete;

 private:
  bool initialized_;  // false when the thread already runs another apartment: use that one
};

}  // namespace installed_apps
