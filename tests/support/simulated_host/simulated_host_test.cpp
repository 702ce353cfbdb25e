// The simulated host is only worth what its strictness is worth: a command line of any form the
// engine must not emit fails the test. (What it copies of Windows is judged by the engine's
// tests and the seams' contract test.)
#include "simulated_host/simulated_host.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "simulated_host/home_machine.h"

namespace {

TEST(SimulatedHost, RejectsEveryCommandLineOfNoKnownForm) {
  const char* const malformed[] = {
      // An unsafe adapter name pasted into quotes breaks the quoting and reaches the shell.
      "netsh interface ipv4 set dns name=\"Lab \"VM\" & Test %PATH%\" static 1.1.1.1 primary "
      "validate=no",
      "netsh interface ipv4 set dns name=\"Ethernet\nroute DELETE 0.0.0.0\" dhcp",
      "netsh interface ipv4 set dns name=\"Ethernet\" static 1.1.1.300 primary validate=no",
      "netsh interface ipv4 set dns name=\"\" dhcp",
      // Routes, addresses and metrics go through IP Helper: no process start for them.
      "route ADD 203.0.113.10 MASK 255.255.255.255 192.168.178.1 METRIC 1",
      "netsh interface ipv4 set interface interface=\"Ethernet\" metric=1 store=active",
      "netsh advfirewall firewall add rule name=\"Zelvora Proxy Sharing\" dir=in action=allow "
      "protocol=TCP localport=1080, profile=private,domain remoteip=LocalSubnet",
      "ipconfig /flushdns ",
  };
  for (const char* line : malformed) {
    SCOPED_TRACE(line);
    simhost::SimulatedHost host(simhost::HomeMachine());
    const simhost::HostState before = host.Snapshot();
    bool ok = true;
    EXPECT_NONFATAL_FAILURE(ok = host.Run(line, 1500, false), "simulated host");
    EXPECT_FALSE(ok) << line;
    EXPECT_TRUE(host.Snapshot() == before) << line;
  }
  // A well-formed command for an adapter that is not there fails like netsh, without failing
  // the test; one for an adapter with non-ASCII letters reaches it.
  simhost::SimulatedHost host(simhost::HomeMachine());
  EXPECT_FALSE(host.Run("netsh interface ipv4 set dns name=\"WLAN Kuche\" dhcp", 1500, false));
  EXPECT_TRUE(
      host.Run("netsh interface ipv4 set dns name=\"WLAN K\xC3\xBC"
               "che\" dhcp",
               1500, false));
}

}  // namespace
