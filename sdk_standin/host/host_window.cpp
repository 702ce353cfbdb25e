#include "host_window.h"

#include <flutter_standin_host.h>

namespace flutter_standin {

namespace {

constexpr wchar_t kWindowClassName[] = L"FlutterStandinHostWindow";

bool RegisterWindowClassOnce(WNDPROC window_proc) {
  static const bool registered = [window_proc] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClassName;
    return ::RegisterClassExW(&window_class) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

HostWindow::HostWindow() {
  if (!RegisterWindowClassOnce(&HostWindow::WindowProc)) return;
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  // Hidden, like the app's main window before it is shown.
  window_.reset(::CreateWindowExW(0, kWindowClassName, L"Flutter stand-in host",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 480,
                                  nullptr, nullptr, instance, this));
  if (!window_) {
    window_.reset(::CreateWindowExW(0, kWindowClassName, L"Flutter stand-in host", 0, 0, 0, 0, 0,
                                    HWND_MESSAGE, nullptr, instance, this));
  }
}

LRESULT CALLBACK HostWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<HostWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && self->registrar_) {
    LRESULT result = 0;
    if (FlutterStandinDispatchWindowMessage(self->registrar_, hwnd, message, wparam, lparam,
                                            &result)) {
      return result;
    }
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace flutter_standin
