#include "installed_apps/file_picker.h"

namespace installed_apps {

std::optional<std::wstring> PickExecutableFile(HWND owner, const OpenFileDialog& show) {
  wchar_t file[MAX_PATH] = {};
  // Pairs of label and pattern, each NUL-terminated, the list ending in an empty string.
  static const wchar_t kFilter[] = L"Programs (*.exe)\0*.exe\0All Files\0*.*\0";
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = kFilter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrTitle = L"Select application";
  dialog.Flags =
      OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  const bool chosen = show ? show(dialog) : ::GetOpenFileNameW(&dialog) != FALSE;
  if (!chosen) return std::nullopt;
  file[MAX_PATH - 1] = L'\0';  // a stand-in or a broken dialog must not make us read past it
  return std::wstring(file);
}

}  // namespace installed_apps
