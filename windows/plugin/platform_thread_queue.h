// Work that must run on the platform thread: method results and status events. Flutter's
// embedder takes channel messages only there, and stops taking them for good once the plug-in
// is being destroyed.
#pragma once

#include <flutter/encodable_value.h>
#include <flutter/method_result.h>
#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace zelvora {

class PlatformThreadQueue {
 public:
  // Made on the platform thread. `window` is the top-level window whose procedure calls
  // Drain() on `message`; without one, work runs on the calling thread.
  PlatformThreadQueue(HWND window, UINT message);

  // Runs `task` on the platform thread: at once when called there (or without a window),
  // otherwise queued and the window told. Dropped once Close() was called.
  void Run(std::function<void()> task);

  // On the platform thread: runs what is queued. Returns how many tasks ran.
  size_t Drain();

  // How many tasks wait for the platform thread now.
  size_t Pending();

  // From now on nothing runs: queued and later tasks are dropped. Waits for a task that is
  // running on another thread (no-window delivery) to end.
  void Close();

 private:
  bool OnPlatformThread() const { return ::GetCurrentThreadId() == platform_thread_; }

  const HWND window_;
  const UINT message_;
  const DWORD platform_thread_;
  std::mutex mutex_;  // guards tasks_ and closed_
  std::deque<std::function<void()>> tasks_;
  bool closed_ = false;
  // Held while tasks run, so Close() returns only when none is running.
  std::recursive_mutex delivery_mutex_;
};

// Completes `inner` on the platform thread through `queue`; a completion after the queue
// closed is dropped (the engine is going away and has nobody left to tell).
std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> CompleteOnPlatformThread(
    std::shared_ptr<PlatformThreadQueue> queue,
    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> inner);

}  // namespace zelvora
