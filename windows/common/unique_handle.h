// Owners for Win32 handles: each closes its handle exactly once, on every path.
#pragma once

#include <windows.h>

#include <utility>

// Generic owner. `Traits` supplies Invalid() and Close(handle).
template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle handle) : handle_(handle) {}
  ~UniqueResource() { reset(); }

  UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Handle get() const { return handle_; }
  bool valid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return valid(); }

  Handle release() { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle handle = Traits::Invalid()) {
    Handle old = std::exchange(handle_, handle);
    if (Traits::IsValid(old)) Traits::Close(old);
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  // Kernel functions disagree on their failure value; neither is a handle to close.
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::RegCloseKey(h); }
};

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::LocalFree(h); }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::FindClose(h); }
};

struct IconTraits {
  using Handle = HICON;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::DestroyIcon(h); }
};

struct GdiBitmapTraits {
  using Handle = HBITMAP;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::DeleteObject(h); }
};

struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::DeleteDC(h); }
};

struct WindowTraits {
  using Handle = HWND;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::DestroyWindow(h); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
// A window; destroy it on the thread that created it.
using UniqueWindow = UniqueResource<WindowTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;       // FindFirstFileW
using UniqueIcon = UniqueResource<IconTraits>;                   // DestroyIcon
using UniqueBitmap = UniqueResource<GdiBitmapTraits>;            // DeleteObject
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;           // CreateCompatibleDC

// Holds a named mutex that this thread owns (also when it was abandoned by a dead owner)
// and releases it on destruction.
class NamedMutexLock {
 public:
  // Waits up to `timeout_ms` (INFINITE for no limit). owns() tells whether it got the mutex.
  NamedMutexLock(const wchar_t* name, DWORD timeout_ms) : mutex_(::CreateMutexW(nullptr, FALSE, name)) {
    if (!mutex_) return;
    const DWORD wait = ::WaitForSingleObject(mutex_.get(), timeout_ms);
    owns_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~NamedMutexLock() {
    if (owns_) ::ReleaseMutex(mutex_.get());
  }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

  bool created() const { return mutex_.valid(); }
  bool owns() const { return owns_; }

 private:
  UniqueHandle mutex_;
  bool owns_ = false;
};
