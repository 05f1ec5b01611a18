#include "CliOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tidewire_version.h"

namespace tidewire::cli {

namespace {

constexpr const char* kProgramUsage =
    "usage: tidewire COMMAND [OPTIONS]\n"
    "\n"
    "Sends and receives SMS through a GSM or CDMA modem module with the Tidewire library.\n"
    "The module's family is detected when the service starts.\n"
    "\n"
    "Commands:\n"
    "  send NUMBER TEXT   send one message and wait until the module confirms it\n"
    "  receive            print the messages waiting in the module (--follow: keep printing)\n"
    "  status             start the service, say whether the module answered, stop\n"
    "\n"
    "Where the module is (one of):\n"
    "  --device PATH      a serial device such as /dev/ttyUSB0\n"
    "  --port N           COM<N>, that is /dev/ttyS<N-1>\n"
    "  --sim FAMILY       a simulated module in this process: 666 (GSM), 870, 860 or 865\n"
    "\n"
    "Line settings (default 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control):\n"
    "  --baud N           a standard rate\n"
    "  --parity P         none, even, odd, mark or space\n"
    "  --data-bits N      5 to 8\n"
    "  --stop-bits S      1, 1.5 or 2\n"
    "  --flow F           none, rtscts, ctsdtr, dsrrts, dsrdtr or xonxoff\n"
    "\n"
    "Other options:\n"
    "  --sc NUMBER|card   the SMS centre for GSM modules (default: card, the SIM's number)\n"
    "  --trace FILE       append every byte to and from the module to FILE\n"
    "  --json             print results as JSON, for scripts\n"
    "  --library PATH     the library to load (default: $TIDEWIRE_LIBRARY, else\n"
    "                     " TIDEWIRE_LIBRARY_NAME
    " from the installed library folder or the\n"
    "                     loader's path)\n"
    "  --help             this text; COMMAND --help tells about one command\n"
    "  --version, -V      the version of this program and the library it belongs to\n"
    "\n"
    "Texts are taken and printed in the terminal's character set. Exit status: 0 success,\n"
    "1 the library or the module failed, 2 wrong arguments, 3 no outcome in time.\n";

constexpr const char* kSendUsage =
    "usage: tidewire send NUMBER TEXT [--timeout SECONDS] [OPTIONS]\n"
    "\n"
    "Queues TEXT (1 to 255 bytes) for NUMBER, shows the progress on standard error, and waits\n"
    "until the module confirms or refuses it. Prints the message id and the outcome. Exits 0\n"
    "only when the module confirmed the message, 1 when it failed, 3 when no outcome came within\n"
    "--timeout seconds (default 120).\n"
    "\n"
    "With --json: {\"id\": N, \"number\": ..., \"text\": ..., \"outcome\": \"sent\"|\"failed\"|\n"
    "\"timeout\", \"error\": ...}. See tidewire --help for the common options.\n";

constexpr const char* kReceiveUsage =
    "usage: tidewire receive [--follow] [--wait SECONDS] [--inject SENDER TEXT] [OPTIONS]\n"
    "\n"
    "Starts the service, takes the messages the module holds and prints each: sender, time\n"
    "and text. Without --follow it stops once nothing more has come for --wait seconds\n"
    "(default 5); with --follow it keeps printing messages as they arrive until interrupted.\n"
    "\n"
    "  --inject SENDER TEXT  with --sim: the simulated network delivers this message after the\n"
    "                        start (may be repeated); receive then waits for each of them\n"
    "\n"
    "With --json: an array of {\"sender\", \"time\", \"text\"} objects; with --follow one such\n"
    "object per line. See tidewire --help for the common options.\n";

constexpr const char* kStatusUsage =
    "usage: tidewire status [OPTIONS]\n"
    "\n"
    "Starts the service, which opens the port, checks that a module answers, identifies its\n"
    "family and checks the SIM, then stops it. Exits 0 when the service started, 1 with the\n"
    "library's reason when not. With --json: {\"started\": true|false, \"error\": ...}.\n"
    "See tidewire --help for the common options.\n";

// A whole decimal number in [low, high]; anything else (sign, blanks, suffix) is refused.
bool ParseNumber(const char* text, long low, long high, long& value) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high || text[0] == '+' ||
        text[0] == ' ') {
        return false;
    }
    value = parsed;
    return true;
}

struct Named {
    const char* name;
    int32_t value;
};

bool Lookup(std::string_view text, const Named* table, size_t count, int32_t& value) {
    for (size_t i = 0; i < count; ++i) {
        if (text == table[i].name) {
            value = table[i].value;
            return true;
        }
    }
    return false;
}

constexpr Named kParities[] = {{"even", 0}, {"mark", 1}, {"none", 2}, {"odd", 3}, {"space", 4}};
constexpr Named kStopBits[] = {{"1", 0}, {"1.5", 1}, {"2", 2}};
constexpr Named kFlows[] = {{"none", 0},   {"rtscts", 1}, {"ctsdtr", 2},
                            {"dsrrts", 3}, {"dsrdtr", 4}, {"xonxoff", 5}};
