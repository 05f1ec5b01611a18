// Commands that several families answer the same way: SIM status, new-message indications and
// the preferred message storage.
#pragma once

#include <string>
#include <vector>

#include "ModemFamily.h"

namespace tidewire::sim {

// AT+CPIN: "+CPIN: READY", or +CME ERROR: 10 without a SIM.
CommandResult PinStatus(ModemState& state, const AtCommand& command);

// AT+CNMI: mode, mt, bm, ds, bfr.
CommandResult NewMessageIndications(ModemState& state, const AtCommand& command);

// AT+CPMS over the given memory names; every name reaches the one store of the module.
ModemFamily::Handler PreferredStorage(std::vector<std::string> memories);

// The store's "used,total" pair.
std::string StoreUsage(const ModemState& state);

}  // namespace tidewire::sim
