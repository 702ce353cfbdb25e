// Pixel rules for shell icons before they are encoded as PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace installed_apps {

// Icons larger than this on a side are refused rather than processed.
inline constexpr int kMaxIconSide = 512;
// Encoded icons above this size are refused.
inline constexpr size_t kMaxIconPngBytes = 2097152;

bool IconSizeAcceptable(int width, int height);

// Icons without an alpha channel come back from GDI with every alpha 0 (or every alpha 255):
// then near-black pixels (the usual background of such icons) become transparent and the rest
// opaque. Icons with real transparency are left alone. `bgra` holds 4 bytes per pixel.
void RepairIconAlpha(std::vector<uint8_t>& bgra);

}  // namespace installed_apps
