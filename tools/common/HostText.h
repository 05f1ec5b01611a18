// Texts between the terminal's character set, which the library and the user speak, and UTF-8,
// which JSON and the shared error table are written in.
#ifndef TIDEWIRE_TOOLS_COMMON_HOSTTEXT_H
#define TIDEWIRE_TOOLS_COMMON_HOSTTEXT_H

#include <string>
#include <string_view>

namespace tidewire::tools {

// The codeset the library uses for texts in this process: the locale's, or UTF-8 when the
// locale is plain ASCII (as the library decides it).
std::string HostCodeset();

// Converts between the host codeset and UTF-8. A byte sequence that does not convert becomes
// U+FFFD (or '?' in the host codeset), so no text is lost whole for one bad byte.
std::string HostToUtf8(std::string_view host);
std::string Utf8ToHost(std::string_view utf8);

}  // namespace tidewire::tools

#endif
