// What the engine prints and logs of its children's output (no Win32).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bytes of one read, up to the first zero byte.
std::string_view UpToFirstZero(std::string_view block);

// A line of tun2socks output as the line to report, or nothing: trailing CR/LF removed, empty
// lines and lines at the chatty "info"/"debug" levels dropped.
std::optional<std::string> Tun2socksReportLine(std::string_view line);

// Cuts a child's output stream into its lines, whatever the reads' boundaries: a read that holds
// several lines gives several, a line split over reads comes out whole. One log line is thus one
// line of the child's output, and a child cannot start a log line of its own (with a forged
// time stamp) in the middle of one of ours. A line longer than the bound is cut there.
class OutputLineSplitter {
 public:
  static constexpr size_t kMaxLineBytes = 4096;
  // The complete lines `block` finishes (without their CR/LF), zero bytes cut as before.
  std::vector<std::string> Feed(std::string_view block);
  // What is left of an unfinished last line (the stream ended), or nothing.
  std::optional<std::string> Finish();

 private:
  std::string pending_;
};
