// The engine's route steps on the simulated home machine, with the tunnel adapter attached.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulated_host/home_machine.h"
#include "simulated_host/simulated_host.h"
#include "vpn_engine/host/engine_network_state.h"

class RouteWorld : public ::testing::Test {
 protected:
  RouteWorld() : host_(simhost::HomeMachineWithTunnelAdapter()) {
    engine_.host = host_.Seams();
    engine_.running = true;
  }

  // The commands run so far that start with `prefix`.
  std::vector<std::string> CommandsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const simhost::CommandRecord& record : host_.Commands()) {
      if (record.command.compare(0, prefix.size(), prefix) == 0) found.push_back(record.command);
    }
    return found;
  }

  simhost::SimulatedHost host_;
  zelvora::EngineNetworkState engine_;
};
