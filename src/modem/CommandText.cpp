#include "modem/CommandText.h"

#include <cstring>

namespace tidewire {

bool FitsQuotedArgument(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == '"' || c == ',' || c == 0x7F) {
            return false;
        }
    }
    return true;
}

bool FitsNumberArgument(const char* text, size_t length) {
    return FitsQuotedArgument(text, length) && std::memchr(text, ';', length) == nullptr;
}

bool FitsMessageBody(const char* text, size_t length) {
    return std::memchr(text, 0x1A, length) == nullptr && std::memchr(text, 0x1B, length) == nullptr;
}

}  // namespace tidewire
