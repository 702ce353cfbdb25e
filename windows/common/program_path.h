// The running program's own path, read wide: users install apps in folders whose names have
// letters the ANSI code page cannot hold (a narrow module name turns them into '?').
#pragma once

#include <string>

namespace zelvora {

// The full path of the process's executable; empty when it cannot be read.
std::wstring ProgramPath();
// The folder holding the executable, without a trailing separator; empty when unknown.
std::wstring ProgramFolder();

}  // namespace zelvora
