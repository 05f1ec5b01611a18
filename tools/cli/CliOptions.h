// What the user asked the command line for: the command, where the module is, the line
// settings, and each command's own options. The options, their checks and every help text are
// declared once, with CLI11.
#ifndef TIDEWIRE_TOOLS_CLI_CLIOPTIONS_H
#define TIDEWIRE_TOOLS_CLI_CLIOPTIONS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/ModemSettings.h"

namespace tidewire::cli {

enum class Command { Send, Receive, Status };

struct CliOptions {
    Command command = Command::Status;

    // Where the module is (exactly one of the device, the port and the simulator), the line,
    // the service centre, the library and the trace.
    tools::ModemSettings modem;
    int simFamily = 0;  // 0: no simulator
    bool json = false;
    // Library options: long messages sent as concatenated parts and received parts joined
    // (send, receive); status reports asked for and waited for (send).
    bool longMessages = false;
    bool deliveryReports = false;

    // send
    std::string number;
    std::string text;
    int timeoutSeconds = 120;

    // receive
    bool follow = false;
    int waitSeconds = 5;
    std::vector<std::pair<std::string, std::string>> injections;  // sender, text
};

// Fills options from argv. Returns -1 when the command is to run; otherwise the exit status,
// having printed what was asked (--help, --version: 0) or the mistake (2).
int ParseCliOptions(int argc, char** argv, CliOptions& options);

// The device the module is on, as the user named it, for messages.
std::string DeviceName(const CliOptions& options);

}  // namespace tidewire::cli

#endif
