// What the command line and the gateway are told about their modem: where it is, how its line
// is set, the service centre, the library and the trace. The line settings have one set of names
// for both, the options' and the configuration file's, and only the names this system's serial
// driver can honour.
#ifndef TIDEWIRE_TOOLS_COMMON_MODEMSETTINGS_H
#define TIDEWIRE_TOOLS_COMMON_MODEMSETTINGS_H

#include <cstdint>
#include <string>

namespace tidewire::tools {

// The line in the library's codes: 115200 8N1, no flow control.
struct LineSettings {
    uint32_t baud = 115200;
    int32_t parity = 2;
    uint8_t dataBits = 8;
    int32_t stopBits = 0;
    int32_t flowControl = 0;
};

struct ModemSettings {
    // Where the module is: a device path, or a port number (COM<n>, /dev/ttyS<n-1>).
    std::string device;
    int32_t port = 0;
    LineSettings line;
    // "card": the SIM's own number; empty: none is passed.
    std::string serviceCentre = "card";
    // Empty: TIDEWIRE_LIBRARY from the environment, else the current edition's soname.
    std::string library;
    // Empty: no trace of the modem dialogue.
    std::string trace;
};

// A line setting as a user names it: its key ("parity"; the option is "--parity") and the name
// of its value in help texts.
struct LineSettingName {
    const char* key;
    const char* valueName;
};
constexpr LineSettingName kLineSettingNames[] = {
    {"baud", "N"}, {"data-bits", "N"}, {"parity", "P"}, {"stop-bits", "S"}, {"flow", "F"}};

// What the setting takes, for help texts and mistakes: "none, even, odd, mark or space".
std::string LineSettingChoices(const std::string& key);

// True when key names a line setting.
bool IsLineSetting(const std::string& key);

// Sets the line setting key from its user's value. False, touching nothing, with
// "<key> takes <choices>" in error when the value is not one it takes.
bool ApplyLineSetting(const std::string& key, const std::string& value, LineSettings& line,
                      std::string& error);

// A whole decimal number in [low, high]; anything else (a sign, blanks, a suffix) is refused.
bool ParseWhole(const std::string& text, long low, long high, long& value);

// The library to load: the chosen one, else TIDEWIRE_LIBRARY from the environment, else the
// current edition's soname, which the loader looks for in the program's own library folder
// (its run path: the build tree's or the installed one's) and then on its usual path.
std::string LibraryToLoad(const ModemSettings& settings);

}  // namespace tidewire::tools

#endif
