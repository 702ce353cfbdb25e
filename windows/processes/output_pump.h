// Reader threads for a child's stdout and stderr pipes. Each is detached, owns its read end and
// nothing else, and ends when the pipe breaks (the child ended or the last write end closed).
#pragma once

#include <string>

#include "common/unique_handle.h"

// Prints "[Xray <stream>] " + each block read, as read.
void PumpXrayOutput(UniqueHandle pipe, const std::string& stream_name);
// Prints and logs tun2socks blocks that are not at the info/debug levels.
void PumpTun2socksOutput(UniqueHandle pipe, const std::string& stream_name);

// Starts a detached thread running one of the pumps above; a null handle starts nothing.
using OutputPump = void (*)(UniqueHandle, const std::string&);
void StartOutputPump(OutputPump pump, UniqueHandle pipe, const std::string& stream_name);
