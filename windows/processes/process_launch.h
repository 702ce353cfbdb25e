// The one way this plug-in starts a program: CreateProcessW with a wide command line (so paths
// with any letters survive, whatever the ANSI code page), no window, and exactly the handles the
// child is meant to have. Long-lived children can be tied to this process's lifetime.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "common/unique_handle.h"

struct ProcessLaunch {
  std::wstring application;  // empty: the first word of the command line names the program
  std::wstring command_line;
  std::wstring working_directory;  // empty: this process's
  DWORD extra_creation_flags = 0;  // CREATE_NO_WINDOW is always set
  // UTF-16 environment block (NUL-separated, double NUL at the end); none: inherit ours.
  std::optional<std::wstring> environment;
  // The child's standard handles. Only these (the non-null, inheritable ones) are inherited:
  // an explicit handle list, so a launch on another thread never leaks its pipe ends into this
  // child (which would keep that other pipe open for as long as this child lives).
  HANDLE std_input = nullptr;
  HANDLE std_output = nullptr;
  HANDLE std_error = nullptr;
  // Put the child in the process-wide job that ends it when this process ends (crash or kill
  // included), for children meant to live as long as a session.
  bool end_with_this_process = false;
};

struct LaunchedProcess {
  UniqueHandle process;
  UniqueHandle thread;
  DWORD process_id = 0;
};

// Starts the program; false with `error` (when given) the system's error code.
bool LaunchProcess(const ProcessLaunch& launch, LaunchedProcess* launched, DWORD* error);

// True when `process` is one of this process's own long-lived children (in its lifetime job).
bool IsInProcessLifetimeJob(HANDLE process);

// An anonymous pipe whose write end the child inherits and whose read end stays here.
struct ChildPipe {
  UniqueHandle read;
  UniqueHandle write;
};
bool MakeChildPipe(ChildPipe* pipe);

// What a short command printed (standard output and error on one pipe, in order).
struct CapturedOutput {
  std::string text;
  bool timed_out = false;  // the program was ended at a limit
  bool truncated = false;  // it printed more than the bound; the rest was read and dropped
};

struct CaptureLimits {
  std::wstring working_directory;  // empty: this process's
  // Longest time spent reading output while the program runs; it is ended after that.
  DWORD read_ms = 3000;
  // After its output ended (pipe closed), how long it may take to exit before it is ended.
  DWORD exit_wait_ms = 1000;
  // Output kept; more is read (so the program never blocks on a full pipe) and dropped.
  size_t max_output_bytes = 1024 * 1024;
};

// Runs `command_line` hidden and collects its output while it runs, within the limits above.
// Never leaves it running, not even when this process dies meanwhile (it is in the lifetime
// job). False when it could not be started.
bool RunCapturedProcess(const std::wstring& command_line, const CaptureLimits& limits,
                        CapturedOutput* output);
