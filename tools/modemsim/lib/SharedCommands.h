// Commands that several families answer the same way: SIM status, new-message indications and
// the preferred message storage.
#pragma once

#include <string>
#include <string_view>
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

// The store's occupied indexes as a comma list, for the test form of AT+CMGD.
std::string UsedIndexes(const ModemState& state);

// A number a module dials: digits, '*', '#', an optional leading '+', at most 20 digits.
bool IsDialString(std::string_view number);

}  // namespace tidewire::sim
