// The channel console: loads a plug-in DLL the way the Flutter embedder does, and drives it
// with JSON lines on standard input; replies and events come out as JSON lines on standard
// output. See README.md for the line format.
//
//   channel_console.exe [--plugin PATH] [--no-view]

#include <flutter_plugin_registrar.h>
#include <flutter_standin_host.h>
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "common/text_encoding.h"
#include "console_io.h"
#include "console_protocol.h"
#include "host_window.h"

namespace channel_console {
namespace {

constexpr char kRegistrationExport[] = "TidewirePluginRegisterWithRegistrar";
constexpr wchar_t kDefaultPluginName[] = L"zelvora_vless_windows_plugin.dll";

using RegisterFunction = void (*)(FlutterDesktopPluginRegistrarRef);

// Ctrl+C at a terminal ends the session like "quit", so the plug-in's destructor still runs.
std::atomic<bool> interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD control) {
  if (control != CTRL_C_EVENT && control != CTRL_BREAK_EVENT) return FALSE;
  interrupted = true;
  return TRUE;
}

struct Options {
  std::wstring plugin_path;
  bool with_view = true;
  bool show_help = false;
  std::string error;
};

std::wstring ExecutableFolder() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD size = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (size == 0) return L"";
    if (size < path.size()) {
      std::wstring full(path.data(), size);
      const size_t slash = full.find_last_of(L"\\/");
      return slash == std::wstring::npos ? L"" : full.substr(0, slash + 1);
    }
    path.resize(path.size() * 2);
  }
}

Options ParseOptions() {
  Options options;
  int argc = 0;
  UniqueLocalMemory argv_memory(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  auto** argv = static_cast<wchar_t**>(argv_memory.get());
  for (int i = 1; argv && i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--plugin" && i + 1 < argc) {
      options.plugin_path = argv[++i];
    } else if (arg == L"--no-view") {
      options.with_view = false;
    } else if (arg == L"--help" || arg == L"-h") {
      options.show_help = true;
    } else {
      options.error = "unknown option: " + WideToUtf8(arg);
    }
  }
  if (options.plugin_path.empty()) options.plugin_path = ExecutableFolder() + kDefaultPluginName;
  return options;
}

// One request awaiting the plug-in's reply; freed by the reply callback.
struct PendingRequest;

class Console {
 public:
  explicit Console(bool with_view) {
    if (with_view) window_ = std::make_unique<flutter_standin::HostWindow>();
    registrar_ = FlutterStandinCreateRegistrar(window_ ? window_->hwnd() : nullptr);
    if (window_) window_->set_registrar(registrar_);
    FlutterStandinSetMessageObserver(registrar_, &Console::OnPluginMessage, this);
  }

  ~Console() { Shutdown(); }

  FlutterDesktopPluginRegistrarRef registrar() const { return registrar_; }
  bool has_view() const { return window_ && window_->hwnd(); }
  LineWriter& out() { return out_; }

  // Reads and runs requests until "quit" or the end of input, pumping window messages all
  // along since this thread is the platform thread.
  void Run() {
    LineReader reader;
    int64_t next_id = 1;
    auto resume_at = std::chrono::steady_clock::now();
    Command waiting;  // the "wait" request being served
    bool in_wait = false;
    for (;;) {
      PumpMessages();
      if (interrupted) return;
      const auto now = std::chrono::steady_clock::now();
      if (in_wait && now >= resume_at) {
        in_wait = false;
        out_.WriteLine(FormatWaited(waiting));
      }
      if (!in_wait) {
        std::string line;
        bool ended = false;
        while (!in_wait && reader.TakeLine(&line, &ended)) {
          if (IsIgnorableLine(line)) continue;
          Command command;
          std::string error;
          if (!ParseCommand(line, next_id++, &command, &error)) {
            out_.WriteLine(FormatInvalid(error));
            continue;
          }
          if (command.op == Command::Op::kQuit) return;
          if (command.op == Command::Op::kWait) {
            waiting = command;
            in_wait = true;
            resume_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(command.ms);
            continue;
          }
          Execute(command);
          PumpMessages();
        }
        if (!in_wait && ended) return;
      }
      DWORD timeout = 100;
      if (in_wait) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              resume_at - std::chrono::steady_clock::now())
                              .count();
        timeout = static_cast<DWORD>(left < 0 ? 0 : (left > 100 ? 100 : left));
      }
      const HANDLE ready = reader.ready_event();
      ::MsgWaitForMultipleObjectsEx(1, &ready, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
  }

