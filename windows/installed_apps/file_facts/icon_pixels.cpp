#include "installed_apps/file_facts/icon_pixels.h"

namespace installed_apps {

bool IconSizeAcceptable(int width, int height) {
  return width >= 1 && height >= 1 && width <= kMaxIconSide && height <= kMaxIconSide;
}

void RepairIconAlpha(std::vector<uint8_t>& bgra) {
  const size_t pixels = bgra.size() / 4;
  if (pixels == 0) return;
  size_t zero = 0;
  size_t partial = 0;
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t alpha = bgra[i * 4 + 3];
    if (alpha == 0) ++zero;
    if (alpha != 0 && alpha != 255) ++partial;
  }
  const bool all_zero = zero == pixels;
  const bool all_opaque = zero == 0 && partial == 0;
  if (!all_zero && !all_opaque) return;
  for (size_t i = 0; i < pixels; ++i) {
    uint8_t* px = &bgra[i * 4];
    if (px[0] < 8 && px[1] < 8 && px[2] < 8) {
      px[0] = px[1] = px[2] = px[3] = 0;
    } else {
      px[3] = 255;
    }
  }
}

}  // namespace installed_apps
