#include "HostText.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <cerrno>

namespace tidewire::tools {

namespace {

bool IsUtf8(const std::string& codeset) {
    return strcasecmp(codeset.c_str(), "UTF-8") == 0 || strcasecmp(codeset.c_str(), "UTF8") == 0;
}

std::string Convert(std::string_view text, const char* to, const char* from,
                    std::string_view replacement) {
    const iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return std::string(text);
    }
    std::string out;
    char buffer[256];
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char* next = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(converter, &in, &inLeft, &next, &outLeft);
        out.append(buffer, static_cast<size_t>(next - buffer));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            // An invalid or cut sequence: one byte is replaced and the rest goes on.
            out.append(replacement);
            ++in;
            --inLeft;
        }
    }
    iconv_close(converter);
    return out;
}

}  // namespace

std::string HostCodeset() {
    const std::string codeset = nl_langinfo(CODESET);
    for (const char* ascii : {"", "ANSI_X3.4-1968", "ASCII", "US-ASCII", "646"}) {
        if (strcasecmp(codeset.c_str(), ascii) == 0) {
            return "UTF-8";
        }
    }
    return codeset;
}

std::string HostToUtf8(std::string_view host) {
    const std::string codeset = HostCodeset();
    return Convert(host, "UTF-8", codeset.c_str(), "\xEF\xBF\xBD");
}

std::string Utf8ToHost(std::string_view utf8) {
    const std::string codeset = HostCodeset();
    if (IsUtf8(codeset)) {
        return std::string(utf8);
    }
    return Convert(utf8, codeset.c_str(), "UTF-8", "?");
}

}  // namespace tidewire::tools
