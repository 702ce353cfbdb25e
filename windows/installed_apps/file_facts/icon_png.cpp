#include "installed_apps/file_facts/icon_png.h"

#include <windows.h>
// These need windows.h first.
#include <objbase.h>
#include <objidl.h>
#include <shellapi.h>
#include <wrl/client.h>
// GDI+ expects the classic min/max helpers, which NOMINMAX removes from windows.h.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "common/com_apartment.h"
#include "common/unique_handle.h"
#include "installed_apps/file_facts/icon_pixels.h"
#include "installed_apps/rules/path_text.h"

namespace installed_apps {
namespace {

bool ReadBitmapInfo(HBITMAP bitmap, BITMAP& info) {
  return bitmap != nullptr &&
         ::GetObjectW(bitmap, sizeof(info), &info) == static_cast<int>(sizeof(info)) &&
         info.bmWidth > 0 && info.bmHeight != 0;
}

HICON GetShellIcon(const std::wstring& path) {
  // A program's shell icon is its own first icon, at the system's large icon size. Read
  // directly it costs a fraction of the shell's lookup, which also files every icon into the
  // shell's image lists. Files without an icon of their own (and files that cannot be read)
  // get the shell's answer: the generic icon of their type.
  if (IsValidAppExePath(path)) {
    HICON own = nullptr;
    if (::ExtractIconExW(path.c_str(), 0, &own, nullptr, 1) == 1 && own != nullptr) return own;
    if (own != nullptr) ::DestroyIcon(own);
  }
  SHFILEINFOW info{};
  if (::SHGetFileInfoW(path.c_str(), 0, &info, sizeof(info), SHGFI_ICON) && info.hIcon) {
    return info.hIcon;
  }
  info = SHFILEINFOW{};
  if (::SHGetFileInfoW(path.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof(info),
                       SHGFI_ICON | SHGFI_USEFILEATTRIBUTES) &&
      info.hIcon) {
    return info.hIcon;
  }
  return nullptr;
}

bool CopyColourBitmap(HBITMAP colour, IconPixels& pixels) {
  UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
  if (!dc) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = pixels.width;
  info.bmiHeader.biHeight = -pixels.height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const int rows = ::GetDIBits(dc.get(), colour, 0, static_cast<UINT>(pixels.height),
                               pixels.bgra.data(), &info, DIB_RGB_COLORS);
  return rows == pixels.height;
}

bool DrawIconPixels(HICON icon, IconPixels& pixels) {
  Gdiplus::Bitmap canvas(pixels.width, pixels.height, PixelFormat32bppARGB);
  if (canvas.GetLastStatus() != Gdiplus::Ok) return false;
  {
    Gdiplus::Graphics graphics(&canvas);
    if (graphics.GetLastStatus() != Gdiplus::Ok) return false;
    graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
    HDC dc = graphics.GetHDC();
    if (dc == nullptr) return false;
    const BOOL drawn =
        ::DrawIconEx(dc, 0, 0, icon, pixels.width, pixels.height, 0, nullptr, DI_NORMAL);
    graphics.ReleaseHDC(dc);
    if (!drawn) return false;
  }
  Gdiplus::Rect all(0, 0, pixels.width, pixels.height);
  Gdiplus::BitmapData data{};
  if (canvas.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) !=
      Gdiplus::Ok) {
    return false;
  }
  const size_t row_bytes = static_cast<size_t>(pixels.width) * 4;
  for (int y = 0; y < pixels.height; ++y) {
    std::memcpy(pixels.bgra.data() + y * row_bytes,
                static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                row_bytes);
  }
  canvas.UnlockBits(&data);
  return true;
}

bool FindPngEncoder(CLSID& clsid) {
  UINT count = 0;
  UINT bytes = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return false;
  std::vector<uint8_t> buffer(bytes);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, bytes, encoders) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (encoders[i].MimeType && std::wcscmp(encoders[i].MimeType, L"image/png") == 0) {
      clsid = encoders[i].Clsid;
      return true;
    }
  }
  return false;
}

}  // namespace

bool EnsureGdiplusStarted() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    // GDI+ stays up for the life of the process: icons may be asked for at any time, and
    // shutting it down while another worker encodes would pull it from under that worker.
    started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
  });
  return started;
}

bool LoadShellIconPixels(const std::wstring& path, IconPixels& pixels) {
  UniqueIcon icon;
  {
    zelvora::ScopedComApartment com(zelvora::ScopedComApartment::Threading::kSingle);
    icon.reset(GetShellIcon(path));
  }
  if (!icon) return false;
  ICONINFO info{};
  if (!::GetIconInfo(icon.get(), &info)) return false;
  UniqueBitmap colour(info.hbmColor);
  UniqueBitmap mask(info.hbmMask);

  int width = ::GetSystemMetrics(SM_CXICON);
  int height = ::GetSystemMetrics(SM_CYICON);
  BITMAP described{};
  if (ReadBitmapInfo(colour.get(), described)) {
    width = described.bmWidth;
    height = std::abs(described.bmHeight);
  } else if (ReadBitmapInfo(mask.get(), described)) {
    // A monochrome icon's mask holds the AND and the XOR image one above the other.
    width = described.bmWidth;
    height = std::abs(described.bmHeight) / 2;
  }
  if (!IconSizeAcceptable(width, height)) return false;

  pixels.width = width;
  pixels.height = height;
  pixels.bgra.assign(static_cast<size_t>(width) * height * 4, 0);
  if (colour && CopyColourBitmap(colour.get(), pixels)) return true;
  std::fill(pixels.bgra.begin(), pixels.bgra.end(), 0);
  return DrawIconPixels(icon.get(), pixels);
}

std::vector<uint8_t> EncodePixelsAsPng(const IconPixels& pixels) {
  if (!IconSizeAcceptable(pixels.width, pixels.height) ||
      pixels.bgra.size() != static_cast<size_t>(pixels.width) * pixels.height * 4) {
    return {};
  }
  CLSID png{};
  if (!FindPngEncoder(png)) return {};
  // GDI+ reads the buffer in place and never writes it.
  Gdiplus::Bitmap bitmap(pixels.width, pixels.height, pixels.width * 4, PixelFormat32bppARGB,
                         const_cast<BYTE*>(pixels.bgra.data()));
  if (bitmap.GetLastStatus() != Gdiplus::Ok) return {};

  Microsoft::WRL::ComPtr<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || !stream) return {};
  if (bitmap.Save(stream.Get(), &png, nullptr) != Gdiplus::Ok) return {};

  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return {};
  const ULONGLONG size = stat.cbSize.QuadPart;
  if (size < 1 || size > kMaxIconPngBytes) return {};
  LARGE_INTEGER start{};
  if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  ULONG read = 0;
  if (FAILED(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read)) ||
      read != bytes.size()) {
    return {};
  }
  return bytes;
}

std::vector<uint8_t> ExtractFileIconPng(const std::wstring& path) {
  if (path.empty() || !EnsureGdiplusStarted()) return {};
  IconPixels pixels;
  if (!LoadShellIconPixels(path, pixels)) return {};
  RepairIconAlpha(pixels.bgra);
  return EncodePixelsAsPng(pixels);
}

}  // namespace installed_apps
