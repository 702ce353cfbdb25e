// Prints tunnel-log lines per second for one writer process and for two writing at once.
// Each line takes the named mutex and opens and closes the file, as every writer does.
//   log_throughput.exe [LINES_PER_WRITER [WRITER_EXE [BASELINE_WRITER_EXE]]]
// With a baseline (say, the writer of an earlier build copied beside this one), both run in
// turn and the ratio of their rates is printed.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace {

double RunWriters(const std::wstring& writer, int writers, int lines) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<UniqueHandle> children;
  for (int i = 0; i < writers; ++i) {
    std::wstring command = writer + L" bench" + std::to_wstring(i) + L" " + std::to_wstring(lines);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
      std::fprintf(stderr, "cannot start %ls (error %lu)\n", writer.c_str(), ::GetLastError());
      std::exit(1);
    }
    ::CloseHandle(info.hThread);
    children.emplace_back(info.hProcess);
  }
  for (auto& child : children) ::WaitForSingleObject(child.get(), INFINITE);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return writers * lines / seconds;
}

std::wstring Widen(const char* text) {
  std::wstring wide;
  for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return wide;
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 2000;
  const std::wstring writer = argc > 2 ? Widen(argv[2]) : L"log_writer.exe";
  const std::wstring baseline = argc > 3 ? Widen(argv[3]) : L"";
  // Warm-up: process start and first folder creation are not what is measured.
  RunWriters(writer, 1, 10);
  std::printf("tunnel log, %d lines per writer\n", lines);
  if (baseline.empty()) {
    const double one = RunWriters(writer, 1, lines);
    const double two = RunWriters(writer, 2, lines);
    std::printf("  one writer:   %8.0f lines/s\n", one);
    std::printf("  two writers:  %8.0f lines/s (together; %.2f x one writer)\n", two, two / one);
    return 0;
  }
  // Alternating rounds, so a machine that gets busier or quieter affects both alike.
  double ours = 0;
  double theirs = 0;
  for (int round = 0; round < 3; ++round) {
    theirs += RunWriters(baseline, 1, lines);
    ours += RunWriters(writer, 1, lines);
  }
  std::printf("  baseline:  %8.0f lines/s\n", theirs / 3);
  std::printf("  this one:  %8.0f lines/s (%.2f x the baseline)\n", ours / 3, ours / theirs);
  return 0;
}
