// What the user asked the command line for: the command, where the module is, the line
// settings, and each command's own options, parsed from argv with every mistake named.
#ifndef TIDEWIRE_TOOLS_CLI_CLIOPTIONS_H
#define TIDEWIRE_TOOLS_CLI_CLIOPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

namespace tidewire::cli {

enum class Command { None, Send, Receive, Status };

struct CliOptions {
    Command command = Command::None;
    bool help = false;
    bool version = false;

    // Where the module is: exactly one of the three.
    std::string device;
    int32_t port = 0;
    int simFamily = 0;  // 0: no simulator

    // Line settings as the library takes them: 115200 8N1, no flow control.
    uint32_t baud = 115200;
    int32_t parity = 2;
    uint8_t dataBits = 8;
    int32_t stopBits = 0;
    int32_t flowControl = 0;
    std::string serviceCentre = "card";

    std::string library;  // empty: $TIDEWIRE_LIBRARY, else the soname through the loader
    std::string trace;
    bool json = false;

    // send
    std::string number;
    std::string text;
    int timeoutSeconds = 120;

    // receive
    bool follow = false;
    int waitSeconds = 5;
    std::vector<std::pair<std::string, std::string>> injections;  // sender, text
};

// Fills options from argv. On a mistake returns false with a one-line reason in error.
bool ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error);

// The help of one command, or of the whole program for Command::None.
const char* UsageText(Command command);

}  // namespace tidewire::cli

#endif
