// The Windows side of the Store-application bypass: listing an install folder's executables.
#pragma once

#include <string>
#include <vector>

// Names of the regular "*.exe" files in `folder` (UTF-8 in and out); empty when it cannot be
// listed. Folders and reparse points are left out: a junction or link planted in an app's
// folder under a program's name is not a program of that app. The engine's production
// environment hands this to the injection as its ExeFolderLister.
std::vector<std::string> ListExeFilesInFolder(const std::string& folder);
