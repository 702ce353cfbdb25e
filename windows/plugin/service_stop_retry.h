// Carrying a stop through to the tunnel service. "stopVless" answers once its first attempt
// is over, whatever became of it; but a stop that never reached the service (another process
// of the session held the client mutex, or the pipe could not be reached) would leave the
// user's session running. Such a stop is tried again in the background.
#pragma once

#include <chrono>
#include <functional>

namespace zelvora {

// Pause before the second attempt, doubled after each failed one up to the longest pause. An
// attempt that waits for a busy client mutex already takes its full limit (7 s); the pauses
// keep fast failures (a service whose pipe is gone, a pipe served by another process) from
// spinning and from filling the log with two lines a second.
inline constexpr std::chrono::milliseconds kStopRetryFirstPause{1000};
inline constexpr std::chrono::milliseconds kStopRetryLongestPause{30000};

// Sends the stop again and again until the service has it or holds no session (true), or
// until `superseded` says true: a newer start, restart or stop decides the end state now, or
// the plug-in is going away (false). `superseded` is also asked while an attempt waits for
// the client mutex or the pipe, so it ends within a fraction of a second of the newer call.
bool RetryServiceStopUntilDelivered(const std::function<bool()>& superseded);

}  // namespace zelvora
