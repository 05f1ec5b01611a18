#include "ModemFamily.h"

#include <stdexcept>

#include "CdmaFamilies.h"
#include "GsmFamily.h"
#include "HexText.h"

namespace tidewire::sim {

namespace {

// A command that prints one fixed line when executed and accepts its test form.
ModemFamily::Handler FixedText(std::string text) {
    return [text = std::move(text)](ModemState&, const AtCommand& command) {
        switch (command.form) {
            case CommandForm::Execute:
                return CommandResult::Ok({text});
            case CommandForm::Test:
                return CommandResult::Ok();
            default:
                return CommandResult::Error();
        }
    };
}

// Basic commands with a single digit: the digit must be one of `accepted`.
bool BasicValue(const AtCommand& command, std::string_view accepted, int& value) {
    if (command.form == CommandForm::Execute) {
        value = 0;
    } else if (command.form == CommandForm::Set && command.arguments.size() == 1) {
        value = command.arguments[0] - '0';
    } else {
        return false;
    }
    return accepted.find(static_cast<char>('0' + value)) != std::string_view::npos;
}

CommandResult Echo(ModemState& state, const AtCommand& command) {
    int value = 0;
    if (!BasicValue(command, "01", value)) {
        return CommandResult::Error();
    }
    state.echo = value == 1;
    return CommandResult::Ok();
}

// Only verbose, non-quiet result codes are offered: V1 and Q0 are accepted, V0 and Q1 refused.
CommandResult OnlyValue(const AtCommand& command, std::string_view accepted) {
    int value = 0;
    return BasicValue(command, accepted, value) ? CommandResult::Ok() : CommandResult::Error();
}

CommandResult Reset(ModemState& state, const AtCommand& command) {
    int value = 0;
    if (!BasicValue(command, "0", value)) {
        return CommandResult::Error();
    }
    state.ResetSettings();
    return CommandResult::Ok();
}

CommandResult ErrorMode(ModemState& state, const AtCommand& command) {
    switch (command.form) {
        case CommandForm::Read:
            return CommandResult::Ok({"+CMEE: " + std::to_string(state.errorMode)});
        case CommandForm::Test:
            return CommandResult::Ok({"+CMEE: (0-2)"});
        case CommandForm::Set: {
            const auto value = ParseInt(command.arguments);
            if (!value || *value < 0 || *value > 2) {
                return CommandResult::Error();
            }
            state.errorMode = *value;
            return CommandResult::Ok();
        }
        case CommandForm::Execute:
            state.errorMode = 0;
            return CommandResult::Ok();
    }
    return CommandResult::Error();
}

}  // namespace

CommandResult CommandResult::Ok(std::vector<std::string> lines) {
    CommandResult result;
    result.lines = std::move(lines);
    return result;
}

CommandResult CommandResult::Error() {
    CommandResult result;
    result.kind = Kind::Error;
    return result;
}

CommandResult CommandResult::Cms(int code) {
    CommandResult result;
    result.kind = Kind::CmsError;
    result.code = code;
    return result;
}

CommandResult CommandResult::Cme(int code) {
    CommandResult result;
    result.kind = Kind::CmeError;
    result.code = code;
    return result;
}

CommandResult CommandResult::Prompt(TextEntry entry) {
    CommandResult result;
    result.kind = Kind::Prompt;
    result.entry = std::move(entry);
    return result;
}

ModemFamily::ModemFamily(int code, std::string modelText)
    : code_(code), modelText_(std::move(modelText)) {
    Route("E", Echo);
    Route("V", [](ModemState&, const AtCommand& c) { return OnlyValue(c, "1"); });
    Route("Q", [](ModemState&, const AtCommand& c) { return OnlyValue(c, "0"); });
    Route("Z", Reset);
    Route("&F", Reset);
    Route("I", [this](ModemState&, const AtCommand& command) {
        int value = 0;
        if (!BasicValue(command, "0", value)) {
            return CommandResult::Error();
        }
        return CommandResult::Ok({std::string(kManufacturer), modelText_, std::string(kRevision)});
    });
    for (const char* name : {"+GMM", "+CGMM"}) {
        Route(name, FixedText(modelText_));
    }
    for (const char* name : {"+GMI", "+CGMI"}) {
        Route(name, FixedText(std::string(kManufacturer)));
    }
    for (const char* name : {"+GMR", "+CGMR"}) {
        Route(name, FixedText(std::string(kRevision)));
    }
    for (const char* name : {"+GSN", "+CGSN"}) {
        Route(name, FixedText(std::string(kImei)));
    }
    Route("+CMEE", ErrorMode);
}

void ModemFamily::Route(const std::string& name, Handler handler) {
    routes_[name] = std::move(handler);
}

CommandResult ModemFamily::Execute(ModemState& state, const AtCommand& command) const {
    const auto route = routes_.find(command.name);
    if (route == routes_.end()) {
        return CommandResult::Error();
    }
    return route->second(state, command);
}

CommandResult ModemFamily::FinishEntry(ModemState&, const TextEntry&, std::string_view) const {
    return CommandResult::Error();
}

std::string ModemFamily::NewMessageIndication(const ModemState&, int) const {
    return "";
}

std::vector<std::string> ModemFamily::BuildDelivery(const IncomingMessage& message,
                                                    const DeliverOptions& options) const {
    return BuildDeliverPdus(message, options);
}

std::string ModemFamily::RefusePdu(std::string_view, bool) const {
    return "";
}

void ModemFamily::MakeRoom(ModemState&, int) const {}

InjectResult ModemFamily::DeliverStatusReport(ModemState&, const std::string&) const {
    InjectResult result;
    result.error = "this module takes no status reports";
    return result;
}

std::unique_ptr<ModemFamily> MakeFamily(int code) {
    switch (code) {
        case 666:
            return std::make_unique<GsmFamily>();
        case 870:
            return std::make_unique<Family870>();
        case 860:
            return std::make_unique<Family860>();
        case 865:
            return std::make_unique<Family865>();
        default:
            throw std::invalid_argument("unknown module family " + std::to_string(code) +
                                        " (use 666, 870, 860 or 865)");
    }
}

}  // namespace tidewire::sim
