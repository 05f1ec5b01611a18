#include "DeliverPdu.h"

#include <stdexcept>

#include "GsmAlphabet.h"
#include "Utf8.h"

namespace tidewire::sim {

namespace {

constexpr std::uint8_t kMessageTypeDeliver = 0x00;
constexpr std::uint8_t kNoMoreMessages = 0x04;
constexpr std::uint8_t kUserDataHeader = 0x40;

// Per-part limits: 140 octets of user data, of which a concatenation header
// (length octet and one 8-bit-reference element) takes six.
constexpr std::size_t kSingleSeptets = 160;
constexpr std::size_t kPartSeptets = 153;
constexpr std::size_t kSingleOctets = 140;
constexpr std::size_t kPartOctets = 134;
constexpr std::size_t kMaxParts = 255;

struct Part {
    Bytes userData;                  // header included
    std::size_t userDataLength = 0;  // TP-UDL: septets for 7-bit, octets otherwise
};

Bytes ConcatHeader(std::uint8_t reference, std::size_t total, std::size_t sequence) {
    return Bytes{0x05,
                 0x00,
                 0x03,
                 reference,
                 static_cast<std::uint8_t>(total),
                 static_cast<std::uint8_t>(sequence)};
}

// Cuts a sequence into chunks of at most `limit` units; `mayEndAt` says whether a chunk may end
// before a given position (an escape and its code, or a surrogate pair, stay together).
template <typename Unit, typename Predicate>
std::vector<std::vector<Unit>> Cut(const std::vector<Unit>& units, std::size_t limit,
                                   Predicate mayEndBefore) {
    std::vector<std::vector<Unit>> chunks;
    std::size_t start = 0;
    while (start < units.size()) {
        std::size_t end = start + limit < units.size() ? start + limit : units.size();
        if (end < units.size() && end > start + 1 && !mayEndBefore(units, end)) {
            --end;
        }
        chunks.emplace_back(units.begin() + static_cast<std::ptrdiff_t>(start),
                            units.begin() + static_cast<std::ptrdiff_t>(end));
        start = end;
    }
    return chunks;
}

std::vector<Part> Gsm7Parts(const std::vector<std::uint8_t>& septets, std::uint8_t reference) {
    if (septets.size() <= kSingleSeptets) {
        return {Part{PackSeptets(septets, 0), septets.size()}};
    }
    const auto chunks = Cut(septets, kPartSeptets, [](const auto& all, std::size_t end) {
        return all[end - 1] != kGsmEscape;
    });
    std::vector<Part> parts;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        Part part;
        part.userData = ConcatHeader(reference, chunks.size(), i + 1);
        // Six header octets are 48 bits; one fill bit brings the text to a septet boundary.
        const Bytes packed = PackSeptets(chunks[i], 1);
        part.userData.insert(part.userData.end(), packed.begin(), packed.end());
        part.userDataLength = 7 + chunks[i].size();
        parts.push_back(std::move(part));
    }
    return parts;
}

Bytes Utf16Octets(const std::vector<std::uint16_t>& units) {
    Bytes octets;
    for (const std::uint16_t unit : units) {
        octets.push_back(static_cast<std::uint8_t>(unit >> 8));
        octets.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    return octets;
}

std::vector<Part> PartsWithHeaders(const std::vector<Bytes>& chunks, std::uint8_t reference) {
    std::vector<Part> parts;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        Part part;
        part.userData = ConcatHeader(reference, chunks.size(), i + 1);
        part.userData.insert(part.userData.end(), chunks[i].begin(), chunks[i].end());
        part.userDataLength = part.userData.size();
        parts.push_back(std::move(part));
    }
    return parts;
}

std::vector<Part> Ucs2Parts(const std::vector<std::uint16_t>& units, std::uint8_t reference) {
    if (units.size() * 2 <= kSingleOctets) {
        return {Part{Utf16Octets(units), units.size() * 2}};
    }
    // A part never ends on a high surrogate: it stays with its low half.
    const auto chunks = Cut(units, kPartOctets / 2, [](const auto& all, std::size_t end) {
        return (all[end - 1] & 0xFC00) != 0xD800;
    });
    std::vector<Bytes> octetChunks;
    for (const auto& chunk : chunks) {
        octetChunks.push_back(Utf16Octets(chunk));
    }
    return PartsWithHeaders(octetChunks, reference);
}

std::vector<Part> EightBitParts(const Bytes& octets, std::uint8_t reference) {
    if (octets.size() <= kSingleOctets) {
        return {Part{octets, octets.size()}};
    }
    const auto chunks = Cut(octets, kPartOctets, [](const Bytes&, std::size_t) { return true; });
    return PartsWithHeaders(chunks, reference);
}

}  // namespace

