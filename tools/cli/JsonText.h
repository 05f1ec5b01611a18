// JSON string literals for the --json output. Texts are passed through byte for byte, so the
// output is valid JSON when the terminal's character set is UTF-8, as JSON requires.
#ifndef TIDEWIRE_TOOLS_CLI_JSONTEXT_H
#define TIDEWIRE_TOOLS_CLI_JSONTEXT_H

#include <cstdio>
#include <string>
#include <string_view>

namespace tidewire::cli {

// text in double quotes, with the quote, the backslash and every control byte escaped.
inline std::string JsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8] = {};
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

}  // namespace tidewire::cli

#endif
