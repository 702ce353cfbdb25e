// The production seams, one set for the process, replaced only by tests.
#include "vpn_engine/host/adapter_driver_win32.h"
#include "vpn_engine/host/command_runner_win32.h"
#include "vpn_engine/host/host_network_win32.h"
#include "vpn_engine/host/host_seams.h"
#include "vpn_engine/host/windows_filtering_engine.h"

namespace zelvora {

HostSeams& ActiveHost() {
  // Never destroyed: the seams may be used by threads still running at process exit.
  static Win32HostNetwork* network = new Win32HostNetwork();
  static Win32CommandRunner* commands = new Win32CommandRunner();
  static Win32AdapterDriver* driver = new Win32AdapterDriver();
  static WindowsFilteringEngine* filtering = new WindowsFilteringEngine();
  static HostSeams seams{network, commands, driver, filtering};
  return seams;
}

}  // namespace zelvora
