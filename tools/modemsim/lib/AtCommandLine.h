// Splits a command line ("AT" already removed) into its commands as modems do: basic commands
// such as E1 or Z, and extended ones such as +CMGF=0, chained with ";".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tidewire::sim {

enum class CommandForm {
    Execute,  // +CGMM, Z
    Read,     // +CMGF?
    Test,     // +CMGF=?
    Set,      // +CMGF=1, E1
};

struct AtCommand {
    std::string name;  // upper case: "E", "&F", "+CMGF", "$SMSTYPE"
    CommandForm form = CommandForm::Execute;
    std::string arguments;  // as written after "=" (after the letter for basic commands)
};

// Nothing for a line that does not parse; an empty list for a bare "AT".
std::optional<std::vector<AtCommand>> ParseCommandLine(std::string_view afterAt);

struct Parameter {
    std::string text;  // quotes removed
    bool quoted = false;
};

// Comma-separated parameters; commas inside quotes belong to the text. Nothing for an
// unterminated quote. An empty argument text gives no parameters.
std::optional<std::vector<Parameter>> SplitParameters(std::string_view arguments);

}  // namespace tidewire::sim
