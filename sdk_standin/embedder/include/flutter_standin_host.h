#ifndef FLUTTER_STANDIN_HOST_H_
#define FLUTTER_STANDIN_HOST_H_

// The host side of the stand-in embedder: what the Flutter engine and the Dart app would do.
// Tests and tools create a registrar, hand it to a plug-in's registration function, send it
// channel messages as Dart would, watch what the plug-in sends back, and feed window messages
// of their top-level window through the plug-ins' window procedure delegates.
//
// Threads: the plug-in may send and answer from any thread. Everything else here belongs to
// the host's platform thread (the thread that owns the view's window).

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include "flutter_export.h"
#include "flutter_plugin_registrar.h"

#if defined(__cplusplus)
extern "C" {
#endif

// Receives the reply of the plug-in to a message from FlutterStandinSendToPlugin. An empty
// reply (size 0) means nobody handled the message. May run on any thread, and runs exactly
// once per message that was delivered.
typedef void (*FlutterStandinReplyCallback)(const uint8_t* reply, size_t reply_size,
                                            void* user_data);

// Receives every message the plug-in sends towards Dart (events of event channels, method
// calls from native code), on the thread that sent it. Messages that expect a reply get an
// empty one, as when no Dart handler is set.
typedef void (*FlutterStandinMessageObserver)(const char* channel, const uint8_t* message,
                                              size_t message_size, void* user_data);

// Creates a registrar with a fresh messenger. |view_window| becomes the view's window
// (FlutterDesktopPluginRegistrarGetView); null creates a registrar without a view. The host
// keeps owning the window.
FLUTTER_EXPORT FlutterDesktopPluginRegistrarRef FlutterStandinCreateRegistrar(HWND view_window);

// Runs the registrar's destruction handler (the client wrapper deletes its plug-ins there),
// makes the messenger unavailable and frees the registrar. Replies that plug-in threads send
// later are dropped safely.
FLUTTER_EXPORT void FlutterStandinDestroyRegistrar(FlutterDesktopPluginRegistrarRef registrar);

// Sends a message to the plug-in's handler of |channel|, as Dart would. |reply| (may be null)
// gets the answer. Without a handler the reply is empty at once. Returns false when the
// registrar or channel is missing.
FLUTTER_EXPORT bool FlutterStandinSendToPlugin(FlutterDesktopPluginRegistrarRef registrar,
                                               const char* channel, const uint8_t* message,
                                               size_t message_size,
                                               FlutterStandinReplyCallback reply, void* user_data);

// Sets (or with null, clears) the observer of the messages the plug-in sends towards Dart.
FLUTTER_EXPORT void FlutterStandinSetMessageObserver(FlutterDesktopPluginRegistrarRef registrar,
                                                     FlutterStandinMessageObserver observer,
                                                     void* user_data);

// True while the plug-in has a handler set for |channel|.
FLUTTER_EXPORT bool FlutterStandinHasHandler(FlutterDesktopPluginRegistrarRef registrar,
                                             const char* channel);

// Passes a message of the top-level window through the registered delegates in registration
// order. Returns true when one handled it, with its value in |result| (may be null).
FLUTTER_EXPORT bool FlutterStandinDispatchWindowMessage(FlutterDesktopPluginRegistrarRef registrar,
                                                        HWND hwnd, UINT message, WPARAM wparam,
                                                        LPARAM lparam, LRESULT* result);

// Number of top-level window procedure delegates registered now.
FLUTTER_EXPORT size_t
FlutterStandinWindowProcDelegateCount(FlutterDesktopPluginRegistrarRef registrar);

// Sends and answers of every messenger of this process so far that the real embedder would
// not take: made off the platform thread (the thread that created the registrar; the real
// one logs an error for each), or once the registrar's destruction began (the real one has
// detached its engine by then).
FLUTTER_EXPORT void FlutterStandinGetMisplacedMessageCounts(size_t* off_platform_thread,
                                                            size_t* during_shutdown);

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // FLUTTER_STANDIN_HOST_H_
