#include "TeCharset.h"

#include "GsmAlphabet.h"
#include "HexText.h"
#include "Utf8.h"

namespace tidewire::sim {

std::optional<TeCharset> TeCharsetByName(std::string_view name) {
    const std::string upper = ToUpperAscii(name);
    if (upper == "IRA") {
        return TeCharset::Ira;
    }
    if (upper == "GSM") {
        return TeCharset::Gsm;
    }
    if (upper == "UCS2") {
        return TeCharset::Ucs2;
    }
    return std::nullopt;
}

std::string TeCharsetName(TeCharset charset) {
    switch (charset) {
        case TeCharset::Gsm:
            return "GSM";
        case TeCharset::Ucs2:
            return "UCS2";
        case TeCharset::Ira:
            break;
    }
    return "IRA";
}

std::vector<TeCharset> SupportedTeCharsets() {
    return {TeCharset::Ira, TeCharset::Gsm, TeCharset::Ucs2};
}

std::string EncodeTeText(std::string_view utf8, TeCharset charset) {
    const std::u32string text = DecodeUtf8(utf8);
    std::string out;
    switch (charset) {
        case TeCharset::Ira:
            for (const char32_t c : text) {
                out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
            }
            break;
        case TeCharset::Gsm:
            for (const char32_t c : text) {
                const auto septets = EncodeGsm7(std::u32string(1, c));
                if (septets) {
                    out.append(septets->begin(), septets->end());
                } else {
                    out.push_back('?');
                }
            }
            break;
        case TeCharset::Ucs2: {
            Bytes octets;
            for (const std::uint16_t unit : ToUtf16(text)) {
                octets.push_back(static_cast<std::uint8_t>(unit >> 8));
                octets.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            }
            out = BytesToHex(octets);
            break;
        }
    }
    return out;
}

std::optional<std::string> DecodeTeText(std::string_view raw, TeCharset charset) {
    switch (charset) {
        case TeCharset::Ira:
            return Latin1ToUtf8(raw);
        case TeCharset::Gsm: {
            std::vector<std::uint8_t> septets;
            for (const char c : raw) {
                septets.push_back(static_cast<std::uint8_t>(c) & 0x7F);
            }
            return EncodeUtf8(DecodeGsm7(septets));
        }
        case TeCharset::Ucs2: {
            if (raw.size() % 4 != 0) {
                return std::nullopt;
            }
            const auto octets = HexToBytes(raw);
            if (!octets) {
                return std::nullopt;
            }
            std::vector<std::uint16_t> units;
            for (std::size_t i = 0; i + 1 < octets->size(); i += 2) {
                units.push_back(static_cast<std::uint16_t>(((*octets)[i] << 8) | (*octets)[i + 1]));
            }
            return EncodeUtf8(FromUtf16(units));
        }
    }
    return std::nullopt;
}

}  // namespace tidewire::sim
