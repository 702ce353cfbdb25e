// Where a connection is made: through the tunnel service when it is installed, else in process.
#pragma once

#include "ipc/vpn_ipc_client.h"

// True exactly when the tunnel service is installed: every connection then goes through it.
inline bool ShouldUseTunnelService() { return zelvora::ipc::VpnIpcClient::IsServiceInstalled(); }
