// Starts self-contained background work on a thread nobody joins.
//
// Detached std::threads of the MinGW (winpthreads) build crash or never start, now and then,
// under load; threads made by the Win32 API do not. Every detached thread of the plug-in
// (method workers, output readers, DNS restores) starts here.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <new>

namespace zelvora {

// Runs `body` on a new detached thread. Returns false, without running it, when no thread
// could be made. `body` must catch what it cares about; anything that still escapes is
// swallowed here so the process never dies of it.
inline bool StartDetachedThread(std::function<void()> body) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  const auto entry = [](LPVOID parameter) -> DWORD {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
    try {
      (*work)();
    } catch (...) {
    }
    return 0;
  };
  HANDLE thread = ::CreateThread(nullptr, 0, entry, owned.get(), 0, nullptr);
  if (!thread) return false;
  owned.release();  // the thread owns it now
  ::CloseHandle(thread);
  return true;
}

}  // namespace zelvora
