#include "CdmaMessages.h"

#include <cstdio>
#include <stdexcept>

#include "Utf8.h"

namespace tidewire::sim {

namespace {

bool IsAscii(std::u32string_view text) {
    for (const char32_t c : text) {
        if (c > 0x7F) {
            return false;
        }
    }
    return true;
}

std::string Utf16Bytes(std::string_view utf8) {
    std::string bytes;
    for (const std::uint16_t unit : ToUtf16(DecodeUtf8(utf8))) {
        bytes.push_back(static_cast<char>(unit >> 8));
        bytes.push_back(static_cast<char>(unit & 0xFF));
    }
    return bytes;
}

}  // namespace

std::vector<std::string> BuildCdmaDelivery(const IncomingMessage& message,
                                           const DeliverOptions& options) {
    if (message.alphanumericSender) {
        throw std::invalid_argument("a CDMA network delivers from numbers only");
    }
    const std::u32string text = DecodeUtf8(message.textUtf8);
    IncomingMessage cdma = message;
    if (message.coding == TextCoding::Gsm7 && !IsAscii(text)) {
        throw std::invalid_argument("CDMA 7-bit text is plain ASCII");
    }
    // Non-ASCII text would go out as 7-bit GSM text when the GSM alphabet has its characters,
    // but a CDMA network carries it as Unicode.
    if (message.coding == TextCoding::Auto && !IsAscii(text)) {
        cdma.coding = TextCoding::Ucs2;
    }
    // One GSM part holds exactly what one CDMA message does: 160 septets, 70 UCS-2 units.
    const std::vector<std::string> pdus = BuildDeliverPdus(cdma, options);
    if (pdus.size() != 1) {
        throw std::invalid_argument(
            "one CDMA message carries at most 160 ASCII characters (fewer with any of "
            "[\\]^{|}~`) or 70 others");
    }
    return pdus;
}

std::optional<CdmaMessage> ReadCdmaMessage(const StoredMessage& stored) {
    const auto fields = DecodeDeliverPdu(stored.pduHex);
    if (!fields) {
        return std::nullopt;
    }
    CdmaMessage message;
    message.sender = fields->sender.number;
    message.time = fields->timestamp;
    switch (fields->alphabet) {
        case Alphabet::Gsm7: {
            message.encoding = kCdmaAscii;
            // A hand-made PDU may hold GSM characters that ASCII lacks; modules show '?'.
            for (const char32_t c : DecodeUtf8(fields->userData.textUtf8)) {
                message.body.push_back(c <= 0x7F ? static_cast<char>(c) : '?');
            }
            message.length = message.body.size();
            break;
        }
        case Alphabet::Ucs2:
            message.encoding = kCdmaUnicode;
            message.body = Utf16Bytes(fields->userData.textUtf8);
            message.length = message.body.size() / 2;
            break;
        case Alphabet::EightBit:
            message.encoding = kCdmaOctets;
            message.body = fields->userData.textUtf8;  // the octets after any header
            message.length = message.body.size();
            break;
    }
    return message;
}

std::string SlashedTime(const Timestamp& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
    return text;
}

std::string DigitTime(const Timestamp& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
    return text;
}

std::optional<std::string> Ucs2BytesToUtf8(std::string_view bytes) {
    if (bytes.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        units.push_back(static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[i]) << 8) |
                                                   static_cast<unsigned char>(bytes[i + 1])));
    }
    return EncodeUtf8(FromUtf16(units));
}

}  // namespace tidewire::sim
