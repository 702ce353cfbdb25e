#ifndef FLUTTER_EXPORT_H_
#define FLUTTER_EXPORT_H_

// Marks the embedder's C API: exported while building flutter_windows.dll (which defines
// FLUTTER_DESKTOP_LIBRARY), imported by everything that links against it.
#ifndef FLUTTER_EXPORT
#ifdef FLUTTER_DESKTOP_LIBRARY
#ifdef _WIN32
#define FLUTTER_EXPORT __declspec(dllexport)
#else
#define FLUTTER_EXPORT __attribute__((visibility("default")))
#endif
#else
#ifdef _WIN32
#define FLUTTER_EXPORT __declspec(dllimport)
#else
#define FLUTTER_EXPORT
#endif
#endif
#endif

#endif  // FLUTTER_EXPORT_H_
