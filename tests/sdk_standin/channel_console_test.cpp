// The channel console end to end: started as a process with redirected standard input and
// output, driving the echo plug-in DLL with JSON lines.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_handle.h"
#include "json.h"

namespace {

using channel_console::Json;
using namespace std::chrono_literals;

std::wstring BinaryFolder() {
  wchar_t path[MAX_PATH];
  const DWORD size = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring full(path, size);
  return full.substr(0, full.find_last_of(L"\\/") + 1);
}

// A running console with pipes on its standard input and output.
class ConsoleProcess {
 public:
  explicit ConsoleProcess(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE child_in = nullptr, child_out = nullptr, our_in = nullptr, our_out = nullptr;
    if (!::CreatePipe(&child_in, &our_in, &inherit, 0)) return;
    UniqueHandle child_in_owner(child_in);
    input_.reset(our_in);
    if (!::CreatePipe(&our_out, &child_out, &inherit, 0)) return;
    UniqueHandle child_out_owner(child_out);
    output_.reset(our_out);
    ::SetHandleInformation(our_in, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(our_out, HANDLE_FLAG_INHERIT, 0);
    UniqueHandle null_device(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit,
                                           OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_in;
    startup.hStdOutput = child_out;
    startup.hStdError = null_device.get();
    std::wstring command_line = L"\"" + BinaryFolder() + L"channel_console.exe\" " + arguments;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &info)) {
      return;
    }
    process_.reset(info.hProcess);
    UniqueHandle thread(info.hThread);
    reader_ = std::thread([this] { ReadOutput(); });
  }

  ~ConsoleProcess() {
    input_.reset();
    if (process_ && ::WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) {
      ::TerminateProcess(process_.get(), 99);
    }
    if (reader_.joinable()) reader_.join();
  }

  bool started() const { return process_.valid(); }

  void Send(const std::string& line) {
    const std::string whole = line + "\n";
    DWORD written = 0;
    ::WriteFile(input_.get(), whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr);
  }

  void CloseInput() { input_.reset(); }

