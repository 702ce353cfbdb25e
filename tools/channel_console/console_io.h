// Standard input and output of the channel console. Output lines are written whole, each with
// one write to the handle under a lock, because replies and events come from several threads
// and the plug-in writes its own log lines to the same output. Input is read by a thread of
// its own so the platform thread keeps pumping window messages while nobody types.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "common/unique_handle.h"

namespace channel_console {

class LineWriter {
 public:
  LineWriter();
  // Writes `line` and a line feed.
  void WriteLine(const std::string& line);

 private:
  std::mutex mutex_;
  HANDLE output_;  // the process's standard output; not ours to close
};

class LineReader {
 public:
  LineReader();
  ~LineReader();

  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Signalled whenever a line (or the end of input) is waiting.
  HANDLE ready_event() const { return ready_.get(); }

  // Takes the next line without its line end; false when none is waiting. `*ended` turns true
  // once input has ended and every line was taken.
  bool TakeLine(std::string* line, bool* ended);

 private:
  void Run();

  UniqueHandle ready_;
  std::mutex mutex_;
  std::deque<std::string> lines_;
  bool ended_ = false;
  std::thread thread_;
};

}  // namespace channel_console
