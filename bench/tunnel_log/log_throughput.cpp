// Prints tunnel-log lines per second for one writer process and for two writing at once.
// Each line takes the named mutex and opens and closes the file, as every writer does.
//   log_throughput.exe [LINES_PER_WRITER]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace {

double RunWriters(int writers, int lines) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<UniqueHandle> children;
  for (int i = 0; i < writers; ++i) {
    std::wstring command =
        L"log_writer.exe bench" + std::to_wstring(i) + L" " + std::to_wstring(lines);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
      std::fprintf(stderr, "cannot start log_writer.exe (error %lu)\n", ::GetLastError());
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

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 2000;
  // Warm-up: process start and first folder creation are not what is measured.
  RunWriters(1, 10);
  const double one = RunWriters(1, lines);
  const double two = RunWriters(2, lines);
  std::printf("tunnel log, %d lines per writer\n", lines);
  std::printf("  one writer:   %8.0f lines/s\n", one);
  std::printf("  two writers:  %8.0f lines/s (together; %.2f x one writer)\n", two, two / one);
  return 0;
}
