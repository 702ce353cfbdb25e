// The process's elevation, and asking the user for it.
#pragma once

// Whether the current process token is elevated; false when the token cannot be read.
bool IsProcessElevated();

// Relaunches the running executable elevated ("runas", "--elevated") and asks this app to
// quit. False when the launch fails, for example when the user declines the prompt.
bool RequestElevationRestart();
