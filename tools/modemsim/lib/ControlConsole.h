// The text commands that steer a running simulator: one line in, the answer text out. The
// tidewire-modemsim program reads them from stdin or a FIFO; tests can call Execute directly.
#pragma once

#include <string>
#include <string_view>

#include "ModemEngine.h"
#include "PtyModem.h"

namespace tidewire::sim {

class ControlConsole {
  public:
    struct Outcome {
        std::string output;  // lines ending in "\n"; failures start with "error: "
        bool quit = false;
    };

    // The pty may be null; hang-up commands then report an error.
    ControlConsole(ModemEngine& engine, PtyModem* pty) : engine_(engine), pty_(pty) {}

    Outcome Execute(std::string_view line);
    static std::string Help();

  private:
    Outcome Inject(std::string_view verb, std::string_view arguments);
    Outcome InjectParts(std::string_view arguments);
    Outcome Report(std::string_view verb, std::string_view arguments);
    Outcome Fault(std::string_view arguments);
    std::string ListSent() const;
    std::string ListStore() const;

    ModemEngine& engine_;
    PtyModem* pty_;
};

// Shows control characters of a text as \r, \n, \xNN, so that one message stays on one line;
// with insideQuotes, double quotes become \" too. UTF-8 text passes unchanged.
std::string EscapeForDisplay(std::string_view text, bool insideQuotes = false);
// Reads \r, \n, \t, \\ and \xNN escapes.
std::string UnescapeArgument(std::string_view text);

}  // namespace tidewire::sim
