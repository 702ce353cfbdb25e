#ifndef FLUTTER_MESSENGER_H_
#define FLUTTER_MESSENGER_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "flutter_export.h"

#if defined(__cplusplus)
extern "C" {
#endif

// Opaque reference to a messenger: the binary channel between native code and Dart.
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;

// Opaque handle for answering one incoming message.
typedef struct _FlutterPlatformMessageResponseHandle FlutterDesktopMessageResponseHandle;

// Called with the reply to a message sent with FlutterDesktopMessengerSendWithReply.
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);

// A message from Dart on some channel.
typedef struct {
  // Size of this struct as created by the embedder.
  size_t struct_size;
  // The name of the channel the message was sent on.
  const char* channel;
  // The raw message data.
  const uint8_t* message;
  // The length of |message|.
  size_t message_size;
  // The response handle; pass it to FlutterDesktopMessengerSendResponse exactly once.
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

// Called for each message that arrives on a channel with a registered callback.
typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef /* messenger */,
                                              const FlutterDesktopMessage* /* message */,
                                              void* /* user data */);

// Sends a message to Dart on |channel| without expecting a reply.
FLUTTER_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                                const char* channel, const uint8_t* message,
                                                const size_t message_size);

// Sends a message to Dart on |channel|; |reply| is called with the answer.
FLUTTER_EXPORT bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
    const size_t message_size, const FlutterDesktopBinaryReply reply, void* user_data);

// Answers a message received by a FlutterDesktopMessageCallback. Any thread may call this.
FLUTTER_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length);

// Registers |callback| for |channel|, replacing any earlier one; a null callback removes it.
FLUTTER_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                                       const char* channel,
                                                       FlutterDesktopMessageCallback callback,
                                                       void* user_data);

// Takes a reference on the messenger, which stays valid (though perhaps no longer available)
// until the matching FlutterDesktopMessengerRelease.
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);

// Drops a reference taken with FlutterDesktopMessengerAddRef.
FLUTTER_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);

// False once the engine behind the messenger is gone. Call it while holding the lock.
FLUTTER_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);

// Locks the messenger so the engine cannot go away meanwhile; returns |messenger|.
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);

// Releases the lock taken with FlutterDesktopMessengerLock.
FLUTTER_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // FLUTTER_MESSENGER_H_
