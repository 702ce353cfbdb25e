// The saved state of the two name-resolution policy values and its file smhnr_restore.v1:
// "v1", smartExisted (0|1), smartValue, parallelExisted (0|1), parallelValue, each line ended
// by a single LF.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct NameResolutionPolicyBackup {
  bool active = false;  // applied by this process and not yet restored
  bool smartExisted = false;
  uint32_t smartValue = 0;
  bool parallelExisted = false;
  uint32_t parallelValue = 0;
};

std::string FormatNameResolutionBackup(const NameResolutionPolicyBackup& backup);

// The saved values (with `active` false), or nothing when the first line is not exactly "v1" or
// one of the four numbers does not read as an unsigned 32-bit decimal: a file that cannot be
// trusted to hold the user's values restores nothing.
std::optional<NameResolutionPolicyBackup> ParseNameResolutionBackup(std::string_view content);
