// The Windows side of the Store-application bypass: listing an install folder's executables.
#pragma once

#include <string>
#include <vector>

#include "vpn_engine/injection/routing_rules.h"

// Names of the regular "*.exe" files in `folder` (UTF-8); empty when it cannot be listed.
std::vector<std::string> ListExeFilesInFolder(const std::string& folder);

// Adds the executables of a Store application's folder to `names` (see
// CollectStoreAppExecutables).
void ListStoreAppExecutables(const std::string& entry, TakenNames* taken,
                             std::vector<std::string>* names);
