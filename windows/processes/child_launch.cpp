#include "processes/child_launch.h"

#include <filesystem>
#include <vector>

#include "common/console_line.h"

std::unique_ptr<ChildProcess> LaunchPipedChild(const PipedChildOptions& options, OutputPump pump,
                                               DWORD* error) {
  ChildPipe out;
  ChildPipe err;
  if (!MakeChildPipe(&out)) ConsoleLine(options.stdout_pipe_failure);
  if (!MakeChildPipe(&err)) ConsoleLine(options.stderr_pipe_failure);

  ProcessLaunch launch;
  launch.command_line = options.command_line;
  launch.working_directory = options.working_directory;
  launch.extra_creation_flags = options.extra_creation_flags;
  launch.environment = options.environment;
  launch.std_input = ::GetStdHandle(STD_INPUT_HANDLE);
  launch.std_output = out.write ? out.write.get() : ::GetStdHandle(STD_OUTPUT_HANDLE);
  launch.std_error = err.write ? err.write.get() : ::GetStdHandle(STD_ERROR_HANDLE);
  launch.end_with_this_process = true;
  LaunchedProcess info;
  if (!LaunchProcess(launch, &info, error)) return nullptr;  // the pipes close with their owners
  // The child holds its own copies of the write ends; ours must go, or the readers never see
  // the pipe break when the child ends.
  out.write.reset();
  err.write.reset();
  auto child = std::make_unique<ChildProcess>(std::move(info.process), std::move(info.thread),
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
