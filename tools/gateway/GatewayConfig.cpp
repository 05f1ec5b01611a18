#include "GatewayConfig.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "tidewire_version.h"

namespace tidewire::gateway {

namespace {

constexpr const char* kUsage =
    "usage: tidewire-gateway [--config FILE] (--device PATH | --port N) [OPTIONS]\n"
    "       tidewire-gateway --check [--config FILE] [OPTIONS]\n"
    "       tidewire-gateway --queue NUMBER TEXT [--config FILE] [--store STORE]\n"
    "\n"
    "Drives one modem module through the Tidewire library: sends the messages queued in the\n"
    "store's outbox, writes back their outcomes, and writes every received message into the\n"
    "inbox. Several gateways may share one PostgreSQL store. Stops cleanly on SIGTERM or\n"
    "SIGINT. Logs to standard error (to the journal under systemd).\n"
    "\n"
    "Where the module is (one of):\n"
    "  --device PATH      a serial device such as /dev/ttyUSB0\n"
    "  --port N           COM<N>, that is /dev/ttyS<N-1>\n"
    "\n"
    "Line settings (default 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control):\n"
    "  --baud N, --data-bits N, --parity none|even|odd|mark|space, --stop-bits 1|1.5|2,\n"
    "  --flow none|rtscts|ctsdtr|dsrrts|dsrdtr|xonxoff\n"
    "  --sc NUMBER|card   the SMS centre for GSM modules (default: card, the SIM's number)\n"
    "\n"
    "The store and the gateway:\n"
    "  --store STORE      an SQLite file (default /var/lib/tidewire/sms.db) or a\n"
    "                     postgresql://user@host/database URI\n"
    "  --name NAME        this gateway's name, unique among those sharing the store\n"
    "                     (default: <host name>-<device>)\n"
    "  --library PATH     the library to load (default: $TIDEWIRE_LIBRARY, else\n"
    "                     " TIDEWIRE_LIBRARY_NAME
    " from this program's library folder or the\n"
    "                     loader's search path)\n"
    "  --poll SECONDS     how long an idle gateway waits before looking at the outbox again\n"
    "                     (default 1; decimals allowed)\n"
    "  --lease SECONDS    how long a claimed row stays this gateway's unless renewed\n"
    "                     (default 60; another gateway takes the row over after it)\n"
    "  --trace FILE       append the modem dialogue to FILE\n"
    "  --verbose          also log each claim, send and received message\n"
    "  --config FILE      read these settings from FILE first, one \"key = value\" a line\n"
    "                     with the option's name as key (device = /dev/ttyUSB0)\n"
    "\n"
    "  --check            validate the configuration, the library and the store, then exit\n"
    "                     (0 when all is well); the store is not changed\n"
    "  --queue NUMBER TEXT  insert one message into the outbox and print its row id\n"
    "  --version, -V      the version of this program\n"
    "  --help             this text\n";

// A whole decimal number in [low, high]; anything else (sign, blanks, suffix) is refused.
bool ParseWhole(const std::string& text, long low, long high, long& value) {
    if (text.empty() || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

struct Named {
    const char* name;
    int32_t code;
};

constexpr Named kParityCodes[] = {{"even", 0}, {"mark", 1}, {"none", 2}, {"odd", 3}, {"space", 4}};
constexpr Named kStopBitCodes[] = {{"1", 0}, {"1.5", 1}, {"2", 2}};
constexpr Named kFlowCodes[] = {{"none", 0},   {"rtscts", 1}, {"ctsdtr", 2},
                                {"dsrrts", 3}, {"dsrdtr", 4}, {"xonxoff", 5}};

template <size_t N>
bool FindCode(const std::string& text, const Named (&table)[N], int32_t& code) {
    for (const Named& entry : table) {
        if (text == entry.name) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

bool ParseSwitch(const std::string& text, bool& value) {
    if (text == "yes" || text == "true" || text == "on" || text == "1") {
        value = true;
        return true;
    }
    if (text == "no" || text == "false" || text == "off" || text == "0") {
        value = false;
        return true;
    }
    return false;
}

// Sets one setting by its option name (without "--"), from the file or the command line.
bool Apply(const std::string& key, const std::string& value, GatewayConfig& config,
           std::string& error) {
    long number = 0;
    if (key == "device") {
        config.device = value;
        config.port = 0;
    } else if (key == "port") {
        if (!ParseWhole(value, 1, 256, number)) {
            error = "port takes a number from 1 to 256";
            return false;
        }
        config.port = static_cast<int32_t>(number);
        config.device.clear();
    } else if (key == "baud") {
        if (!ParseWhole(value, 50, 4000000, number)) {
            error = "baud takes a rate such as 9600 or 115200";
            return false;
        }
        config.baud = static_cast<uint32_t>(number);
    } else if (key == "parity") {
        if (!FindCode(value, kParityCodes, config.parity)) {
            error = "parity takes none, even, odd, mark or space";
            return false;
        }
    } else if (key == "data-bits") {
        if (!ParseWhole(value, 5, 8, number)) {
            error = "data-bits takes 5, 6, 7 or 8";
            return false;
        }
        config.dataBits = static_cast<uint8_t>(number);
    } else if (key == "stop-bits") {
        if (!FindCode(value, kStopBitCodes, config.stopBits)) {
            error = "stop-bits takes 1, 1.5 or 2";
            return false;
        }
    } else if (key == "flow") {
        if (!FindCode(value, kFlowCodes, config.flowControl)) {
            error = "flow takes none, rtscts, ctsdtr, dsrrts, dsrdtr or xonxoff";
            return false;
        }
    } else if (key == "sc") {
        config.serviceCentre = value;
    } else if (key == "store") {
        config.store = value;
    } else if (key == "name") {
        config.name = value;
    } else if (key == "library") {
        config.library = value;
    } else if (key == "trace") {
        config.trace = value;
    } else if (key == "verbose") {
        if (!ParseSwitch(value, config.verbose)) {
            error = "verbose takes yes or no";
            return false;
        }
    } else if (key == "poll") {
        char* end = nullptr;
        const double seconds = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0.05 ||
            seconds > 3600) {
            error = "poll takes a number of seconds from 0.05 to 3600";
            return false;
        }
        config.pollMilliseconds = static_cast<int>(seconds * 1000);
    } else if (key == "lease") {
        if (!ParseWhole(value, 3, 86400, number)) {
            error = "lease takes a whole number of seconds from 3 to 86400";
            return false;
        }
        config.leaseSeconds = static_cast<int>(number);
    } else {
        error = "unknown setting " + key;
        return false;
    }
    if (value.empty() && key != "sc") {
        error = key + " takes a value";
        return false;
    }
    return true;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool ReadConfigFile(const std::string& path, GatewayConfig& config, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read the configuration file " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string content = Trim(line);
        if (content.empty() || content[0] == '#') {
            continue;
        }
        const size_t equals = content.find('=');
        if (equals == std::string::npos) {
            error = path + ":" + std::to_string(number) + ": expected key = value";
            return false;
        }
        std::string reason;
        if (!Apply(Trim(content.substr(0, equals)), Trim(content.substr(equals + 1)), config,
                   reason)) {
            error = path + ":" + std::to_string(number) + ": " + reason;
            return false;
        }
    }
    return true;
}

std::string DefaultName(const GatewayConfig& config) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        std::snprintf(host, sizeof host, "gateway");
    }
    std::string where = config.device;
    const size_t slash = where.find_last_of('/');
    if (slash != std::string::npos) {
        where = where.substr(slash + 1);
    }
    if (config.port != 0) {
        where = "ttyS" + std::to_string(config.port - 1);
    }
    return where.empty() ? std::string(host) : std::string(host) + "-" + where;
}

}  // namespace

bool IsPostgresStore(const std::string& store) {
    return store.rfind("postgresql://", 0) == 0 || store.rfind("postgres://", 0) == 0;
}

std::string LibraryPath(const GatewayConfig& config) {
    if (!config.library.empty()) {
        return config.library;
    }
    const char* const fromEnvironment = std::getenv("TIDEWIRE_LIBRARY");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    // The soname: the loader looks in the program's own library folder (its run path) first.
    return TIDEWIRE_LIBRARY_NAME;
}

const char* GatewayUsage() {
    return kUsage;
}

bool LoadGatewayConfig(int argc, const char* const* argv, GatewayConfig& config,
                       std::string& error) {
    // The file first, wherever --config stands, so that the command line wins over it.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string_view(argv[i]) == "--config") {
            config.configFile = argv[i + 1];
            if (!ReadConfigFile(config.configFile, config, error)) {
                return false;
            }
        }
    }
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            config.mode = Mode::Help;
            return true;
        }
        if (argument == "--version" || argument == "-V") {
            config.mode = Mode::Version;
            return true;
        }
        if (argument == "--check") {
            config.mode = Mode::Check;
            continue;
        }
        if (argument == "--verbose") {
            config.verbose = true;
            continue;
        }
        if (argument.rfind("--", 0) != 0) {
            error = "unexpected argument " + argument + " (see --help)";
            return false;
        }
        const int wanted = argument == "--queue" ? 2 : 1;
        if (i + wanted >= argc) {
            error = argument + " needs " + (wanted == 2 ? "a NUMBER and a TEXT" : "a value");
            return false;
        }
        if (argument == "--queue") {
            config.mode = Mode::Queue;
            config.queueNumber = argv[i + 1];
            config.queueText = argv[i + 2];
        } else if (argument != "--config") {
            std::string reason;
            if (!Apply(argument.substr(2), argv[i + 1], config, reason)) {
                error = reason == "unknown setting " + argument.substr(2)
                            ? "unknown option " + argument + " (see --help)"
                            : "--" + reason;
                return false;
            }
        }
        i += wanted;
    }
    if (config.store.empty()) {
        error = "store takes an SQLite file or a postgresql:// URI";
        return false;
    }
    if (config.mode == Mode::Queue) {
        if (config.queueNumber.empty() || config.queueText.empty()) {
            error = "--queue needs a NUMBER and a TEXT that are not empty";
            return false;
        }
        return true;
    }
    if (config.device.empty() && config.port == 0) {
        error = "say where the module is: --device PATH or --port N";
        return false;
    }
    if (config.name.empty()) {
        config.name = DefaultName(config);
    }
    return true;
}

}  // namespace tidewire::gateway
