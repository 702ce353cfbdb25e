#include "config_text/xray_core_contract.h"

#include "config_text/json_text.h"

namespace xray_core {

namespace {

// Position after `\d+` at `pos`, or `pos` when no digit stands there.
size_t SkipDigits(const std::string& text, size_t pos) {
  while (pos < text.size() && config_text::IsDigit(text[pos])) ++pos;
  return pos;
}

}  // namespace

std::string ParseCoreVersion(const std::string& output) {
  // `Xray\s+(\d+\.\d+\.\d+)`: every repeat is followed by a byte it cannot take, so the first
  // place where the whole shape fits is the answer.
  for (size_t at = output.find("Xray"); at != std::string::npos; at = output.find("Xray", at + 1)) {
    size_t pos = at + 4;
    const size_t blanks = pos;
    pos = config_text::SkipPatternSpaces(output, pos);
    if (pos == blanks) continue;
    const size_t begin = pos;
    bool ok = true;
    for (int part = 0; part < 3 && ok; ++part) {
      if (part > 0) {
        ok = pos < output.size() && output[pos] == '.';
        ++pos;
      }
      const size_t end = ok ? SkipDigits(output, pos) : pos;
      ok = ok && end > pos;
      pos = end;
    }
    if (ok) return output.substr(begin, pos - begin);
  }
  return {};
}

}  // namespace xray_core