std::vector<std::string> BuildDeliverPdus(const IncomingMessage& message,
                                          const DeliverOptions& options) {
    const std::u32string text = DecodeUtf8(message.textUtf8);
    TextCoding coding = message.coding;
    std::optional<std::vector<std::uint8_t>> septets;
    if (coding == TextCoding::Auto || coding == TextCoding::Gsm7) {
        septets = EncodeGsm7(text);
        if (!septets && coding == TextCoding::Gsm7) {
            throw std::invalid_argument("the text has characters outside the GSM 7-bit alphabet");
        }
        coding = septets ? TextCoding::Gsm7 : TextCoding::Ucs2;
    }

    std::vector<Part> parts;
    std::uint8_t dcs = 0x00;
    if (coding == TextCoding::Gsm7) {
        parts = Gsm7Parts(*septets, options.concatReference);
    } else if (coding == TextCoding::Ucs2) {
        dcs = 0x08;
        parts = Ucs2Parts(ToUtf16(text), options.concatReference);
    } else {
        dcs = 0x04;
        parts = EightBitParts(Bytes(message.textUtf8.begin(), message.textUtf8.end()),
                              options.concatReference);
    }
    if (parts.empty()) {
        parts.push_back(Part{});  // an empty message is still one message
    }
    if (parts.size() > kMaxParts) {
        throw std::invalid_argument("the text needs more than 255 parts");
    }

    const Bytes serviceCentre = EncodeServiceCentre(message.serviceCentre);
    const Bytes sender = EncodeAddress(message.sender, message.alphanumericSender);
    const Bytes timestamp = EncodeTimestamp(message.timestamp.value_or(CurrentLocalTimestamp()));

    std::vector<std::string> pdus;
    for (const Part& part : parts) {
        Bytes pdu = serviceCentre;
        std::uint8_t firstOctet = kMessageTypeDeliver;
        if (!options.moreMessagesWaiting) {
            firstOctet |= kNoMoreMessages;
        }
        if (parts.size() > 1) {
            firstOctet |= kUserDataHeader;
        }
        pdu.push_back(firstOctet);
        pdu.insert(pdu.end(), sender.begin(), sender.end());
        pdu.push_back(0x00);  // TP-PID: plain short message
        pdu.push_back(dcs);
        pdu.insert(pdu.end(), timestamp.begin(), timestamp.end());
        pdu.push_back(static_cast<std::uint8_t>(part.userDataLength));
        pdu.insert(pdu.end(), part.userData.begin(), part.userData.end());
        pdus.push_back(BytesToHex(pdu));
    }
    return pdus;
}

std::optional<DeliverFields> DecodeDeliverPdu(std::string_view hex) {
    const auto bytes = HexToBytes(hex);
    if (!bytes) {
        return std::nullopt;
    }
    ByteReader reader(*bytes);
    DeliverFields fields;
    const auto serviceCentre = DecodeServiceCentre(reader);
    if (!serviceCentre) {
        return std::nullopt;
    }
    fields.serviceCentre = serviceCentre->number;
    const std::size_t tpduStart = reader.Position();
    if (!reader.Next(fields.firstOctet) || (fields.firstOctet & 0x03) != kMessageTypeDeliver) {
        return std::nullopt;
    }
    const auto sender = DecodeAddress(reader);
    if (!sender || !reader.Next(fields.pid) || !reader.Next(fields.dcs)) {
        return std::nullopt;
    }
    fields.sender = *sender;
    const auto alphabet = AlphabetOfDcs(fields.dcs);
    const auto timestamp = DecodeTimestamp(reader);
    if (!alphabet || !timestamp) {
        return std::nullopt;
    }
    fields.alphabet = *alphabet;
    fields.timestamp = *timestamp;
    const auto userData =
        DecodeUserData(reader, fields.alphabet, (fields.firstOctet & kUserDataHeader) != 0);
    if (!userData || reader.Remaining() != 0) {
        return std::nullopt;
    }
    fields.userData = *userData;
    fields.tpduLength = static_cast<int>(bytes->size() - tpduStart);
    return fields;
}

}  // namespace tidewire::sim
