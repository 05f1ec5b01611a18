#include "ModemSettings.h"

#include <termios.h>

#include <cerrno>
#include <cstdlib>

#include "tidewire_version.h"

namespace tidewire::tools {

namespace {

struct NamedCode {
    const char* name;
    int32_t code;
};

// Only what this system's serial driver can set is offered: the library would refuse the rest
// when the port is opened (termios has one and two stop bits only, mark and space parity only
// with CMSPAR, and no handshake on DTR or DSR). The codes are the library's.
constexpr NamedCode kParities[] = {{"none", 2},
                                   {"even", 0},
                                   {"odd", 3},
#ifdef CMSPAR
                                   {"mark", 1},
                                   {"space", 4}
#endif
};
constexpr NamedCode kStopBits[] = {{"1", 0}, {"2", 2}};
constexpr NamedCode kFlows[] = {{"none", 0},
#ifdef CRTSCTS
                                {"rtscts", 1},
#endif
                                {"xonxoff", 5}};

template <size_t N>
std::string Choices(const NamedCode (&table)[N]) {
    std::string list;
    for (size_t i = 0; i < N; ++i) {
        list += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::string(table[i].name);
    }
    return list;
}

template <size_t N>
bool FindCode(const std::string& name, const NamedCode (&table)[N], int32_t& code) {
    for (const NamedCode& entry : table) {
        if (name == entry.name) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string LineSettingChoices(const std::string& key) {
    if (key == "baud") {
        return "a rate such as 9600 or 115200";
    }
    if (key == "data-bits") {
        return "5, 6, 7 or 8";
    }
    if (key == "parity") {
        return Choices(kParities);
    }
    if (key == "stop-bits") {
        return Choices(kStopBits);
    }
    if (key == "flow") {
        return Choices(kFlows);
    }
    return std::string();
}

bool IsLineSetting(const std::string& key) {
    for (const LineSettingName& setting : kLineSettingNames) {
        if (key == setting.key) {
            return true;
        }
    }
    return false;
}

bool ApplyLineSetting(const std::string& key, const std::string& value, LineSettings& line,
                      std::string& error) {
    long number = 0;
    bool taken = false;
    if (key == "baud") {
        taken = ParseWhole(value, 50, 4000000, number);
        if (taken) {
            line.baud = static_cast<uint32_t>(number);
        }
    } else if (key == "data-bits") {
        taken = ParseWhole(value, 5, 8, number);
        if (taken) {
            line.dataBits = static_cast<uint8_t>(number);
        }
    } else if (key == "parity") {
        taken = FindCode(value, kParities, line.parity);
    } else if (key == "stop-bits") {
        taken = FindCode(value, kStopBits, line.stopBits);
    } else if (key == "flow") {
        taken = FindCode(value, kFlows, line.flowControl);
    }
    if (!taken) {
        error = key + " takes " + LineSettingChoices(key);
    }
    return taken;
}

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

std::string LibraryToLoad(const ModemSettings& settings) {
    if (!settings.library.empty()) {
        return settings.library;
    }
    const char* const fromEnvironment = std::getenv("TIDEWIRE_LIBRARY");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    return TIDEWIRE_LIBRARY_NAME;
}

}  // namespace tidewire::tools
