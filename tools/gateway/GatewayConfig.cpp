#include "GatewayConfig.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "tidewire_version.h"

namespace tidewire::gateway {

namespace {

// Up to the line settings.
constexpr const char* kUsageHead =
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
    "Line settings (default 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control):\n";
// After the line settings, which GatewayUsage lists from the shared table.
constexpr const char* kUsageTail =
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

using tools::ParseWhole;

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
        config.modem.device = value;
        config.modem.port = 0;
    } else if (key == "port") {
        if (!ParseWhole(value, 1, 256, number)) {
            error = "port takes a number from 1 to 256";
            return false;
        }
        config.modem.port = static_cast<int32_t>(number);
        config.modem.device.clear();
    } else if (tools::IsLineSetting(key)) {
        if (!tools::ApplyLineSetting(key, value, config.modem.line, error)) {
            return false;
        }
    } else if (key == "sc") {
        config.modem.serviceCentre = value;
    } else if (key == "store") {
        config.store = value;
    } else if (key == "name") {
        config.name = value;
    } else if (key == "library") {
        config.modem.library = value;
    } else if (key == "trace") {
        config.modem.trace = value;
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
    std::string where = config.modem.device;
    const size_t slash = where.find_last_of('/');
    if (slash != std::string::npos) {
        where = where.substr(slash + 1);
    }
    if (config.modem.port != 0) {
        where = "ttyS" + std::to_string(config.modem.port - 1);
    }
    return where.empty() ? std::string(host) : std::string(host) + "-" + where;
}

}  // namespace

bool IsPostgresStore(const std::string& store) {
    return store.rfind("postgresql://", 0) == 0 || store.rfind("postgres://", 0) == 0;
}

std::string GatewayUsage() {
    // The line settings with the names this system's serial driver honours, as the command line
    // lists them.
    std::string lines;
    for (const tools::LineSettingName& setting : tools::kLineSettingNames) {
        char line[160];
        const std::string option = std::string(setting.key) + " " + setting.valueName;
        std::snprintf(line, sizeof line, "  --%-17s%s\n", option.c_str(),
                      tools::LineSettingChoices(setting.key).c_str());
        lines += line;
    }
    return kUsageHead + lines + kUsageTail;
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
    if (config.modem.device.empty() && config.modem.port == 0) {
        error = "say where the module is: --device PATH or --port N";
        return false;
    }
    if (config.name.empty()) {
        config.name = DefaultName(config);
    }
    return true;
}

}  // namespace tidewire::gateway
