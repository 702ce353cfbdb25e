// Changes to a HostState that several parts of the simulated host make the way Windows makes
// them (an address with its on-link routes, an adapter leaving with its routes).
#pragma once

#include <cstdint>
#include <string>

#include "simulated_host/host_state.h"
#include "simulated_host/sim_text.h"

namespace simhost {

uint32_t MaskOfLength(uint8_t length);
// Adds a static address with the three on-link routes Windows creates for it.
void AddAddress(HostState& state, Adapter& adapter, const std::string& text, uint8_t prefix,
                bool active_only);
// Removes every address of the adapter, and their on-link routes.
void RemoveAddresses(HostState& state, Adapter& adapter);
// Removes the adapter, its routes and its device. What netsh wrote to the persistent store for
// it stays there, keyed by its device instance, for the next adapter of that instance.
void RemoveAdapter(HostState& state, const std::wstring& instance_id);
// The persistent store's entry for the adapter's device instance (made when there is none).
StoredInterface& StoredFor(HostState& state, const Adapter& adapter);
// Applies what the persistent store holds for the adapter's device instance (at its arrival).
void ApplyStoredSettings(HostState& state, Adapter& adapter);

}  // namespace simhost
