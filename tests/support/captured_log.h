// Portable code logs through TunnelLogWrite. Portable tests link this capture instead of the
// real file writer, so they can assert on the exact lines.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> CapturedLogLines();
void ClearCapturedLog();
// True when some captured line contains `needle`.
bool CapturedLogContains(const std::string& needle);
