#include "CdmaFamilies.h"

#include "HexText.h"
#include "SharedCommands.h"

namespace tidewire::sim {

namespace {

// A vendor switch that takes 0 or 1 and reads back its value.
ModemFamily::Handler Switch(std::string name) {
    return [name = std::move(name)](ModemState& state, const AtCommand& command) {
        int& value = state.vendorSwitches[name];
        if (command.form == CommandForm::Read) {
            return CommandResult::Ok({name + ": " + std::to_string(value)});
        }
        const auto requested = ParseInt(command.arguments);
        if (command.form != CommandForm::Set || !requested ||
            (*requested != 0 && *requested != 1)) {
            return CommandResult::Error();
        }
        value = *requested;
        return CommandResult::Ok();
    };
}

}  // namespace

Family870::Family870() : ModemFamily(870, "MC870 CDMA 1X HW199") {
    Route("+CPIN", PinStatus);
    Route("+CNMI", NewMessageIndications);
    Route("+CPMS", PreferredStorage({"MT", "ME"}));
}

Family860::Family860() : ModemFamily(860, "CDMA MODEL 100") {
    Route("$SMSTYPE", Switch("$SMSTYPE"));
    Route("$MTRPTTYPE", Switch("$MTRPTTYPE"));
}

Family865::Family865() : ModemFamily(865, "CDMA MODEL 199") {}

}  // namespace tidewire::sim