  // Destroys the registrar (the plug-in's destructor runs) and says goodbye, once.
  void Shutdown() {
    if (!registrar_) return;
    shutting_down_ = true;
    FlutterStandinDestroyRegistrar(registrar_);
    registrar_ = nullptr;
    if (window_) window_->set_registrar(nullptr);
    out_.WriteLine(FormatBye());
  }

 private:
  void Execute(const Command& command);

  static void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }

  static void OnReply(const uint8_t* reply, size_t reply_size, void* user_data);

  static void OnPluginMessage(const char* channel, const uint8_t* message, size_t message_size,
                              void* user_data) {
    auto* console = static_cast<Console*>(user_data);
    console->out_.WriteLine(FormatPluginMessage(channel, message, message_size));
  }

  LineWriter out_;
  std::unique_ptr<flutter_standin::HostWindow> window_;
  FlutterDesktopPluginRegistrarRef registrar_ = nullptr;
  std::atomic<bool> shutting_down_{false};

  friend struct PendingRequest;
};

struct PendingRequest {
  Console* console;
  Command command;
};

void Console::OnReply(const uint8_t* reply, size_t reply_size, void* user_data) {
  std::unique_ptr<PendingRequest> pending(static_cast<PendingRequest*>(user_data));
  Console* console = pending->console;
  // Requests still open when the registrar goes are answered empty by the engine; they were
  // never answered by the plug-in, which the line says.
  const bool abandoned = console->shutting_down_ && reply_size == 0;
  console->out_.WriteLine(FormatReply(
      pending->command, flutter_standin::DecodeMethodReply(reply, reply_size), abandoned));
}

void Console::Execute(const Command& command) {
  if (command.op == Command::Op::kWindow) {
    LRESULT result = 0;
    const bool handled = FlutterStandinDispatchWindowMessage(
        registrar_, window_ ? window_->hwnd() : nullptr, command.message,
        static_cast<WPARAM>(command.wparam), static_cast<LPARAM>(command.lparam), &result);
    out_.WriteLine(FormatWindowReply(command, handled, result));
    return;
  }
  std::vector<uint8_t> bytes;
  switch (command.op) {
    case Command::Op::kCall:
      bytes = flutter_standin::EncodeMethodCall(command.method, command.args);
      break;
    case Command::Op::kListen:
      bytes = flutter_standin::EncodeMethodCall("listen", command.args);
      break;
    case Command::Op::kCancel:
      bytes = flutter_standin::EncodeMethodCall("cancel", command.args);
      break;
    default:
      bytes = command.bytes;
      break;
  }
  auto* pending = new PendingRequest{this, command};
  if (!FlutterStandinSendToPlugin(registrar_, command.channel.c_str(), bytes.data(), bytes.size(),
                                  &Console::OnReply, pending)) {
    delete pending;
    out_.WriteLine(FormatInvalid("the registrar is gone"));
  }
}

int RunConsole() {
  const Options options = ParseOptions();
  LineWriter usage_out;
  if (options.show_help || !options.error.empty()) {
    if (!options.error.empty()) usage_out.WriteLine(FormatFatal(options.error));
    usage_out.WriteLine(FormatFatal(
        "usage: channel_console [--plugin PATH] [--no-view]; requests are JSON lines, see "
        "tools/channel_console/README.md"));
    return options.show_help ? 0 : 2;
  }

  ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  Console console(options.with_view);
  // Loaded for the rest of the process's life, as an app keeps its plug-ins: threads the
  // plug-in leaves running must never find their code unmapped.
  const HMODULE plugin = ::LoadLibraryW(options.plugin_path.c_str());
  if (!plugin) {
    console.out().WriteLine(FormatFatal("cannot load " + WideToUtf8(options.plugin_path) +
                                        " (error " + std::to_string(::GetLastError()) + ")"));
    return 1;
  }
  const auto do_register =
      reinterpret_cast<RegisterFunction>(::GetProcAddress(plugin, kRegistrationExport));
  if (!do_register) {
    console.out().WriteLine(
        FormatFatal(WideToUtf8(options.plugin_path) + " does not export " + kRegistrationExport));
    return 1;
  }
  do_register(console.registrar());
  console.out().WriteLine(FormatReady(WideToUtf8(options.plugin_path), console.has_view()));
  console.Run();
  console.Shutdown();
  return 0;
}

}  // namespace
}  // namespace channel_console

int main() { return channel_console::RunConsole(); }
