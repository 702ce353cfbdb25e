// Ending a child process, the one way every owner of a child does it: give it time to end by
// itself, then terminate it and wait until it is really gone (its ports, files and pipe ends
// are released only then), never without a bound.
#pragma once

#include <windows.h>

// Waits up to `grace_ms` for `process` to end by itself. Then terminates it (through `job`
// when one is given, so whatever the process started ends with it; the process alone when
// that fails) and waits up to 3 s more. True when it ended within the grace time; false when
// it had to be terminated. `process` needs SYNCHRONIZE and PROCESS_TERMINATE access.
bool EndProcess(HANDLE process, DWORD grace_ms, HANDLE job = nullptr);
