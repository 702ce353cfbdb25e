// The messenger: host-to-plug-in messages with their response handles, plug-in-to-host
// messages to the host's observer. Any thread may send and answer.

#include <flutter_messenger.h>

#include "embedder_types.h"

namespace {

std::atomic<size_t> g_off_platform_thread{0};
std::atomic<size_t> g_during_shutdown{0};

// Hands the answer to the host exactly once: whoever removes the handle from the pending set
// (an answer, or the engine shutting down) delivers it.
void CompleteResponse(FlutterDesktopMessenger* messenger,
                      const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                      size_t size) {
  auto* pending = const_cast<FlutterDesktopMessageResponseHandle*>(handle);
  flutter_standin_internal::NoteMisplacedMessage(messenger);
  {
    std::lock_guard<std::mutex> lock(messenger->mutex);
    if (messenger->pending_responses.erase(pending) == 0) return;
  }
  if (pending->reply) pending->reply(size > 0 ? data : nullptr, size, pending->user_data);
  delete pending;
}

bool SendTowardsHost(FlutterDesktopMessengerRef messenger, const char* channel,
                     const uint8_t* message, size_t message_size, FlutterDesktopBinaryReply reply,
                     void* user_data) {
  if (!messenger || !channel) return false;
  flutter_standin_internal::NoteMisplacedMessage(messenger);
  std::lock_guard<std::recursive_mutex> alive(messenger->availability_mutex);
  if (!messenger->available) return false;
  FlutterStandinMessageObserver observer;
  void* observer_user_data;
  {
    std::lock_guard<std::mutex> lock(messenger->mutex);
    observer = messenger->observer;
    observer_user_data = messenger->observer_user_data;
  }
  if (observer) {
    observer(channel, message_size > 0 ? message : nullptr, message_size, observer_user_data);
  }
  // No Dart code answers here; an empty reply is what the engine gives without a handler.
  if (reply) reply(nullptr, 0, user_data);
  return true;
}

}  // namespace

namespace flutter_standin_internal {

void NoteMisplacedMessage(const FlutterDesktopMessenger* messenger) {
  if (::GetCurrentThreadId() != messenger->platform_thread) ++g_off_platform_thread;
  if (messenger->shutting_down) ++g_during_shutdown;
}

void ShutDownMessenger(FlutterDesktopMessenger* messenger) {
  std::set<FlutterDesktopMessageResponseHandle*> unanswered;
  {
    std::lock_guard<std::recursive_mutex> alive(messenger->availability_mutex);
    messenger->available = false;
    std::lock_guard<std::mutex> lock(messenger->mutex);
    messenger->handlers.clear();
    messenger->observer = nullptr;
    messenger->observer_user_data = nullptr;
    unanswered.swap(messenger->pending_responses);
  }
  for (FlutterDesktopMessageResponseHandle* pending : unanswered) {
    if (pending->reply) pending->reply(nullptr, 0, pending->user_data);
    delete pending;
  }
}

}  // namespace flutter_standin_internal

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, const size_t message_size) {
  return SendTowardsHost(messenger, channel, message, message_size, nullptr, nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, const size_t message_size,
                                          const FlutterDesktopBinaryReply reply, void* user_data) {
  return SendTowardsHost(messenger, channel, message, message_size, reply, user_data);
}

void FlutterStandinGetMisplacedMessageCounts(size_t* off_platform_thread, size_t* during_shutdown) {
  if (off_platform_thread) *off_platform_thread = g_off_platform_thread;
  if (during_shutdown) *during_shutdown = g_during_shutdown;
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  if (!messenger || !handle) return;
  CompleteResponse(messenger, handle, data, data_length);
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (!messenger || !channel) return;
  std::lock_guard<std::recursive_mutex> alive(messenger->availability_mutex);
  std::lock_guard<std::mutex> lock(messenger->mutex);
  if (!callback) {
    messenger->handlers.erase(channel);
    return;
  }
  // A messenger whose engine is gone takes no new handlers: nothing would ever call them.
  if (!messenger->available) return;
  messenger->handlers[channel] = {callback, user_data};
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->ref_count.fetch_add(1);
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (!messenger) return;
  if (messenger->ref_count.fetch_sub(1) == 1) {
    for (FlutterDesktopMessageResponseHandle* pending : messenger->pending_responses) {
      delete pending;
    }
    delete messenger;
  }
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  if (!messenger) return false;
  std::lock_guard<std::recursive_mutex> alive(messenger->availability_mutex);
  return messenger->available;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->availability_mutex.lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->availability_mutex.unlock();
}
