// Another party (another exchange, another process of the session) holding a named mutex:
// a thread takes it and keeps it until Release(), the holding time runs out, or destruction.
#pragma once

#include <windows.h>

#include <thread>

#include "common/unique_handle.h"

// Waits (up to `limit_ms`) until another thread or process holds the mutex `name`.
inline bool WaitUntilHeldElsewhere(const wchar_t* name, DWORD limit_ms = 30000) {
  for (DWORD waited = 0; waited < limit_ms; waited += 10) {
    if (!NamedMutexLock(name, 0).owns()) return true;
    ::Sleep(10);
  }
  return false;
}

class HeldMutex {
 public:
  // Returns once the mutex is held.
  explicit HeldMutex(const wchar_t* name, DWORD hold_ms = INFINITE)
      : release_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        holding_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    holder_ = std::thread([this, name, hold_ms] {
      NamedMutexLock lock(name, INFINITE);
      ::SetEvent(holding_.get());
      ::WaitForSingleObject(release_.get(), hold_ms);
    });
    ::WaitForSingleObject(holding_.get(), INFINITE);
  }
  ~HeldMutex() { Release(); }
  HeldMutex(const HeldMutex&) = delete;
  HeldMutex& operator=(const HeldMutex&) = delete;

  // Lets go (at once, or when the holding time already ran out) and waits for the holder.
  void Release() {
    ::SetEvent(release_.get());
    if (holder_.joinable()) holder_.join();
  }

 private:
  UniqueHandle release_;
  UniqueHandle holding_;
  std::thread holder_;
};
