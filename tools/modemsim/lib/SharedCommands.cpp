#include "SharedCommands.h"

#include <algorithm>
#include <array>

#include "HexText.h"

namespace tidewire::sim {

CommandResult PinStatus(ModemState& state, const AtCommand& command) {
    if (command.form == CommandForm::Test) {
        return CommandResult::Ok();
    }
    if (!state.simPresent) {
        return CommandResult::Cme(cme::kSimNotInserted);
    }
    if (command.form == CommandForm::Read) {
        return CommandResult::Ok({"+CPIN: READY"});
    }
    // A PIN given while none is asked for.
    return CommandResult::Cme(cme::kOperationNotAllowed);
}

CommandResult NewMessageIndications(ModemState& state, const AtCommand& command) {
    static constexpr std::array<int, 5> kMaximum{3, 3, 3, 2, 1};
    switch (command.form) {
        case CommandForm::Read: {
            std::string line = "+CNMI: ";
            for (std::size_t i = 0; i < state.newMessageIndication.size(); ++i) {
                line += (i ? "," : "") + std::to_string(state.newMessageIndication[i]);
            }
            return CommandResult::Ok({line});
        }
        case CommandForm::Test:
            return CommandResult::Ok({"+CNMI: (0-3),(0-3),(0-3),(0-2),(0,1)"});
        case CommandForm::Set: {
            const auto parameters = SplitParameters(command.arguments);
            if (!parameters || parameters->empty() || parameters->size() > kMaximum.size()) {
                return CommandResult::Cms(cms::kOperationNotSupported);
            }
            std::array<int, 5> values = state.newMessageIndication;
            for (std::size_t i = 0; i < parameters->size(); ++i) {
                if ((*parameters)[i].text.empty()) {
                    continue;
                }
                const auto value = ParseInt((*parameters)[i].text);
                if (!value || *value < 0 || *value > kMaximum[i]) {
                    return CommandResult::Cms(cms::kOperationNotSupported);
                }
                values[i] = *value;
            }
            state.newMessageIndication = values;
            return CommandResult::Ok();
        }
        case CommandForm::Execute:
            break;
    }
    return CommandResult::Error();
}

std::string StoreUsage(const ModemState& state) {
    return std::to_string(state.store.Count()) + "," + std::to_string(state.store.Capacity());
}

std::string UsedIndexes(const ModemState& state) {
    std::string used;
    for (const int index : state.store.Indexes()) {
        used += (used.empty() ? "" : ",") + std::to_string(index);
    }
    return used;
}

bool IsDialString(std::string_view number) {
    std::size_t digits = 0;
    for (std::size_t i = 0; i < number.size(); ++i) {
        const char c = number[i];
        if (c == '+' && i == 0) {
            continue;
        }
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#')) {
            return false;
        }
        ++digits;
    }
    return digits >= 1 && digits <= 20;
}

ModemFamily::Handler PreferredStorage(std::vector<std::string> memories) {
    return [memories = std::move(memories)](ModemState& state, const AtCommand& command) {
        if (command.form == CommandForm::Test) {
            std::string list = "(";
            for (std::size_t i = 0; i < memories.size(); ++i) {
                list += (i ? ",\"" : "\"") + memories[i] + "\"";
            }
            list += ")";
            return CommandResult::Ok({"+CPMS: " + list + "," + list + "," + list});
        }
        if (!state.simPresent) {
            return CommandResult::Cms(cms::kSimNotInserted);
        }
        if (command.form == CommandForm::Read) {
            std::string line = "+CPMS: ";
            for (std::size_t i = 0; i < state.storages.size(); ++i) {
                line += (i ? ",\"" : "\"") + state.storages[i] + "\"," + StoreUsage(state);
            }
            return CommandResult::Ok({line});
        }
        if (command.form != CommandForm::Set) {
            return CommandResult::Error();
        }
        const auto parameters = SplitParameters(command.arguments);
        if (!parameters || parameters->empty() || parameters->size() > 3) {
            return CommandResult::Cms(cms::kOperationNotSupported);
        }
        std::array<std::string, 3> chosen = state.storages;
        for (std::size_t i = 0; i < parameters->size(); ++i) {
            const std::string name = ToUpperAscii((*parameters)[i].text);
            if (std::find(memories.begin(), memories.end(), name) == memories.end()) {
                return CommandResult::Cms(cms::kOperationNotSupported);
            }
            chosen[i] = name;
        }
        state.storages = chosen;
        const std::string usage = StoreUsage(state);
        return CommandResult::Ok({"+CPMS: " + usage + "," + usage + "," + usage});
    };
}

}  // namespace tidewire::sim
