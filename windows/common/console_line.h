// One line on standard error: the console a developer sees while running the app. The user
// never sees it; what matters later goes to the tunnel log as well.
#pragma once

#include <iostream>
#include <string_view>

inline void ConsoleLine(std::string_view line) {
  try {
    std::cerr << line << std::endl;
  } catch (...) {
    // A console that cannot be written to must not end a connect or a stop.
  }
}
