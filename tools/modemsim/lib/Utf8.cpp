#include "Utf8.h"

namespace tidewire::sim {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

}  // namespace

std::u32string DecodeUtf8(std::string_view text) {
    std::u32string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t value = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            value = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            value = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            value = lead & 0x07;
            minimum = 0x10000;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::size_t consumed = 1;
        bool valid = true;
        for (; consumed < length; ++consumed) {
            if (i + consumed >= text.size() ||
                !IsContinuation(static_cast<unsigned char>(text[i + consumed]))) {
                valid = false;
                break;
            }
            value = (value << 6) | (static_cast<unsigned char>(text[i + consumed]) & 0x3F);
        }
        if (!valid || value < minimum || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
            out.push_back(kReplacement);
            i += consumed;
            continue;
        }
        out.push_back(value);
        i += length;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint < 0xE000)) {
        codePoint = kReplacement;
    }
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

std::string EncodeUtf8(std::u32string_view codePoints) {
    std::string out;
    for (const char32_t c : codePoints) {
        AppendUtf8(out, c);
    }
    return out;
}

std::vector<std::uint16_t> ToUtf16(std::u32string_view codePoints) {
    std::vector<std::uint16_t> units;
    for (char32_t c : codePoints) {
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
            c = kReplacement;
        }
        if (c < 0x10000) {
            units.push_back(static_cast<std::uint16_t>(c));
        } else {
            const char32_t v = c - 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 | (v >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 | (v & 0x3FF)));
        }
    }
    return units;
}

std::u32string FromUtf16(const std::vector<std::uint16_t>& units) {
    std::u32string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint16_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00) {
            if (i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
                out.push_back(0x10000 + ((static_cast<char32_t>(unit - 0xD800) << 10) |
                                         static_cast<char32_t>(units[i + 1] - 0xDC00)));
                ++i;
            } else {
                out.push_back(kReplacement);
            }
        } else if (unit >= 0xDC00 && unit < 0xE000) {
            out.push_back(kReplacement);
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    for (const char b : bytes) {
        AppendUtf8(out, static_cast<unsigned char>(b));
    }
    return out;
}

}  // namespace tidewire::sim