constexpr Named kFamilies[] = {
    {"666", 666}, {"gsm", 666}, {"870", 870}, {"860", 860}, {"865", 865}};

template <size_t N>
bool Lookup(std::string_view text, const Named (&table)[N], int32_t& value) {
    return Lookup(text, table, N, value);
}

}  // namespace

const char* UsageText(Command command) {
    switch (command) {
        case Command::Send:
            return kSendUsage;
        case Command::Receive:
            return kReceiveUsage;
        case Command::Status:
            return kStatusUsage;
        default:
            return kProgramUsage;
    }
}

bool ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error) {
    std::vector<const char*> positional;
    int places = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            positional.push_back(argv[i]);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--version" || argument == "-V") {
            options.version = true;
            continue;
        }
        if (argument == "--json") {
            options.json = true;
            continue;
        }
        if (argument == "--follow") {
            options.follow = true;
            continue;
        }
        // Every other option takes a value (--inject two).
        const int wanted = argument == "--inject" ? 2 : 1;
        if (i + wanted >= argc) {
            error = std::string(argument) + " needs " + (wanted == 2 ? "two values" : "a value");
            return false;
        }
        const char* const value = argv[i + 1];
        i += wanted;
        long number = 0;
        int32_t named = 0;
        if (argument == "--device") {
            options.device = value;
            ++places;
        } else if (argument == "--port") {
            if (!ParseNumber(value, 1, 256, number)) {
                error = "--port takes a number from 1 to 256";
                return false;
            }
            options.port = static_cast<int32_t>(number);
            ++places;
        } else if (argument == "--sim") {
            if (!Lookup(value, kFamilies, named)) {
                error = "--sim takes 666 (or gsm), 870, 860 or 865";
                return false;
            }
            options.simFamily = named;
            ++places;
        } else if (argument == "--baud") {
            if (!ParseNumber(value, 50, 4000000, number)) {
                error = "--baud takes a rate such as 9600 or 115200";
                return false;
            }
            options.baud = static_cast<uint32_t>(number);
        } else if (argument == "--parity") {
            if (!Lookup(value, kParities, options.parity)) {
                error = "--parity takes none, even, odd, mark or space";
                return false;
            }
        } else if (argument == "--data-bits") {
            if (!ParseNumber(value, 5, 8, number)) {
                error = "--data-bits takes 5, 6, 7 or 8";
                return false;
            }
            options.dataBits = static_cast<uint8_t>(number);
        } else if (argument == "--stop-bits") {
            if (!Lookup(value, kStopBits, options.stopBits)) {
                error = "--stop-bits takes 1, 1.5 or 2";
                return false;
            }
        } else if (argument == "--flow") {
            if (!Lookup(value, kFlows, options.flowControl)) {
                error = "--flow takes none, rtscts, ctsdtr, dsrrts, dsrdtr or xonxoff";
                return false;
            }
        } else if (argument == "--sc") {
            options.serviceCentre = value;
        } else if (argument == "--library") {
            options.library = value;
        } else if (argument == "--trace") {
            if (*value == '\0') {
                error = "--trace takes a file name";
                return false;
            }
            options.trace = value;
        } else if (argument == "--timeout") {
            if (!ParseNumber(value, 1, 86400, number)) {
                error = "--timeout takes a number of seconds from 1 to 86400";
                return false;
            }
            options.timeoutSeconds = static_cast<int>(number);
        } else if (argument == "--wait") {
            if (!ParseNumber(value, 1, 86400, number)) {
                error = "--wait takes a number of seconds from 1 to 86400";
                return false;
            }
            options.waitSeconds = static_cast<int>(number);
        } else if (argument == "--inject") {
            options.injections.emplace_back(value, argv[i]);
        } else {
            error = "unknown option " + std::string(argument);
            return false;
        }
    }

    if (positional.empty()) {
        if (options.help || options.version) {
            return true;
        }
        error = "no command given";
        return false;
    }
    const std::string_view command = positional[0];
    if (command == "send") {
        options.command = Command::Send;
    } else if (command == "receive") {
        options.command = Command::Receive;
    } else if (command == "status") {
        options.command = Command::Status;
    } else {
        error = "unknown command " + std::string(command);
        return false;
    }
    if (options.help || options.version) {
        return true;
    }

    const size_t operands = options.command == Command::Send ? 3 : 1;
    if (positional.size() != operands) {
        error = options.command == Command::Send ? "send takes a NUMBER and a TEXT"
                                                 : std::string(command) + " takes no operands";
        return false;
    }
    if (options.command == Command::Send) {
        options.number = positional[1];
        options.text = positional[2];
    }
    if (places != 1) {
        error = places == 0 ? "say where the module is: --device PATH, --port N or --sim FAMILY"
                            : "give only one of --device, --port and --sim";
        return false;
    }
    if (!options.injections.empty() &&
        (options.command != Command::Receive || options.simFamily == 0)) {
        error = "--inject works only with receive --sim";
        return false;
    }
    if (options.follow && options.command != Command::Receive) {
        error = "--follow works only with receive";
        return false;
    }
    return true;
}

}  // namespace tidewire::cli
