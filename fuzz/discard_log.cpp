// Fuzz targets call code that logs; the lines are of no interest there.
#include "tunnel_log/tunnel_log.h"

void TunnelLogWrite(const std::string&) {}
