// Owner for Service Control Manager handles, which close with CloseServiceHandle rather than
// CloseHandle.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::CloseServiceHandle(h); }
};

using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;
