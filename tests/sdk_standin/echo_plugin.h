// A tiny plug-in for testing the stand-in SDK and the channel console, written only against
// the public client wrapper like a real plug-in. Channel "tidewire" methods:
//   "echo"        answers success with the arguments
//   "fail"        answers error "TEST_ERROR"; a string argument becomes the message
//   "later"       answers success with the arguments from a worker thread
//   "never"       keeps the result and never answers
//   "emit"        (int n) sends n events [i] on "tidewire/status" from a worker thread,
//                 then answers success with n
//   "errorEvent"  sends an error event "EVENT_ERROR" / "bad"
//   "endStream"   sends end of stream
//   "addDelegate" ({"message": int, "value": int or null}) registers a window delegate that
//                 answers `value` (null: lets the message pass) for `message`; returns its id
//   "removeDelegate" (int id)
//   "postToUi"    posts a message to the view's window; its delegate sends event "ui"
//   "hasView"     answers whether the registrar has a view
// "tidewire/status": listen sends the event "listening"; listen with "refuse" fails.
// Destroying the plug-in prints "[Tidewire] echo plugin destroyed" and counts.
#pragma once

#include <flutter_plugin_registrar.h>

// Registers the plug-in with the registrar, as a registration function does.
void EchoPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);

// Number of echo plug-ins destroyed in this process (or this DLL).
int EchoPluginDestroyedCount();
