// "getPhysicalUplinkFingerprint" and the tunnel state's adapterPresent, answered through the
// channel from the (simulated) host the plug-in runs on.
#include <functional>

#include "plugin_fixture.h"
#include "simulated_host/home_machine.h"
#include "simulated_host/simulated_host.h"
#include "vpn_engine/host/host_seams.h"

namespace zelvora::testing {
namespace {

using UplinkTest = PluginTest;

struct UplinkCase {
  const char* name;
  std::function<simhost::HostState()> machine;
  const char* fingerprint;
  bool adapter_present;
};

TEST_F(UplinkTest, FingerprintAndAdapterPresenceComeFromTheHost) {
  const UplinkCase cases[] = {
      {"home machine, tunnel adapter attached", simhost::HomeMachineWithTunnelAdapter,
       "192.168.178.1|12", true},
      // Which uplink wins is the route tests' matter; here the answer's way to the app.
      {"home machine, no tunnel adapter", simhost::HomeMachine, "192.168.178.1|12", false},
      {"no physical default route",
       [] {
         simhost::HostState state = simhost::HomeMachineWithTunnelAdapter();
         state.routes.clear();
         return state;
       },
       "", true},
  };
  for (const UplinkCase& c : cases) {
    SCOPED_TRACE(c.name);
    simhost::SimulatedHost host(c.machine());
    ScopedActiveHost seams(host.Seams());
    ExpectSuccess(Call("getPhysicalUplinkFingerprint"), EncodableValue(c.fingerprint));
    ExpectSuccess(Call("getVpnTunnelState"),
                  Map({{"running", EncodableValue(false)},
                       {"tunnelReady", EncodableValue(false)},
                       {"adapterPresent", EncodableValue(c.adapter_present)}}));
    EXPECT_TRUE(host.Commands().empty());  // a query changes nothing and runs nothing
  }
}

}  // namespace
}  // namespace zelvora::testing