  // The next output line, or nullopt after `timeout`.
  std::optional<std::string> NextLine(std::chrono::milliseconds timeout = 30s) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [this] { return !lines_.empty() || ended_; }) ||
        lines_.empty()) {
      return std::nullopt;
    }
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }

  // The next JSON line whose "type" is `type`, skipping others (kept in `skipped`).
  std::optional<Json> Next(const std::string& type, std::vector<std::string>* skipped = nullptr,
                           std::chrono::milliseconds timeout = 30s) {
    for (;;) {
      auto line = NextLine(timeout);
      if (!line) return std::nullopt;
      Json json;
      std::string error;
      if (!line->empty() && (*line)[0] == '{' && channel_console::ParseJson(*line, &json, &error)) {
        const Json* line_type = json.Find("type");
        if (line_type && line_type->text == type) return json;
      }
      if (skipped) skipped->push_back(*line);
    }
  }

  DWORD WaitForExit() {
    if (::WaitForSingleObject(process_.get(), 30000) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  void ReadOutput() {
    std::string pending;
    size_t scanned = 0;  // bytes of `pending` known to hold no line feed
    std::vector<char> buffer(1 << 16);
    DWORD got = 0;
    while (::ReadFile(output_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                      nullptr) &&
           got > 0) {
      pending.append(buffer.data(), got);
      size_t start = 0;
      size_t newline;
      while ((newline = pending.find('\n', std::max(start, scanned))) != std::string::npos) {
        std::string line = pending.substr(start, newline - start);
        start = newline + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::move(line));
        changed_.notify_all();
      }
      pending.erase(0, start);
      scanned = pending.size();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  }

  UniqueHandle process_;
  UniqueHandle input_;
  UniqueHandle output_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

std::wstring EchoPluginArguments() {
  return L"--plugin \"" + BinaryFolder() + L"echo_plugin.dll\"";
}

std::string Text(const Json& json, const char* key) {
  const Json* member = json.Find(key);
  return member ? member->text : "";
}

TEST(ChannelConsoleTest, DrivesAPluginWithJsonLinesUntilInputEnds) {
  ConsoleProcess console(EchoPluginArguments());
  ASSERT_TRUE(console.started());
  auto ready = console.Next("ready");
  ASSERT_TRUE(ready.has_value());

  console.Send(
      R"({"op":"call","method":"echo","id":"e","args":{"n":{"$int64":5},"b":{"$uint8":"AP8="},"d":0.5}})");
  auto echo = console.Next("reply");
  ASSERT_TRUE(echo.has_value());
  EXPECT_EQ(Text(*echo, "status"), "success");
  EXPECT_EQ(Text(*echo, "id"), "e");
  const Json* result = echo->Find("result");
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->Find("n")->Find("$int64")->text, "5");
  EXPECT_EQ(result->Find("b")->Find("$uint8")->text, "AP8=");
  EXPECT_EQ(result->Find("d")->text, "0.5");

  // Events come from the plug-in's worker thread while the platform thread answers calls.
  console.Send(R"({"op":"listen"})");
  console.Send(R"({"op":"call","method":"emit","args":3})");
  int events = 0;
  int replies = 0;
  while (events < 4 || replies < 2) {
    auto line = console.NextLine();
    ASSERT_TRUE(line.has_value()) << events << " events, " << replies << " replies";
    if (line->rfind("{\"type\":\"event\"", 0) == 0) ++events;
    if (line->rfind("{\"type\":\"reply\"", 0) == 0) ++replies;
  }

  console.Send(R"({"op":"raw","bytes":"//8AAQ=="})");
  auto garbage = console.Next("reply");
  ASSERT_TRUE(garbage.has_value());
  EXPECT_EQ(Text(*garbage, "status"), "notImplemented");
  console.Send("this is not JSON");
  EXPECT_TRUE(console.Next("invalid").has_value());

  // End of input destroys the registrar: the plug-in's destructor logs, then the console ends.
  console.CloseInput();
  std::vector<std::string> skipped;
  ASSERT_TRUE(console.Next("bye", &skipped).has_value());
  EXPECT_NE(std::find(skipped.begin(), skipped.end(), "[Tidewire] echo plugin destroyed"),
            skipped.end());
  EXPECT_EQ(console.WaitForExit(), 0u);
}

// The console carries every test and the demo: a 16 MB message comes back whole. A console
// that rescanned its input per read would take hours here; the bound only catches that.
TEST(ChannelConsoleTest, LargeMessagesComeBackWhole) {
  ConsoleProcess console(EchoPluginArguments());
  ASSERT_TRUE(console.started());
  ASSERT_TRUE(console.Next("ready").has_value());
  std::string text(16000000, 'v');
  for (size_t i = 0; i < text.size(); i += 997) text[i] = static_cast<char>('a' + i % 26);
  console.Send(R"({"op":"call","method":"echo","id":"big","args":")" + text + "\"}");
  const auto reply = console.Next("reply", nullptr, 180s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->Find("result")->text, text);
  console.CloseInput();
  EXPECT_TRUE(console.Next("bye").has_value());
}

TEST(ChannelConsoleTest, QuitsOnRequestAndReportsWhatNeverGotAnAnswer) {
  ConsoleProcess console(EchoPluginArguments() + L" --no-view");
  ASSERT_TRUE(console.started());
  auto ready = console.Next("ready");
  ASSERT_TRUE(ready.has_value());
  EXPECT_EQ(ready->Find("view")->boolean, false);
  console.Send(R"({"op":"call","method":"never","id":1})");
  console.Send(R"({"op":"quit"})");
  auto abandoned = console.Next("reply");
  ASSERT_TRUE(abandoned.has_value());
  EXPECT_EQ(Text(*abandoned, "status"), "abandoned");
  EXPECT_TRUE(console.Next("bye").has_value());
  EXPECT_EQ(console.WaitForExit(), 0u);
}

TEST(ChannelConsoleTest, ReportsAPluginThatCannotBeLoaded) {
  ConsoleProcess console(L"--plugin \"" + BinaryFolder() + L"no_such_plugin.dll\"");
  ASSERT_TRUE(console.started());
  auto fatal = console.Next("fatal");
  ASSERT_TRUE(fatal.has_value());
  EXPECT_NE(Text(*fatal, "message").find("no_such_plugin.dll"), std::string::npos);
  EXPECT_EQ(console.WaitForExit(), 1u);
}

}  // namespace
