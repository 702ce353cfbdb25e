#include "vpn_engine/child_launch.h"

#include <filesystem>
#include <iostream>
#include <vector>

namespace {

struct Pipe {
  UniqueHandle read;
  UniqueHandle write;
};

// Inheritable pipe whose read end stays with this process.
bool MakeChildPipe(Pipe* pipe) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof(security);
  security.bInheritHandle = TRUE;
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!::CreatePipe(&read, &write, &security, 0)) return false;
  pipe->read.reset(read);
  pipe->write.reset(write);
  if (!::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0)) {
    pipe->read.reset();
    pipe->write.reset();
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<ChildProcess> LaunchPipedChild(const PipedChildOptions& options, OutputPump pump,
                                               DWORD* error) {
  Pipe out;
  Pipe err;
  if (!MakeChildPipe(&out)) std::cerr << options.stdout_pipe_failure << std::endl;
  if (!MakeChildPipe(&err)) std::cerr << options.stderr_pipe_failure << std::endl;

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out.write ? out.write.get() : ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = err.write ? err.write.get() : ::GetStdHandle(STD_ERROR_HANDLE);

  std::vector<char> line(options.command_line.begin(), options.command_line.end());
  line.push_back('\0');
  DWORD flags = CREATE_NO_WINDOW | options.extra_creation_flags;
  void* environment = nullptr;
  if (options.environment) {
    flags |= CREATE_UNICODE_ENVIRONMENT;
    environment = const_cast<wchar_t*>(options.environment->c_str());
  }
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(
          nullptr, line.data(), nullptr, nullptr, TRUE, flags, environment,
          options.working_directory.empty() ? nullptr : options.working_directory.c_str(), &startup,
          &info)) {
    if (error) *error = ::GetLastError();
    return nullptr;  // the pipes close with their owners
  }
  // The child holds its own copies of the write ends; ours must go, or the readers never see
  // the pipe break when the child ends.
  out.write.reset();
  err.write.reset();
  auto child =
      std::make_unique<ChildProcess>(UniqueHandle(info.hProcess), UniqueHandle(info.hThread),
                                     std::move(out.read), std::move(err.read));
  StartOutputPump(pump, child->TakeStdoutRead(), "stdout");
  StartOutputPump(pump, child->TakeStderrRead(), "stderr");
  return child;
}

std::wstring EnvironmentWith(const std::wstring& name, const std::wstring& value) {
  std::wstring block;
  wchar_t* strings = ::GetEnvironmentStringsW();
  const std::wstring prefix = name + L"=";
  if (strings) {
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
      const std::wstring text(entry);
      if (_wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0) continue;
      block += text;
      block.push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(strings);
  }
  block += prefix + value;
  block.push_back(L'\0');
  return block;  // c_str() adds the final NUL
}

std::shared_ptr<ChildProcess> ChildSlot::Get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return child_;
}

void ChildSlot::Replace(std::shared_ptr<ChildProcess> child) {
  std::shared_ptr<ChildProcess> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = std::exchange(child_, std::move(child));
  }
  if (old) old->Close();
}

std::shared_ptr<ChildProcess> ChildSlot::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(child_, nullptr);
}

std::string NarrowPath(const std::wstring& path) {
  try {
    return std::filesystem::path(path).string();
  } catch (...) {
    return std::string();
  }
}
