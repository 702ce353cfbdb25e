// Starting a long-lived child with its stdout and stderr on pipes read by detached threads.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "processes/child_process.h"
#include "processes/output_pump.h"
#include "processes/process_launch.h"

struct PipedChildOptions {
  std::wstring command_line;
  std::wstring working_directory;  // empty: this process's
  DWORD extra_creation_flags = 0;
  // UTF-16 environment block (NUL-separated, double NUL at the end); none: inherit ours.
  std::optional<std::wstring> environment;
  // Printed when a pipe cannot be made; the child then writes to our own handle.
  std::string stdout_pipe_failure;
  std::string stderr_pipe_failure;
};

// Creates the process hidden (LaunchProcess), with the pipes' write ends as its stdout and
// stderr, in the job that ends it with this process. On success the readers run `pump` and the
// record holds the process and thread handles. On failure the result is null and `error` (when
// given) the system's error code.
std::unique_ptr<ChildProcess> LaunchPipedChild(const PipedChildOptions& options, OutputPump pump,
                                               DWORD* error);

// This process's environment with `name`=`value` set (replacing an earlier value).
std::wstring EnvironmentWith(const std::wstring& name, const std::wstring& value);

// One child record that several threads reach: readers get their own reference, so replacing
// or dropping the record while another thread checks it never frees what that thread uses.
class ChildSlot {
 public:
  std::shared_ptr<ChildProcess> Get() const;
  // Puts `child` in place and gracefully closes the record it replaced.
  void Replace(std::shared_ptr<ChildProcess> child);
  // Takes the record out (for Kill or Close by the caller).
  std::shared_ptr<ChildProcess> Take();

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<ChildProcess> child_;
};
