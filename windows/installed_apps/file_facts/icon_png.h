// Shell icons of files as PNG bytes, made with GDI+.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace installed_apps {

// Starts GDI+ once per process (a failure is remembered); true while it runs.
bool EnsureGdiplusStarted();

// Top-down 32-bit BGRA pixels of an icon.
struct IconPixels {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgra;
};

// The file's shell icon (or the generic icon for its type) at its own size, at most 512x512.
bool LoadShellIconPixels(const std::wstring& path, IconPixels& pixels);
// PNG bytes of the pixels, or empty when encoding fails or exceeds 2 MiB. Needs GDI+ running.
std::vector<uint8_t> EncodePixelsAsPng(const IconPixels& pixels);

// The whole path from file to PNG with the alpha repair; empty when any step fails.
std::vector<uint8_t> ExtractFileIconPng(const std::wstring& path);

}  // namespace installed_apps
