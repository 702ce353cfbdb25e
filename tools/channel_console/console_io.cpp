#include "console_io.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace channel_console {

LineWriter::LineWriter() : output_(::GetStdHandle(STD_OUTPUT_HANDLE)) {}

void LineWriter::WriteLine(const std::string& line) {
  const std::string whole = line + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  // Whatever this program's C runtime still buffers goes out first, so lines appear in the
  // order they were made.
  std::fflush(stdout);
  DWORD written = 0;
  size_t offset = 0;
  while (offset < whole.size()) {
    if (!::WriteFile(output_, whole.data() + offset, static_cast<DWORD>(whole.size() - offset),
                     &written, nullptr) ||
        written == 0) {
      return;  // nobody reads our output any more
    }
    offset += written;
  }
}

LineReader::LineReader() : ready_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  thread_ = std::thread([this] { Run(); });
}

LineReader::~LineReader() {
  bool ended;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended = ended_;
  }
  // A read of an interactive console cannot be interrupted; when input has not ended (a
  // "quit" request) the process's exit ends the thread instead.
  if (ended) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

bool LineReader::TakeLine(std::string* line, bool* ended) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!lines_.empty()) {
    *line = std::move(lines_.front());
    lines_.pop_front();
    *ended = false;
    return true;
  }
  *ended = ended_;
  return false;
}

void LineReader::Run() {
  // Reads the raw handle rather than the C runtime's stdin, whose lock would otherwise stall
  // the process's exit while this thread waits for input.
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  std::string pending;
  // Bytes of `pending` already known to hold no line feed: a long line is scanned once, not
  // once per read, so reading stays linear in its length.
  size_t scanned = 0;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) ||
        got == 0) {
      break;
    }
    pending.append(buffer.data(), got);
    size_t start = 0;
    size_t newline;
    while ((newline = pending.find('\n', std::max(start, scanned))) != std::string::npos) {
      std::string line = pending.substr(start, newline - start);
      start = newline + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(std::move(line));
    }
    pending.erase(0, start);
    scanned = pending.size();
    ::SetEvent(ready_.get());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pending.empty()) lines_.push_back(pending);
  ended_ = true;
  ::SetEvent(ready_.get());
}

}  // namespace channel_console
