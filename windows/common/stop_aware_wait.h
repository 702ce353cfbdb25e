// The one stop-aware wait of the code base: every wait of a stoppable worker (engine steps,
// proxy mode, child start-up, status timer) goes through it, so a stop is noticed within one
// slice wherever the worker happens to be waiting.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace zelvora {

// Longest sleep between two looks at the flag. The engine's contract is "a stop ends any wait
// within 100 ms"; a shorter slice keeps that with room for scheduling delays.
inline constexpr std::chrono::milliseconds kStopCheckSlice{20};

// Waits `duration` against a steady-clock deadline, asking `stop_requested()` once per slice.
// True when the whole time passed, false as soon as a stop was requested.
template <typename StopRequested>
bool WaitUnlessStopped(const StopRequested& stop_requested,
                       std::chrono::steady_clock::duration duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (!stop_requested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(deadline - now, kStopCheckSlice));
  }
  return false;
}

// The same while `running` stays true. Returns `running` at the end: true when the whole time
// passed, false as soon as a stop was seen. A duration below 1 ms returns `running` at once.
inline bool WaitWhileRunning(const std::atomic<bool>& running,
                             std::chrono::steady_clock::duration duration) {
  WaitUnlessStopped([&running] { return !running; }, duration);
  return running;
}

inline bool WaitWhileRunning(const std::atomic<bool>& running, long long milliseconds) {
  return WaitWhileRunning(running, std::chrono::milliseconds(milliseconds));
}

}  // namespace zelvora
