// The record of a long-lived child (xray.exe, tun2socks.exe): its process and thread handles and
// the parent's ends of its output pipes until reader threads take them over.
#pragma once

#include <windows.h>

#include <mutex>
#include <optional>

#include "common/unique_handle.h"

// Every operation may be called from any thread at any time: the handles sit under a mutex,
// and Kill/Close take them out of the record before waiting, so a concurrent IsRunning sees
// either the live handle or none, never a closed (or reused) one.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(UniqueHandle process, UniqueHandle thread, UniqueHandle stdout_read,
               UniqueHandle stderr_read);
  ~ChildProcess() { Close(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // True while the process handle is held and its exit code reads STILL_ACTIVE.
  bool IsRunning() const;
  // The exit code once the process has ended; nothing while it runs or when no process is held.
  std::optional<DWORD> ExitCode() const;
  // Terminates at once and waits (bounded, see EndProcess) until it is gone; releases every
  // handle.
  void Kill();
  // Waits up to 1500 ms for the child to end, then ends it as Kill does; releases every handle.
  void Close();

  // Hands a pipe's read end to its reader (the record forgets it).
  UniqueHandle TakeStdoutRead();
  UniqueHandle TakeStderrRead();
  DWORD ProcessId() const;
  bool HasProcess() const;

 private:
  struct Handles {
    UniqueHandle process;
    UniqueHandle thread;
    UniqueHandle stdout_read;
    UniqueHandle stderr_read;
  };
  Handles TakeAll();

  mutable std::mutex mutex_;
  Handles handles_;
};

constexpr DWORD kStillActive = 259;
